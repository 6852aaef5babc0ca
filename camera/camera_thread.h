#pragma once
// The capture thread of one camera: opens and reads the stream, asks the coordinate server where
// the car is, publishes every frame to its camera_feed and queues the frames chosen by the write
// step for the writer thread. It knows no window: whoever shows the camera observes the feed.

#include "camera/pipeline_rules.h"
#include "media/stream_reader.h"
#include "media/video_frame.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>
#include <wx/config.h>
#include <wx/thread.h>

class camera_feed;
class coord_client;

class camera_thread : public wxThread {
public:
    // GUI thread: reads the settings of this camera ("Котел": front_ keys, any other name:
    // back_ keys). Opening the stream is the thread's first task, so this never waits for the
    // camera. `copy_stream`: the recording copies an H.264 camera's packets into its files, so
    // every queued frame carries the packets it was decoded from.
    camera_thread(camera_feed& feed, coord_client* coord, const wxConfigBase& config,
                  const wxString& camera_name, bool copy_stream);
    // Runs on the thread that ends the entry (for a detached thread on wxGTK: this worker);
    // closes the stream and tells the feed that the thread is gone.
    ~camera_thread() override;

    // Any thread: ends a wait for the camera at once. The pane calls it before Delete().
    void request_stop() { reader.request_stop(); }

private:
    ExitCode Entry() override;

    bool stop_requested() { return reader.stop_requested(); }
    // Waits out the pause before the next opening attempt; false when asked to stop meanwhile.
    bool open_pause_over();
    void try_open();
    void on_stream_lost();
    void handle_frame(const media::video_frame& frame);
    TrackPosition locate_frame();
    void queue_for_writer(const media::video_frame& frame, const TrackPosition& position);
    void report_drops(long dropped);

    media::stream_reader reader;
    write_step_selector write_step;
    camera_feed& feed;
    std::string url;
    coord_client* coord;
    double coordinate_offset;
    frame_numbering numbering;
    const bool copy_stream;
    // Packets read since the last queued frame, in stream order (copying the stream only).
    std::vector<media::encoded_packet> packets;
    // Opening state: the first failure and a lost stream are reported once each; opening is
    // retried until the pane closes.
    bool ever_opened = false;
    bool failure_reported = false;
    std::chrono::steady_clock::time_point next_open_attempt;
};
