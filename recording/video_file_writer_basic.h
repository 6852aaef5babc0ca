#pragma once
// What the writer thread hands its frames to: a video writer or an image writer. Each
// records one trip into one trip folder of its own.

#include "media/encoded_packet.h"
#include "media/video_frame.h"
#include "position/track_position.h"
#include "recording/frame_index.h"
#include "trip_format/trip_write_mark.h"

#include <chrono>
#include <cstddef>
#include <memory>
#include <vector>
#include <wx/filename.h>
#include <wx/string.h>

// A journal row a writer asks for: the start of a failure episode (red) or its end (blue).
struct writer_row {
    bool failure = false;
    wxString text;
};

class video_file_writer_basic {
public:
    // While files cannot be written, a new file is tried at most this often.
    static constexpr std::chrono::milliseconds default_retry_interval{5000};
    // What was written is forced onto the disk at least this often, the index right after the
    // frames it lists: a power cut costs about this much recording.
    static constexpr std::chrono::milliseconds default_sync_interval{1000};

    // Makes the trip folder under write_path and asks for the row that tells of it (take_rows):
    // where the trip is recorded, or red, the folder that could not be made. False then.
    virtual bool open(const wxString& write_path) = 0;
    // Finishes the current video file and saves the index. Returns how many frames reached the
    // file only now (an encoder that held some back); the image writers have nothing to finish.
    virtual std::size_t close() = 0;
    // One picture with its position. Returns how many frames reached a file with this call:
    // 0 when the frame was dropped (failure() then tells why), usually 1, more when an encoder
    // hands on frames it held back.
    virtual std::size_t write(const media::video_frame& picture, const TrackPosition& position) = 0;
    // The same frame as the camera's own packets, for a recording that copies the stream;
    // writers that cannot copy record the picture.
    virtual std::size_t write_copied(const media::video_frame& picture,
                                     const std::vector<media::encoded_packet>& packets,
                                     const TrackPosition& position) {
        (void)packets;
        return write(picture, position);
    }
    // Whether pictures reach this writer best in full range (JPEG levels), so that whoever
    // makes a private copy of a picture makes it in that range.
    virtual bool wants_full_range() const { return false; }

    // The trip folder that open made; GUI thread, before the writer thread runs.
    virtual wxString trip_folder() const = 0;

    // Marks the trip folder as being written until close() ends the trip cleanly. open() does it;
    // call it for a trip folder made later.
    void mark_trip();
    // Forces the frames written so far and then the index that lists them onto the disk when
    // the sync interval has passed. Every write does it; the writer thread also calls it while
    // no frames come, so the last ones do not wait for the next.
    void keep_durable();
    // The sync interval; 0 syncs after every frame. It is also the index's save interval.
    void set_index_save_interval(std::chrono::milliseconds interval) { sync_interval = interval; }
    // How long forcing data to the disk has taken so far, and how often it was done.
    std::chrono::nanoseconds time_syncing() const { return sync_time; }
    uint64_t syncs() const { return sync_count; }

    // The text of the last failure, ready for a journal row.
    const wxString& failure() const { return last_failure; }
    // The journal rows asked for since the last call.
    std::vector<writer_row> take_rows();

    void set_retry_interval(std::chrono::milliseconds interval) { retry_interval = interval; }

    // The disk is nearly full: finishes the file under way and asks for the red row `reason`.
    // Returns how many frames reached the file only now. Pictures written after resume_writing
    // start a new file and end the episode with a blue row, as after a failed write.
    std::size_t stop_writing(const wxString& reason);
    // Lets the next picture try its file at once.
    void resume_writing();

protected:
    ~video_file_writer_basic() = default;
    // What every writer's open does: makes the trip folder, points `target` at it and the index
    // at data.idx in it, and asks for the row that tells of it. False when the folder could not
    // be made.
    bool open_trip(wxFileName& target, FrameIndex& index, const wxString& write_path,
                   const wxString& camera_name);
    // Asks for a journal row: red when `failure`.
    void ask_row(bool failure, const wxString& text) { rows.push_back({failure, text}); }
    // Finishes the file being written, returning the frames that reached it only now; writers
    // of one file per frame have none open between frames.
    virtual std::size_t finish_current_file() { return 0; }
    // A file could not be written: the first failure of an episode asks for a red row.
    void set_failure(const wxString& text);
    // A frame reached `file`: ends a failure episode with a blue row.
    void note_written(const wxString& file);
    // Whether to try a file now: always while all is well, at most every retry interval while
    // failing, so that a full disk is not hammered with every frame.
    bool may_try() const;
    // Call after every save of the index (an add may save it too): the first failed save of a
    // run of failures asks for a red row; the next save tries again.
    void note_index_state(const FrameIndex& index);
    // Forces what was written to the disk, then saves the index. False when either failed.
    virtual bool make_durable() = 0;
    // The trip ended: when `cleanly` (every file finished, the index saved) the mark goes;
    // otherwise it stays behind for the repair at the next start.
    void end_trip(bool cleanly);

private:
    using clock = std::chrono::steady_clock;

    wxString last_failure;
    std::vector<writer_row> rows;
    bool failing = false;
    clock::time_point failed_at;
    std::chrono::milliseconds retry_interval = default_retry_interval;
    bool index_failing = false;
    std::unique_ptr<trip_format::trip_write_mark> mark;
    std::chrono::milliseconds sync_interval = default_sync_interval;
    clock::time_point last_sync = clock::now();
    std::chrono::nanoseconds sync_time{0};
    uint64_t sync_count = 0;
};
