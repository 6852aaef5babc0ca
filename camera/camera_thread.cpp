#include "camera/camera_thread.h"

#include "camera/camera_events.h"
#include "camera/camera_locks.h"
#include "camera/camera_screen.h"
#include "platform/text.h"
#include "position/coord_client.h"
#include "settings/settings_store.h"

#include <algorithm>
#include <exception>
#include <iterator>
#include <thread>
#include <utility>

namespace {

// A dead or frozen camera holds the thread, and so the closing of its pane, no longer than this.
constexpr auto stream_timeout = std::chrono::seconds(5);
constexpr auto reopen_interval = std::chrono::seconds(2);
// How often a thread waiting to reopen looks for a stop request.
constexpr auto stop_poll_interval = std::chrono::milliseconds(50);

wxString settings_prefix(const wxString& camera_name) {
    return camera_name == wxString::FromUTF8("Котел") ? "front_" : "back_";
}

} // namespace

camera_thread::camera_thread(camera_screen* screen, coord_client* coord, const wxConfigBase& config,
                             const wxString& camera_name, wxMessageQueue<uint64_t>* writer_queue,
                             bool copy_stream)
    : wxThread(wxTHREAD_DETACHED), reader(stream_timeout, [this] { return TestDestroy(); }),
      write_step(read_integer(config, "write_interval")), screen(screen),
      url(platform::to_narrow(
          read_text(config, settings_prefix(camera_name) + "camera_rtsp_address"))),
      coord(coord),
      coordinate_offset(read_floating(config, settings_prefix(camera_name) + "coordinate_offset")),
      writer_queue(writer_queue), copy_stream(copy_stream),
      next_open_attempt(std::chrono::steady_clock::now()) {}

camera_thread::~camera_thread() {
    // Before the screen hears of the end: the camera is let go while the screen still waits.
    reader.close();
    screen->capture_ended();
}

wxThread::ExitCode camera_thread::Entry() {
    media::video_frame frame;
    std::vector<media::encoded_packet> read_packets;
    while (!stop_requested()) {
        if (!reader.is_open()) {
            if (open_pause_over())
                try_open();
            continue;
        }
        if (!reader.read(frame, read_packets)) {
            on_stream_lost();
            continue;
        }
        std::move(read_packets.begin(), read_packets.end(), std::back_inserter(packets));
        handle_frame(frame);
    }
    report_finished_drops(true);
    writer_queue->Post(0);
    return 0;
}

bool camera_thread::open_pause_over() {
    while (std::chrono::steady_clock::now() < next_open_attempt) {
        if (stop_requested())
            return false;
        std::this_thread::sleep_for(stop_poll_interval);
    }
    return true;
}

void camera_thread::try_open() {
    const bool opened = reader.open(url);
    // Spaced from the end of this attempt, however long a silent camera made it.
    next_open_attempt = std::chrono::steady_clock::now() + reopen_interval;
    if (!opened) {
        if (!ever_opened && !failure_reported && !stop_requested())
            screen->post_journal_row(true, camera_failed_row(url));
        failure_reported = true;
        return;
    }
    ever_opened = true;
    const media::stream_facts& facts = reader.facts();
    reader.keep_packets(copy_stream && facts.codec == AV_CODEC_ID_H264);
    packets.clear();
    screen->post_journal_row(
        false, camera_opened_row(url, facts.fps, facts.fourcc, facts.width, facts.height));
}

void camera_thread::on_stream_lost() {
    if (stop_requested())
        return;
    screen->post_journal_row(true, camera_lost_row(url));
    // The packets of a broken opening cannot continue in the next one.
    packets.clear();
    // The first attempt is made at once: a short glitch costs no more than one reopening. The
    // loss is reported again only after the camera has come back.
    next_open_attempt = std::chrono::steady_clock::now();
}

void camera_thread::handle_frame(const media::video_frame& frame) {
    const TrackPosition position = locate_frame();
    if (publish_for_display(frame, position))
        post_camera_event(screen, camera_frame_event);
    if (write_step.select(position.abs))
        queue_for_writer(frame, position);
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
            screen->post_journal_row(
                false, coordinate_server_row(platform::from_narrow(result.reconnected->host),
                                             platform::from_narrow(result.reconnected->port)));
        return numbering.position_for(result);
    } catch (const std::exception& failure) {
        screen->post_journal_row(true, platform::from_narrow(failure.what()));
        return TrackPosition();
    }
}

bool camera_thread::publish_for_display(const media::video_frame& frame,
                                        const TrackPosition& position) {
    const auto now = camera_progress::clock::now();
    const std::lock_guard<std::mutex> lock(display_lock);
    screen->display_frame = frame;
    screen->display_position = position;
    camera_progress& progress = screen->live_progress;
    progress.last_frame = now;
    if (position.has_fix) {
        progress.last_fix = now;
        progress.km = position.km;
        progress.m = position.m;
    }
    screen->display_fresh = true;
    ++screen->frames_unseen;
    // An event still on its way will show this frame too.
    return !std::exchange(screen->frame_event_pending, true);
}

void camera_thread::queue_for_writer(const media::video_frame& frame,
                                     const TrackPosition& position) {
    // The queue shares the decoded picture with the display slot; it costs its real bytes. The
    // packets read since the last queued frame ride with this one; if it is dropped they go too,
    // and a copied stream resumes at its next key frame.
    frame_item item{frame, position, std::move(packets)};
    packets.clear();
    const std::size_t bytes = item.bytes();
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
        screen->post_journal_row(true, frames_dropped_row(dropped));
}

void camera_thread::report_finished_drops(bool finished) {
    long dropped = 0;
    {
        const std::lock_guard<std::mutex> lock(frame_queue_lock);
        dropped = screen->frame_budget.take_finished_drops(finished);
    }
    if (dropped > 0)
        screen->post_journal_row(true, frames_dropped_row(dropped));
}
