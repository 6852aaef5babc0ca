#include "camera/camera_thread.h"

#include "camera/camera_events.h"
#include "camera/camera_locks.h"
#include "camera/camera_screen.h"
#include "journal/journal.h"
#include "platform/text.h"
#include "position/coord_client.h"
#include "settings/settings_store.h"

#include <exception>
#include <opencv2/imgproc.hpp>
#include <thread>
#include <utility>

namespace {

// A dead or frozen camera holds the thread, and so the closing of its pane, no longer than this.
constexpr int stream_timeout_ms = 5000;
constexpr auto reopen_interval = std::chrono::seconds(2);
// How often a thread waiting to reopen looks for a stop request.
constexpr auto stop_poll_interval = std::chrono::milliseconds(50);

wxString settings_prefix(const wxString& camera_name) {
    return camera_name == wxString::FromUTF8("Котел") ? "front_" : "back_";
}

} // namespace

camera_thread::camera_thread(camera_screen* screen, coord_client* coord, const wxConfigBase& config,
                             const wxString& camera_name, wxMessageQueue<uint64_t>* writer_queue)
    : wxThread(wxTHREAD_DETACHED), write_step(read_integer(config, "write_interval")),
      screen(screen), url(platform::to_narrow(
                          read_text(config, settings_prefix(camera_name) + "camera_rtsp_address"))),
      coord(coord),
      coordinate_offset(read_floating(config, settings_prefix(camera_name) + "coordinate_offset")),
      writer_queue(writer_queue) {
    if (open_stream()) {
        log_info(opened_row());
    } else {
        log_error(camera_failed_row(url));
        stream_lost = true;
        next_open_attempt = std::chrono::steady_clock::now() + reopen_interval;
    }
}

camera_thread::~camera_thread() {
    capture.release();
    screen->capture_ended();
}

bool camera_thread::open_stream() {
    return capture.open(url, cv::CAP_FFMPEG,
                        {cv::CAP_PROP_OPEN_TIMEOUT_MSEC, stream_timeout_ms,
                         cv::CAP_PROP_READ_TIMEOUT_MSEC, stream_timeout_ms});
}

wxString camera_thread::opened_row() {
    return camera_opened_row(url, capture.get(cv::CAP_PROP_FPS), capture.get(cv::CAP_PROP_FOURCC),
                             capture.get(cv::CAP_PROP_FRAME_WIDTH),
                             capture.get(cv::CAP_PROP_FRAME_HEIGHT));
}

wxThread::ExitCode camera_thread::Entry() {
    cv::Mat image;
    while (!TestDestroy()) {
        if (!capture.isOpened()) {
            if (reopen_pause_over())
                try_reopen();
            continue;
        }
        if (!capture.read(image) || image.empty()) {
            on_stream_lost();
            continue;
        }
        handle_frame(image);
    }
    report_finished_drops(true);
    writer_queue->Post(0);
    return 0;
}

bool camera_thread::reopen_pause_over() {
    while (std::chrono::steady_clock::now() < next_open_attempt) {
        if (TestDestroy())
            return false;
        std::this_thread::sleep_for(stop_poll_interval);
    }
    return true;
}

void camera_thread::try_reopen() {
    next_open_attempt = std::chrono::steady_clock::now() + reopen_interval;
    if (!open_stream())
        return;
    stream_lost = false;
    post_camera_event(screen, camera_info_event, opened_row());
}

void camera_thread::on_stream_lost() {
    capture.release();
    if (!stream_lost)
        post_camera_event(screen, camera_error_event, camera_lost_row(url));
    stream_lost = true;
    // The first attempt is made at once: a short glitch costs no more than one reopening.
    next_open_attempt = std::chrono::steady_clock::now();
}

void camera_thread::handle_frame(cv::Mat& image) {
    cv::cvtColor(image, image, cv::COLOR_BGR2RGB);
    const TrackPosition position = locate_frame();
    if (publish_for_display(image, position))
        post_camera_event(screen, camera_frame_event);
    if (write_step.select(position.abs))
        queue_for_writer(image, position);
}

TrackPosition camera_thread::locate_frame() {
    int32_t sensor_value = 0;
    {
        const std::lock_guard<std::mutex> lock(path_sensor_lock);
        sensor_value = path_sensor_value;
    }
    if (coord == nullptr)
        return numbering.position_for(exchange_result{});
    try {
        const exchange_result result = coord->exchange(sensor_value, coordinate_offset);
        if (result.reconnected)
            post_camera_event(
                screen, camera_info_event,
                coordinate_server_row(platform::from_narrow(result.reconnected->host),
                                      platform::from_narrow(result.reconnected->port)));
        return numbering.position_for(result);
    } catch (const std::exception& failure) {
        post_camera_event(screen, camera_error_event, platform::from_narrow(failure.what()));
        return TrackPosition();
    }
}

bool camera_thread::publish_for_display(const cv::Mat& image, const TrackPosition& position) {
    const std::lock_guard<std::mutex> lock(display_lock);
    image.copyTo(screen->display_frame);
    screen->display_position = position;
    screen->display_fresh = true;
    ++screen->frames_unseen;
    // An event still on its way will show this frame too.
    return !std::exchange(screen->frame_event_pending, true);
}

void camera_thread::queue_for_writer(const cv::Mat& image, const TrackPosition& position) {
    // The writer's own copy is made before the lock, so the lock covers only the hand-over.
    frame_item item{image.clone(), position};
    const std::size_t bytes = item.picture.total() * item.picture.elemSize();
    bool queued = false;
    long dropped = 0;
    {
        const std::lock_guard<std::mutex> lock(frame_queue_lock);
        queued = screen->frame_budget.admit(bytes);
        if (queued)
            screen->frame_queue.push_back(std::move(item));
        dropped = screen->frame_budget.take_finished_drops(false);
    }
    if (queued)
        writer_queue->Post(1);
    if (dropped > 0)
        post_camera_event(screen, camera_error_event, frames_dropped_row(dropped));
}

void camera_thread::report_finished_drops(bool finished) {
    long dropped = 0;
    {
        const std::lock_guard<std::mutex> lock(frame_queue_lock);
        dropped = screen->frame_budget.take_finished_drops(finished);
    }
    if (dropped > 0)
        post_camera_event(screen, camera_error_event, frames_dropped_row(dropped));
}
