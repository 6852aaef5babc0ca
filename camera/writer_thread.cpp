#include "camera/writer_thread.h"

#include "camera/camera_events.h"
#include "camera/camera_locks.h"
#include "camera/camera_screen.h"
#include "journal/journal.h"
#include "platform/free_space.h"
#include "recording/trip_folder.h"
#include "recording/video_file_writer_avi.h"
#include "recording/video_file_writer_jpeg.h"
#include "recording/video_file_writer_png.h"
#include "settings/settings_store.h"

namespace {

constexpr auto space_check_interval = std::chrono::seconds(1);

// What a write_format value really records: anything but the two image formats is AVI.
wxString recorded_format(const wxString& format) {
    return format == "PNG" || format == "JPEG" ? format : wxString("AVI");
}

std::shared_ptr<video_file_writer_basic>
make_file_writer(const wxConfigBase& config, const wxString& camera_name, const wxString& format) {
    const wxString codec = read_text(config, "codec");
    if (format == "PNG")
        return std::make_shared<video_file_writer_png>(camera_name,
                                                       read_text(config, "image_file_name_format"));
    if (format == "JPEG")
        return std::make_shared<video_file_writer_jpeg>(
            camera_name, read_text(config, "image_file_name_format"));
    return std::make_shared<video_file_writer_avi>(codec, camera_name,
                                                   read_text(config, "video_write_policy"));
}

} // namespace

writer_thread::writer_thread(camera_screen* screen, const wxConfigBase& config,
                             const wxString& camera_name, wxMessageQueue<uint64_t>* writer_queue,
                             const subtitle_style& subtitles)
    : wxThread(wxTHREAD_DETACHED), screen(screen), writer_queue(writer_queue), subtitles(subtitles),
      burner(subtitles) {
    const wxString format = read_text(config, "write_format");
    if (recorded_format(format) != format)
        log_error(wxString::Format(wxString::FromUTF8("Неизвестный формат записи: %s"), format));
    log_info(wxString::Format(wxString::FromUTF8("Формат записи: %s"), recorded_format(format)));
    writer = make_file_writer(config, camera_name, recorded_format(format));
    write_path = read_text(config, "write_path");
    folder_missing = !writer->open(write_path);
    next_folder_attempt = clock::now() + video_file_writer_basic::default_retry_interval;
    folder = writer->trip_folder();
}

writer_thread::~writer_thread() {
    // The screen takes the final count from writer_ended, not from progress events. A trip
    // folder that never came holds nothing to finish, and no index can be saved in it.
    if (!folder_missing)
        frames_written += static_cast<int32_t>(writer->close());
    post_writer_rows();
    batch.clear();
    // Released before the screen hears of the end: when the screen's destructor returns, the
    // video file is finished and the trip's index is saved.
    writer.reset();
    screen->writer_ended(frames_written);
}

wxThread::ExitCode writer_thread::Entry() {
    for (;;) {
        uint64_t command = 0;
        // While no frames come, the last ones written still reach the disk within the sync
        // interval.
        const auto sync_wait = video_file_writer_basic::default_sync_interval.count();
        const wxMessageQueueError received = writer_queue->ReceiveTimeout(sync_wait, command);
        if (received == wxMSGQUEUE_TIMEOUT) {
            if (!folder_missing)
                writer->keep_durable();
            publish_sync_totals();
            continue;
        }
        if (received != wxMSGQUEUE_NO_ERROR)
            return 0;
        take_queued_frames();
        write_batch();
        // Only the stop command ends the loop, never the stop request alone: a frame queued
        // just before the capture thread ended must still reach its file.
        if (command == 0)
            return 0;
    }
}

void writer_thread::take_queued_frames() {
    const std::lock_guard<std::mutex> lock(frame_queue_lock);
    auto& queue = screen->frame_queue;
    while (!queue.empty()) {
        const frame_item& front = queue.front();
        screen->frame_budget.release(front.bytes());
        batch.push_back(std::move(queue.front()));
        queue.pop_front();
    }
}

void writer_thread::write_batch() {
    while (!batch.empty()) {
        write_one(batch.front());
        batch.pop_front();
    }
}

void writer_thread::write_one(const frame_item& item) {
    if (!may_write())
        return;
    if (!item.packets.empty()) {
        note_written(writer->write_copied(item.picture, item.packets, item.position));
    } else if (subtitles.enabled) {
        // The decoded picture is shared with the live view: the subtitle goes on a copy, made
        // in the range the file's encoder takes.
        const media::video_frame burned =
            burner.burn(item.picture, item.position.expand(wxString(subtitles.format)),
                        writer->wants_full_range());
        note_written(writer->write(burned, item.position));
    } else {
        note_written(writer->write(item.picture, item.position));
    }
    post_writer_rows();
    publish_sync_totals();
}

void writer_thread::publish_sync_totals() {
    screen->syncing_ns = writer->time_syncing().count();
    screen->syncs_done = writer->syncs();
}

bool writer_thread::may_write() {
    if (!trip_folder_ready())
        return false;
    watch_free_space();
    return !floor.stopped();
}

bool writer_thread::trip_folder_ready() {
    if (!folder_missing)
        return true;
    const auto now = clock::now();
    if (now < next_folder_attempt)
        return false;
    next_folder_attempt = now + video_file_writer_basic::default_retry_interval;
    if (!make_late_trip_folder(folder))
        return false;
    folder_missing = false;
    writer->mark_trip();
    screen->post_journal_row(false, wxString::Format(wxString::FromUTF8("Запись: %s"),
                                                     wxFileName::DirName(folder).GetPathWithSep()));
    return true;
}

void writer_thread::watch_free_space() {
    const auto now = clock::now();
    if (now < next_space_check)
        return;
    next_space_check = now + space_check_interval;
    switch (floor.update(platform::available_bytes(write_path))) {
    case space_floor::change::stopped:
        note_written(writer->stop_writing(wxString::Format(
            wxString::FromUTF8("Запись остановлена: нет места на диске [%s]"), folder)));
        screen->set_recording_stopped(true);
        post_writer_rows();
        break;
    case space_floor::change::resumed:
        writer->resume_writing();
        screen->set_recording_stopped(false);
        break;
    case space_floor::change::none:
        break;
    }
}

void writer_thread::note_written(std::size_t frames) {
    for (std::size_t i = 0; i < frames; ++i) {
        ++frames_written;
        post_camera_event(screen, writer_progress_event);
    }
}

void writer_thread::post_writer_rows() {
    for (const writer_row& row : writer->take_rows())
        screen->post_journal_row(row.failure, row.text);
}
