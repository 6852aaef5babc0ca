#pragma once
// The capture thread of one camera: reads the stream, asks the coordinate server where the car
// is, publishes every frame to its screen's display slot and queues the frames chosen by the
// write step for the writer thread. It never touches a window; it talks to the GUI thread by
// events.

#include "camera/pipeline_rules.h"
#include "media/video_frame.h"

#include <chrono>
#include <cstdint>
#include <opencv2/videoio.hpp>
#include <string>
#include <wx/config.h>
#include <wx/msgqueue.h>
#include <wx/thread.h>

class camera_screen;
class coord_client;

class camera_thread : public wxThread {
public:
    // GUI thread: reads the settings of this camera ("Котел": front_ keys, any other name:
    // back_ keys), opens the stream and journals the outcome. Does not start the thread.
    camera_thread(camera_screen* screen, coord_client* coord, const wxConfigBase& config,
                  const wxString& camera_name, wxMessageQueue<uint64_t>* writer_queue);
    // Runs on the thread that ends the entry (for a detached thread on wxGTK: this worker);
    // tells the screen, under its capture_guard, that the thread is gone.
    ~camera_thread() override;

private:
    ExitCode Entry() override;

    bool open_stream();
    // The journal row of an open stream: URL (password masked), rate, codec and size.
    wxString opened_row();
    // Waits out the pause between reopening attempts; false when asked to stop meanwhile.
    bool reopen_pause_over();
    void try_reopen();
    void on_stream_lost();
    void handle_frame(const media::video_frame& frame);
    TrackPosition locate_frame();
    // True when the screen must be told: no frame event is on its way yet.
    bool publish_for_display(const media::video_frame& frame, const TrackPosition& position);
    void queue_for_writer(const media::video_frame& frame, const TrackPosition& position);
    void report_finished_drops(bool finished);

    cv::VideoCapture capture;
    write_step_selector write_step;
    camera_screen* screen;
    std::string url;
    coord_client* coord;
    double coordinate_offset;
    frame_numbering numbering;
    wxMessageQueue<uint64_t>* writer_queue;
    // Reopening state: a lost stream is reported once and retried until the pane closes.
    bool stream_lost = false;
    std::chrono::steady_clock::time_point next_open_attempt;
};
