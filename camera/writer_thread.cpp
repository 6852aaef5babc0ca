#include "camera/writer_thread.h"

#include "camera/camera_feed.h"
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

writer_thread::writer_thread(camera_feed& feed, const wxConfigBase& config,
                             const wxString& camera_name, const subtitle_style& subtitles)
    : wxThread(wxTHREAD_DETACHED), feed(feed), subtitles(subtitles), burner(subtitles) {
    const wxString format = read_text(config, "write_format");
    if (recorded_format(format) != format)
        log_error(wxString::Format(wxString::FromUTF8("Неизвестный формат записи: %s"), format));
    log_info(wxString::Format(wxString::FromUTF8("Формат записи: %s"), recorded_format(format)));
    writer = make_file_writer(config, camera_name, recorded_format(format));
    write_path = read_text(config, "write_path");
    folder_missing = !writer->open(write_path);
    // Still on the GUI thread: the rows of the opening go straight to the journal.
    for (const writer_row& row : writer->take_rows())
        row.failure ? log_error(row.text) : log_info(row.text);
    next_folder_attempt = clock::now() + video_file_writer_basic::default_retry_interval;
    folder = writer->trip_folder();
}

writer_thread::~writer_thread() {
    // A trip folder that never came holds nothing to finish, and no index can be saved in it.
    if (!folder_missing)
        note_written(writer->close());
    post_writer_rows();
    batch.clear();
    // Released before the pane hears of the end: when the pane's destructor returns, the
    // video file is finished and the trip's index is saved.
    writer.reset();
    feed.writer_ended();
}

wxThread::ExitCode writer_thread::Entry() {
    for (;;) {
        // While no frames come, the last ones written still reach the disk within the sync
        // interval.
        const camera_feed::writer_wake wake =
            feed.wait_for_frames(video_file_writer_basic::default_sync_interval);
        if (wake == camera_feed::writer_wake::idle) {
            if (!folder_missing)
                writer->keep_durable();
            publish_sync_totals();
            continue;
        }
        const bool more_to_come = wake == camera_feed::writer_wake::frames;
        feed.take_queued(batch);
        write_batch();
        // Only the capture thread's end stops the loop, never the stop request alone: a frame
        // queued just before the capture thread ended must still reach its file.
        if (!more_to_come)
            return 0;
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
    if (item.copies_stream) {
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
    feed.set_sync_totals(writer->time_syncing(), writer->syncs());
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
    feed.post_journal_row(false, wxString::Format(wxString::FromUTF8("Запись: %s"),
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
        feed.set_recording_stopped(true);
        post_writer_rows();
        break;
    case space_floor::change::resumed:
        writer->resume_writing();
        feed.set_recording_stopped(false);
        break;
    case space_floor::change::none:
        break;
    }
}

void writer_thread::note_written(std::size_t frames) {
    feed.frames_written(frames);
}

void writer_thread::post_writer_rows() {
    for (const writer_row& row : writer->take_rows())
        feed.post_journal_row(row.failure, row.text);
}
