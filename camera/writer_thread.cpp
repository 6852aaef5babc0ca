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
    log_info(wxString::Format(wxString::FromUTF8("Формат записи: %s"), format));
    writer = make_file_writer(config, camera_name, format);
    writer->open(read_text(config, "write_path"));
}

writer_thread::~writer_thread() {
    writer->close();
    const wxString late_failure = writer->take_late_failure();
    batch.clear();
    // Released before the screen hears of the end: when the screen's destructor returns, the
    // video file is finished and the trip's index is saved.
    writer.reset();
    screen->writer_ended(frames_written, late_failure);
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
        screen->frame_budget.release(front.picture.total() * front.picture.elemSize());
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

void writer_thread::write_one(frame_item& item) {
    // The item's pixels are this thread's own copy, so the subtitle is drawn on them directly.
    if (subtitles.enabled)
        burner.burn(item.picture, item.position.expand(wxString(subtitles.format)));
    note_write_result(writer->write(item.picture, item.position));
    const wxString late_failure = writer->take_late_failure();
    if (!late_failure.empty())
        post_camera_event(screen, writer_error_event, late_failure);
}

void writer_thread::note_write_result(bool written) {
    if (written) {
        ++frames_written;
        writer_failing = false;
        post_camera_event(screen, writer_progress_event);
        return;
    }
    if (!writer_failing)
        post_camera_event(screen, writer_error_event, writer->failure());
    writer_failing = true;
}
