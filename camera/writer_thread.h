#pragma once
// The writer thread of one camera: takes the frames its capture thread queued, burns the
// subtitle in when asked and hands them to the file writer. Ends after the capture thread's
// stop command 0, once everything queued has been written.

#include "camera/frame_item.h"
#include "camera/subtitle_burner.h"
#include "recording/space_floor.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <wx/config.h>
#include <wx/thread.h>

class camera_feed;
class video_file_writer_basic;

class writer_thread : public wxThread {
public:
    // GUI thread: reads the recording settings, creates the file writer and opens it (this
    // makes the trip folder). `subtitles` is this thread's own copy of the subtitle settings.
    writer_thread(camera_feed& feed, const wxConfigBase& config, const wxString& camera_name,
                  const subtitle_style& subtitles);
    // Finishes the files and the index, then tells the feed that the thread is gone.
    ~writer_thread() override;

    // Where this camera's trip is recorded; set at construction, never changed.
    const wxString& trip_folder() const { return folder; }

private:
    ExitCode Entry() override;

    void write_batch();
    void write_one(const frame_item& item);
    // Whether frames may go to the file writer now: the trip folder stands and the disk has
    // room above the floor. Frames that may not are dropped uncounted.
    bool may_write();
    // A trip folder missing since the opening is made again, at most every retry interval.
    bool trip_folder_ready();
    // Reads the free space at most once a second and stops or resumes the recording.
    void watch_free_space();
    // Counts the frames that reached a file.
    void note_written(std::size_t frames);
    // The file writer's failure and recovery rows, for the journal.
    void post_writer_rows();
    // How long the file writer has spent forcing data to the disk, for whoever measures it.
    void publish_sync_totals();

    std::shared_ptr<video_file_writer_basic> writer;
    wxString folder;
    camera_feed& feed;
    std::deque<frame_item> batch;
    subtitle_style subtitles;
    subtitle_burner burner;

    using clock = std::chrono::steady_clock;
    wxString write_path;
    // The trip folder could not be made at the opening (a removable disk not mounted yet).
    bool folder_missing = false;
    clock::time_point next_folder_attempt;
    space_floor floor;
    clock::time_point next_space_check;
};
