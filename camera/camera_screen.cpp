#include "camera/camera_screen.h"

#include "camera/camera_events.h"
#include "camera/camera_locks.h"
#include "camera/camera_thread.h"
#include "camera/writer_thread.h"
#include "journal/journal.h"
#include "settings/settings_store.h"

#include <memory>
#include <wx/app.h>
#include <wx/graphics.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/time.h>
#include <wx/toplevel.h>

camera_screen::camera_screen(wxWindow* parent, coord_client* coord, wxConfigBase* config,
                             const wxString& camera_name)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(camera_frame_event, &camera_screen::on_frame, this);
    Bind(camera_error_event, &camera_screen::on_camera_error, this);
    Bind(camera_info_event, &camera_screen::on_camera_info, this);
    Bind(writer_progress_event, &camera_screen::on_writer_progress, this);
    read_subtitle_settings(*config);
    live_progress.opened = camera_progress::clock::now();
    start_threads(coord, *config, camera_name);
    start_time = wxGetUTCTime();
}

camera_screen::~camera_screen() {
    stop_capture();
    stop_writer();
    if (trip_finished)
        trip_finished(trip_path);
    // Events still queued die with the window; the rows they announce do not.
    write_posted_rows();
    {
        // Frames that came after the last picture was painted were received all the same.
        const std::lock_guard<std::mutex> lock(display_lock);
        take_unseen_frames();
    }
    end_time = wxGetUTCTime();
    const auto seconds = static_cast<int32_t>(end_time) - static_cast<int32_t>(start_time);
    log_info(frames_received_row(frames_received, seconds));
    log_info(frames_written_row(frames_written));
}

std::optional<TrackPosition> camera_screen::displayed_position() const {
    const std::lock_guard<std::mutex> lock(display_lock);
    if (display_frame.empty())
        return std::nullopt;
    return display_position;
}

camera_progress camera_screen::progress() const {
    camera_progress now;
    {
        const std::lock_guard<std::mutex> lock(display_lock);
        now = live_progress;
    }
    now.written = frames_written;
    now.recording_stopped = recording_stopped;
    return now;
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
    const bool copy_stream =
        copies_camera_stream(hard_subs, read_integer(config, "write_interval"),
                             read_text(config, "write_format"), read_text(config, "codec"));
    capture_worker =
        new camera_thread(this, coord, config, camera_name, &writer_queue, copy_stream);
    writer_worker = new writer_thread(this, config, camera_name, &writer_queue, writer_subtitles());
    trip_path = writer_worker->trip_folder();
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
    // thread's destructor runs on the worker and clears the pointer, which is awaited here. The
    // thread's own stop flag also ends a wait for a silent camera at once.
    if (capture_worker != nullptr) {
        capture_worker->request_stop();
        capture_worker->Delete();
    }
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

void camera_screen::writer_ended(int32_t frames_in_files) {
    const std::lock_guard<std::recursive_mutex> lock(writer_guard);
    writer_worker = nullptr;
    // Progress events still queued when the screen closes are never handled; the thread's own
    // count is the true total.
    frames_written = frames_in_files;
    worker_ended.notify_all();
}

std::size_t camera_screen::queue_peak_bytes() const {
    const std::lock_guard<std::mutex> lock(frame_queue_lock);
    return frame_budget.peak_bytes();
}

void camera_screen::on_frame(wxThreadEvent&) {
    paint_display_slot();
}

void camera_screen::post_journal_row(bool error, const wxString& text) {
    {
        const std::lock_guard<std::mutex> lock(rows_lock);
        posted_rows.push_back({error, text});
    }
    post_camera_event(this, error ? camera_error_event : camera_info_event, text);
}

void camera_screen::write_posted_rows() {
    std::vector<journal_row> rows;
    {
        const std::lock_guard<std::mutex> lock(rows_lock);
        rows.swap(posted_rows);
    }
    for (const journal_row& row : rows) {
        if (row.error)
            log_error(row.text);
        else
            log_info(row.text);
    }
}

void camera_screen::on_camera_error(wxThreadEvent&) {
    write_posted_rows();
}

void camera_screen::on_camera_info(wxThreadEvent&) {
    write_posted_rows();
}

void camera_screen::on_writer_progress(wxThreadEvent&) {
    ++frames_written;
}

void camera_screen::paint_display_slot() {
    media::video_frame shown;
    TrackPosition position;
    {
        const std::lock_guard<std::mutex> lock(display_lock);
        take_unseen_frames();
        frame_event_pending = false;
        if (!display_fresh)
            return;
        display_fresh = false;
        // The picture is shared and never changed: the lock is not held while it is drawn, so
        // the capture threads never wait for the GUI thread's drawing.
        shown = display_frame;
        position = display_position;
    }
    if (!can_be_seen())
        return;
    const wxSize size = GetClientSize();
    // Only the pixels shown are converted, straight from the decoder's YUV.
    shown.to_rgb_scaled(cv::Size(size.x, size.y), painted, paint_scratch);
    // A graphics context makes its drawable surface from the picture in one conversion; a
    // bitmap would take two on GTK (a pixbuf, then the surface) and a fresh buffer for each.
    const std::unique_ptr<wxGraphicsContext> context(wxGraphicsContext::Create(this));
    if (!context)
        return;
    const wxImage picture(painted.cols, painted.rows, painted.data, true);
    context->DrawBitmap(context->CreateBitmapFromImage(picture), 0, 0, painted.cols, painted.rows);
    ++pictures_painted;
    if (show_subs) {
        context->SetFont(subs_font.IsOk() ? subs_font : GetFont(), subs_color);
        const wxString text = position.expand(format_subs);
        double width = 0;
        double height = 0;
        context->GetTextExtent(text, &width, &height);
        const int top = subtitle_top(subs_position, size.y, static_cast<int>(height + 0.5));
        // The outline, as burned in: the text in the contrasting shade a pixel around its place.
        context->SetFont(subs_font.IsOk() ? subs_font : GetFont(), outline_colour(subs_color));
        for (const int dx : {-1, 0, 1})
            for (const int dy : {-1, 0, 1})
                if (dx != 0 || dy != 0)
                    context->DrawText(text, 10 + dx, top + dy);
        context->SetFont(subs_font.IsOk() ? subs_font : GetFont(), subs_color);
        context->DrawText(text, 10, top);
    }
}

bool camera_screen::can_be_seen() const {
    // Nobody sees a hidden pane or a minimised window: its pictures are counted, not drawn.
    if (!IsShownOnScreen())
        return false;
    const auto iconized = [](const wxWindow* window) {
        const auto* top = dynamic_cast<const wxTopLevelWindow*>(window);
        return top != nullptr && top->IsIconized();
    };
    return !iconized(wxGetTopLevelParent(const_cast<camera_screen*>(this))) &&
           !(wxTheApp != nullptr && iconized(wxTheApp->GetTopWindow()));
}

void camera_screen::take_unseen_frames() {
    frames_received += frames_unseen;
    frames_unseen = 0;
}
