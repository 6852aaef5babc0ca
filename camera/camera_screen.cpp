#include "camera/camera_screen.h"

#include "camera/camera_events.h"
#include "camera/camera_locks.h"
#include "camera/camera_thread.h"
#include "camera/writer_thread.h"
#include "journal/journal.h"
#include "settings/settings_store.h"

#include <wx/dcclient.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/time.h>

camera_screen::camera_screen(wxWindow* parent, coord_client* coord, wxConfigBase* config,
                             const wxString& camera_name)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(camera_frame_event, &camera_screen::on_frame, this);
    Bind(camera_error_event, &camera_screen::on_camera_error, this);
    Bind(camera_info_event, &camera_screen::on_camera_info, this);
    Bind(writer_progress_event, &camera_screen::on_writer_progress, this);
    Bind(writer_error_event, &camera_screen::on_writer_error, this);
    read_subtitle_settings(*config);
    start_threads(coord, *config, camera_name);
    start_time = wxGetUTCTime();
}

camera_screen::~camera_screen() {
    stop_capture();
    stop_writer();
    {
        // Frames that came after the last picture was painted were received all the same.
        const std::lock_guard<std::mutex> lock(display_lock);
        take_unseen_frames();
    }
    if (!writer_late_failure.empty())
        log_error(writer_late_failure);
    end_time = wxGetUTCTime();
    const auto seconds = static_cast<int32_t>(end_time) - static_cast<int32_t>(start_time);
    log_info(frames_received_row(frames_received, seconds));
    log_info(frames_written_row(frames_written));
}

void camera_screen::read_subtitle_settings(const wxConfigBase& config) {
    show_subs = read_boolean(config, "show_subs");
    hard_subs = read_boolean(config, "hard_subs");
    format_subs = read_text(config, "format_subs");
    subs_color = wxColour(read_text(config, "subs_color"));
    if (!subs_color.IsOk())
        subs_color = *wxBLUE;
    const wxString font_text = read_text(config, "subs_font");
    if (!font_text.empty())
        subs_font.SetNativeFontInfo(font_text);
    // Without a valid font the live picture uses the drawing context's default font; the
    // burn-in gets the same one by its description.
    subs_font_description = subs_font.IsOk() ? subs_font.GetNativeFontInfoDesc()
                                             : wxNORMAL_FONT->GetNativeFontInfoDesc();
}

subtitle_style camera_screen::writer_subtitles() const {
    subtitle_style style;
    style.enabled = hard_subs;
    style.format = format_subs.ToStdWstring();
    style.font_description = subs_font_description.utf8_string();
    style.red = subs_color.Red();
    style.green = subs_color.Green();
    style.blue = subs_color.Blue();
    style.position = subs_position;
    return style;
}

void camera_screen::start_threads(coord_client* coord, const wxConfigBase& config,
                                  const wxString& camera_name) {
    subs_position = static_cast<int>(read_integer(config, "subs_position"));
    capture_worker = new camera_thread(this, coord, config, camera_name, &writer_queue);
    writer_worker = new writer_thread(this, config, camera_name, &writer_queue, writer_subtitles());
    writer_worker->SetPriority(wxPRIORITY_MAX);
    // A detached thread that never ran does not delete itself.
    if (capture_worker->Run() != wxTHREAD_NO_ERROR)
        delete capture_worker;
    // Without real-time scheduling Linux ignores thread priorities, and the toolkit would say
    // so in a message box every time a camera opens.
    const wxLogNull quiet;
    if (writer_worker->Run() != wxTHREAD_NO_ERROR)
        delete writer_worker;
}

void camera_screen::stop_capture() {
    std::unique_lock<std::recursive_mutex> lock(capture_guard);
    // On wxGTK Delete() of a detached thread only sets the stop request and returns; the
    // thread's destructor runs on the worker and clears the pointer, which is awaited here.
    if (capture_worker != nullptr)
        capture_worker->Delete();
    worker_ended.wait(lock, [this] { return capture_worker == nullptr; });
}

void camera_screen::stop_writer() {
    // The capture thread posted 0 as it ended; this one covers a capture thread that never ran.
    writer_queue.Post(0);
    std::unique_lock<std::recursive_mutex> lock(writer_guard);
    if (writer_worker != nullptr)
        writer_worker->Delete();
    worker_ended.wait(lock, [this] { return writer_worker == nullptr; });
}

void camera_screen::capture_ended() {
    const std::lock_guard<std::recursive_mutex> lock(capture_guard);
    capture_worker = nullptr;
    worker_ended.notify_all();
}

void camera_screen::writer_ended(int32_t frames_in_files, const wxString& late_failure) {
    const std::lock_guard<std::recursive_mutex> lock(writer_guard);
    writer_worker = nullptr;
    // The screen is going: an event would never be handled.
    writer_late_failure = late_failure;
    // Progress events still queued when the screen closes are never handled; the thread's own
    // count is the true total.
    frames_written = frames_in_files;
    worker_ended.notify_all();
}

void camera_screen::on_frame(wxThreadEvent&) {
    paint_display_slot();
}

void camera_screen::on_camera_error(wxThreadEvent& event) {
    log_error(event.GetString());
}

void camera_screen::on_camera_info(wxThreadEvent& event) {
    log_info(event.GetString());
}

void camera_screen::on_writer_progress(wxThreadEvent&) {
    ++frames_written;
}

void camera_screen::on_writer_error(wxThreadEvent& event) {
    log_error(event.GetString());
}

void camera_screen::paint_display_slot() {
    wxClientDC dc(this);
    const std::lock_guard<std::mutex> lock(display_lock);
    take_unseen_frames();
    frame_event_pending = false;
    if (display_fresh) {
        display_fresh = false;
        const wxSize size = GetClientSize();
        // Wrapped, not copied: the one copy per frame was made by the capture thread.
        const wxImage frame(display_frame.cols, display_frame.rows, display_frame.data, true);
        const wxBitmap picture(
            frame.Scale(std::max(size.x, 1), std::max(size.y, 1), wxIMAGE_QUALITY_NORMAL));
        dc.DrawBitmap(picture, 0, 0, false);
        if (show_subs) {
            dc.SetTextForeground(subs_color);
            if (subs_font.IsOk())
                dc.SetFont(subs_font);
            const wxString text = display_position.expand(format_subs);
            const wxSize extent = dc.GetTextExtent(text);
            dc.DrawText(text, 10, subtitle_top(subs_position, size.y, extent.y));
        }
    }
}

void camera_screen::take_unseen_frames() {
    frames_received += frames_unseen;
    frames_unseen = 0;
}
