#include "camera/writer_thread.h"

#include "camera/camera_events.h"
#include "camera/camera_locks.h"
#include "camera/camera_screen.h"
#include "journal/journal.h"
#include "recording/video_file_writer_avi.h"
#include "recording/video_file_writer_jpeg.h"
#include "recording/video_file_writer_png.h"
#include "settings/settings_store.h"

namespace {

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
    writer->open(read_text(config, "write_path"));
    folder = writer->trip_folder();
}

writer_thread::~writer_thread() {
    // The screen takes the final count from writer_ended, not from progress events.
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
        if (writer_queue->Receive(command) != wxMSGQUEUE_NO_ERROR)
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
