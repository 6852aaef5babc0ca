#pragma once
// The panel that shows one camera. It owns the camera's capture and writer threads, holds the
// hand-over structures between them and the GUI thread, paints every frame with an optional
// subtitle line and journals the frame counts when it is closed.

#include "camera/frame_item.h"
#include "camera/pipeline_rules.h"
#include "camera/subtitle_burner.h"
#include "position/track_position.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <opencv2/core/mat.hpp>
#include <wx/config.h>
#include <wx/msgqueue.h>
#include <wx/panel.h>

class camera_thread;
class coord_client;
class writer_thread;

class camera_screen : public wxPanel {
public:
    // GUI thread. Opens the camera's stream (the window waits at most about 5 seconds for it),
    // creates the trip folder and starts both threads. `config` is read here only.
    camera_screen(wxWindow* parent, coord_client* coord, wxConfigBase* config,
                  const wxString& camera_name);
    // Stops the capture thread, then the writer thread (which writes what is queued), then
    // journals the counts of frames received and written.
    ~camera_screen() override;

    int32_t received_count() const { return frames_received; }
    int32_t written_count() const { return frames_written; }

private:
    friend class camera_thread;
    friend class writer_thread;

    void read_subtitle_settings(const wxConfigBase& config);
    subtitle_style writer_subtitles() const;
    void start_threads(coord_client* coord, const wxConfigBase& config,
                       const wxString& camera_name);
    void stop_capture();
    void stop_writer();
    // Called by each thread's destructor, on whichever thread runs it.
    void capture_ended();
    void writer_ended(int32_t frames_in_files, const wxString& late_failure);

    void on_frame(wxThreadEvent& event);
    void on_camera_error(wxThreadEvent& event);
    void on_camera_info(wxThreadEvent& event);
    void on_writer_progress(wxThreadEvent& event);
    void on_writer_error(wxThreadEvent& event);
    void paint_display_slot();
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

    cv::Mat display_frame;          // guarded by display_lock
    TrackPosition display_position; // guarded by display_lock
    // Set when a frame is published, cleared when it is painted: events that find no new frame
    // (the GUI thread fell behind) are counted but do not paint the same picture again.
    bool display_fresh = false; // guarded by display_lock
    // Frames put in the display slot since the GUI thread last looked, and whether a frame
    // event is on its way: one event at a time, so a slow GUI thread is never flooded.
    int32_t frames_unseen = 0;                    // guarded by display_lock
    bool frame_event_pending = false;             // guarded by display_lock
    std::deque<frame_item> frame_queue;           // guarded by frame_queue_lock
    queue_budget frame_budget{frame_queue_limit}; // guarded by frame_queue_lock

    int32_t frames_received = 0;
    int32_t frames_written = 0;   // guarded by writer_guard once the writer has ended
    wxString writer_late_failure; // guarded by writer_guard; set as the writer ends
    int64_t start_time = 0;
    int64_t end_time = 0;
    wxMessageQueue<uint64_t> writer_queue;
};
