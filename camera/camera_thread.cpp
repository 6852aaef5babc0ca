#include "camera/camera_thread.h"

#include "camera/camera_feed.h"
#include "camera/camera_locks.h"
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

camera_thread::camera_thread(camera_feed& feed, coord_client* coord, const wxConfigBase& config,
                             const wxString& camera_name, bool copy_stream)
    : wxThread(wxTHREAD_DETACHED), reader(stream_timeout, [this] { return TestDestroy(); }),
      write_step(read_integer(config, "write_interval")), feed(feed),
      url(platform::to_narrow(
          read_text(config, settings_prefix(camera_name) + "camera_rtsp_address"))),
      coord(coord),
      coordinate_offset(read_floating(config, settings_prefix(camera_name) + "coordinate_offset")),
      copy_stream(copy_stream), next_open_attempt(std::chrono::steady_clock::now()) {}

camera_thread::~camera_thread() {
    // Before the pane hears of the end: the camera is let go while the pane still waits.
    reader.close();
    feed.capture_ended();
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
    // A copied stream's last packets are in the files: their pictures, still in the decoder
    // (a camera with B-frames holds some back), are listed too.
    if (reader.keeps_packets())
        while (reader.drain(frame))
            handle_frame(frame);
    report_drops(feed.finish_queue());
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
            feed.post_journal_rows(
                {{true, camera_failed_row(url)},
                 {true, camera_failure_reason_row(
                            reader.failure(), reader.failure_text(),
                            static_cast<int>(
                                std::chrono::duration_cast<std::chrono::seconds>(stream_timeout)
                                    .count()))}});
        failure_reported = true;
        return;
    }
    ever_opened = true;
    const media::stream_facts& facts = reader.facts();
    reader.keep_packets(copy_stream && facts.codec == AV_CODEC_ID_H264);
    packets.clear();
    feed.post_journal_row(
        false, camera_opened_row(url, facts.fps, facts.fourcc, facts.width, facts.height));
}

void camera_thread::on_stream_lost() {
    if (stop_requested())
        return;
    feed.post_journal_row(true, camera_lost_row(url));
    // The packets of a broken opening cannot continue in the next one.
    packets.clear();
    // The first attempt is made at once: a short glitch costs no more than one reopening. The
    // loss is reported again only after the camera has come back.
    next_open_attempt = std::chrono::steady_clock::now();
}

void camera_thread::handle_frame(const media::video_frame& frame) {
    const TrackPosition position = locate_frame();
    feed.publish(frame, position);
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
            feed.post_journal_row(
                false, coordinate_server_row(platform::from_narrow(result.reconnected->host),
                                             platform::from_narrow(result.reconnected->port)));
        return numbering.position_for(result);
    } catch (const std::exception& failure) {
        feed.post_journal_row(true, platform::from_narrow(failure.what()));
        return TrackPosition();
    }
}

void camera_thread::queue_for_writer(const media::video_frame& frame,
                                     const TrackPosition& position) {
    // The queue shares the decoded picture with the display slot; it costs its real bytes. The
    // packets read since the last queued frame ride with this one; if it is dropped they go too,
    // and a copied stream resumes at its next key frame.
    frame_item item{frame, position, std::move(packets), reader.keeps_packets()};
    packets.clear();
    report_drops(feed.queue_for_writer(std::move(item)));
}

void camera_thread::report_drops(long dropped) {
    if (dropped > 0)
        feed.post_journal_row(true, frames_dropped_row(dropped));
}
