#pragma once
// The panel that shows one camera. It owns the camera's capture and writer threads, holds the
// hand-over structures between them and the GUI thread, paints every frame with an optional
// subtitle line and journals the frame counts when it is closed.

#include "camera/camera_progress.h"
#include "camera/frame_item.h"
#include "camera/pipeline_rules.h"
#include "camera/subtitle_burner.h"
#include "position/track_position.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>
#include <wx/config.h>
#include <wx/msgqueue.h>
#include <wx/panel.h>

class camera_thread;
class coord_client;
class writer_thread;

class camera_screen : public wxPanel {
public:
    // GUI thread. Creates the trip folder and starts both threads; the capture thread opens the
    // camera's stream, so the pane never waits for the camera. `config` is read here only.
    camera_screen(wxWindow* parent, coord_client* coord, wxConfigBase* config,
                  const wxString& camera_name);
    // Stops the capture thread, then the writer thread (which writes what is queued), then
    // journals the counts of frames received and written.
    ~camera_screen() override;

    int32_t received_count() const { return frames_received; }
    int32_t written_count() const { return frames_written; }
    // How long the writer has spent forcing files to the disk, and how often; any thread.
    std::chrono::nanoseconds time_syncing() const {
        return std::chrono::nanoseconds(syncing_ns.load());
    }
    uint64_t sync_count() const { return syncs_done.load(); }
    // The most picture bytes that waited for the writer at once.
    std::size_t queue_peak_bytes() const;
    // Pictures drawn in the pane: none while nobody can see it.
    int32_t painted_count() const { return pictures_painted; }
    // What a mark records: the position of the latest frame (nothing before the first one),
    // the subtitle template and the trip folder.
    std::optional<TrackPosition> displayed_position() const;
    const wxString& subtitle_format() const { return format_subs; }
    const wxString& trip_folder() const { return trip_path; }
    // GUI thread: what the status line tells of this camera.
    camera_progress progress() const;

    // GUI thread: called with the trip folder once the pane has closed and its writer has
    // saved everything, so that whoever keeps the recordings can take the trip in.
    void when_trip_finished(std::function<void(const wxString& trip_folder)> handler) {
        trip_finished = std::move(handler);
    }

    // Writer thread: the disk is at its floor and nothing is recorded, or it has room again.
    void set_recording_stopped(bool stopped) { recording_stopped = stopped; }

    // Any thread: a journal row (red when `error`) for the GUI thread to write. Rows still on
    // their way when the pane closes are written as it closes, never lost.
    void post_journal_row(bool error, const wxString& text);

private:
    friend class camera_thread;
    friend class writer_thread;

    void read_subtitle_settings(const wxConfigBase& config);
    subtitle_style writer_subtitles() const;
    void start_threads(coord_client* coord, const wxConfigBase& config,
                       const wxString& camera_name);
    void stop_capture();
    void stop_writer();
    // Journals the rows the threads posted before they ended.
    // Called by each thread's destructor, on whichever thread runs it.
    void capture_ended();
    void writer_ended(int32_t frames_in_files);

    void on_frame(wxThreadEvent& event);
    void on_camera_error(wxThreadEvent& event);
    void on_camera_info(wxThreadEvent& event);
    void on_writer_progress(wxThreadEvent& event);
    void write_posted_rows();
    void paint_display_slot();
    bool can_be_seen() const;
    void take_unseen_frames(); // under display_lock

    // Both pointers are cleared by their thread's destructor, so the screen never stops a
    // thread object that has already destroyed itself. Re-entrant because a toolkit that runs
    // the destructor inside Delete() runs it on the GUI thread, which already holds the guard.
    camera_thread* capture_worker = nullptr; // guarded by capture_guard
    writer_thread* writer_worker = nullptr;  // guarded by writer_guard
    std::recursive_mutex capture_guard;
    std::recursive_mutex writer_guard;
    // Signalled, under the guard concerned, when a thread has cleared its pointer.
    std::condition_variable_any worker_ended;

    // Subtitle settings, set once at construction; the writer thread has its own copy.
    bool show_subs = true;
    bool hard_subs = true;
    wxString format_subs;
    wxString subs_font_description;
    wxColour subs_color;
    wxFont subs_font;
    int subs_position = 0;
    // The picture last painted, at the pane's size, and the conversion's scratch; GUI thread
    // only, kept so that painting allocates no pixels.
    cv::Mat painted;
    cv::Mat paint_scratch;
    int32_t pictures_painted = 0;

    media::video_frame display_frame; // guarded by display_lock
    TrackPosition display_position;   // guarded by display_lock
    // When the last frame and the last fix came, and where (not what was written).
    camera_progress live_progress; // guarded by display_lock
    std::atomic<bool> recording_stopped{false};
    // Set when a frame is published, cleared when it is painted: events that find no new frame
    // (the GUI thread fell behind) are counted but do not paint the same picture again.
    bool display_fresh = false; // guarded by display_lock
    // Frames put in the display slot since the GUI thread last looked, and whether a frame
    // event is on its way: one event at a time, so a slow GUI thread is never flooded.
    int32_t frames_unseen = 0;                    // guarded by display_lock
    bool frame_event_pending = false;             // guarded by display_lock
    std::deque<frame_item> frame_queue;           // guarded by frame_queue_lock
    queue_budget frame_budget{frame_queue_limit}; // guarded by frame_queue_lock

    struct journal_row {
        bool error;
        wxString text;
    };
    // This screen's own hand-off; never held with another lock.
    std::mutex rows_lock;
    std::vector<journal_row> posted_rows; // guarded by rows_lock

    int32_t frames_received = 0;
    int32_t frames_written = 0; // guarded by writer_guard once the writer has ended
    // Published by the writer thread as it syncs.
    std::atomic<int64_t> syncing_ns{0};
    std::atomic<uint64_t> syncs_done{0};
    wxString trip_path;
    std::function<void(const wxString& trip_folder)> trip_finished;
    int64_t start_time = 0;
    int64_t end_time = 0;
    wxMessageQueue<uint64_t> writer_queue;
};
