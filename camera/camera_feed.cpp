#include "camera/camera_feed.h"

#include <utility>

camera_feed::camera_feed(observer* watcher) : watcher(watcher) {
    live_progress.opened = camera_progress::clock::now();
}

void camera_feed::publish(const media::video_frame& picture, const TrackPosition& position) {
    const auto now = camera_progress::clock::now();
    bool tell = false;
    {
        const std::lock_guard<std::mutex> lock(display_lock);
        display_frame = picture;
        display_position = position;
        ++display_serial;
        ++frames_received;
        live_progress.last_frame = now;
        if (position.has_fix) {
            live_progress.last_fix = now;
            live_progress.km = position.km;
            live_progress.m = position.m;
        }
        // A notice still on its way will show this picture too.
        tell = !std::exchange(picture_notice_out, true);
    }
    if (tell && watcher != nullptr)
        watcher->picture_ready();
}

long camera_feed::queue_for_writer(frame_item item) {
    const std::size_t bytes = item.bytes();
    bool queued = false;
    long dropped = 0;
    {
        const std::lock_guard<std::mutex> lock(queue_lock);
        queued = frame_budget.admit(bytes);
        if (queued)
            frame_queue.push_back(std::move(item));
        dropped = frame_budget.take_finished_drops(false);
    }
    if (queued)
        writer_commands.Post(1);
    return dropped;
}

long camera_feed::finish_queue() {
    long dropped = 0;
    {
        const std::lock_guard<std::mutex> lock(queue_lock);
        dropped = frame_budget.take_finished_drops(true);
    }
    writer_commands.Post(0);
    return dropped;
}

camera_feed::writer_wake camera_feed::wait_for_frames(std::chrono::milliseconds patience) {
    uint64_t command = 0;
    const wxMessageQueueError received =
        writer_commands.ReceiveTimeout(static_cast<long>(patience.count()), command);
    if (received == wxMSGQUEUE_TIMEOUT)
        return writer_wake::idle;
    if (received != wxMSGQUEUE_NO_ERROR || command == 0)
        return writer_wake::finished;
    return writer_wake::frames;
}

std::size_t camera_feed::queue_peak_bytes() const {
    const std::lock_guard<std::mutex> lock(queue_lock);
    return frame_budget.peak_bytes();
}

void camera_feed::take_queued(std::deque<frame_item>& batch) {
    const std::lock_guard<std::mutex> lock(queue_lock);
    while (!frame_queue.empty()) {
        frame_budget.release(frame_queue.front().bytes());
        batch.push_back(std::move(frame_queue.front()));
        frame_queue.pop_front();
    }
}

void camera_feed::post_journal_row(bool error, const wxString& text) {
    post_journal_rows({{error, text}});
}

void camera_feed::post_journal_rows(const std::vector<journal_row>& together) {
    {
        const std::lock_guard<std::mutex> lock(rows_lock);
        for (const journal_row& row : together)
            // A deep copy: the text's buffer is not shared with the posting thread.
            rows.push_back({row.error, wxString(row.text.wc_str())});
    }
    if (watcher != nullptr)
        watcher->rows_ready();
}

std::vector<camera_feed::journal_row> camera_feed::take_rows() {
    std::vector<journal_row> taken;
    const std::lock_guard<std::mutex> lock(rows_lock);
    taken.swap(rows);
    return taken;
}

void camera_feed::capture_ended() {
    const std::lock_guard<std::recursive_mutex> lock(capture_guard);
    capture_running = false;
    thread_ended.notify_all();
}

void camera_feed::writer_ended() {
    const std::lock_guard<std::recursive_mutex> lock(writer_guard);
    writer_running = false;
    thread_ended.notify_all();
}

void camera_feed::stop_capture(const std::function<void()>& ask_to_stop) {
    {
        const std::lock_guard<std::recursive_mutex> lock(capture_guard);
        if (capture_running)
            ask_to_stop();
    }
    wait_until_ended(capture_guard, capture_running);
}

void camera_feed::stop_writer(const std::function<void()>& ask_to_stop) {
    // The capture thread said 0 as it ended; this covers a capture thread that never ran.
    writer_commands.Post(0);
    {
        const std::lock_guard<std::recursive_mutex> lock(writer_guard);
        if (writer_running)
            ask_to_stop();
    }
    wait_until_ended(writer_guard, writer_running);
}

void camera_feed::wait_until_ended(std::recursive_mutex& guard, const bool& running) {
    std::unique_lock<std::recursive_mutex> lock(guard);
    thread_ended.wait(lock, [&running] { return !running; });
}

void camera_feed::picture_noticed() {
    const std::lock_guard<std::mutex> lock(display_lock);
    picture_notice_out = false;
}

std::optional<camera_feed::shown_frame> camera_feed::latest_picture() const {
    const std::lock_guard<std::mutex> lock(display_lock);
    if (display_frame.empty())
        return std::nullopt;
    return shown_frame{display_frame, display_position, display_serial};
}

std::optional<TrackPosition> camera_feed::latest_position() const {
    const std::lock_guard<std::mutex> lock(display_lock);
    if (display_frame.empty())
        return std::nullopt;
    return display_position;
}

int32_t camera_feed::received() const {
    const std::lock_guard<std::mutex> lock(display_lock);
    return frames_received;
}

camera_progress camera_feed::progress() const {
    camera_progress now;
    {
        const std::lock_guard<std::mutex> lock(display_lock);
        now = live_progress;
    }
    now.written = written_frames;
    now.recording_stopped = recording_stopped;
    return now;
}
