#include "camera/camera_screen.h"

#include "camera/camera_events.h"
#include "camera/camera_thread.h"
#include "camera/pipeline_rules.h"
#include "camera/writer_thread.h"
#include "journal/journal.h"
#include "settings/settings_store.h"

#include <memory>
#include <wx/app.h>
#include <wx/dcclient.h>
#include <wx/graphics.h>
#include <wx/log.h>
#include <wx/time.h>
#include <wx/toplevel.h>

camera_screen::camera_screen(wxWindow* parent, coord_client* coord, wxConfigBase* config,
                             const wxString& camera_name)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER),
      feed(this) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &camera_screen::on_paint, this);
    Bind(camera_frame_event, &camera_screen::on_frame, this);
    Bind(camera_rows_event, &camera_screen::on_rows, this);
    read_subtitle_settings(*config);
    start_threads(coord, *config, camera_name);
    start_time = wxGetUTCTime();
}

camera_screen::~camera_screen() {
    stop_threads();
    if (trip_finished)
        trip_finished(trip_path);
    // Events still queued die with the window; the rows they announce do not.
    write_posted_rows();
    end_time = wxGetUTCTime();
    const auto seconds = static_cast<int32_t>(end_time) - static_cast<int32_t>(start_time);
    log_info(frames_received_row(feed.received(), seconds));
    log_info(frames_written_row(feed.written()));
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
    subs_position = static_cast<int>(read_integer(config, "subs_position"));
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
    const bool copy_stream =
        copies_camera_stream(hard_subs, read_integer(config, "write_interval"),
                             read_text(config, "write_format"), read_text(config, "codec"));
    capture_worker = new camera_thread(feed, coord, config, camera_name, copy_stream);
    writer_worker = new writer_thread(feed, config, camera_name, writer_subtitles());
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

void camera_screen::stop_threads() {
    // On wxGTK Delete() of a detached thread only sets the stop request and returns; the
    // thread's destructor runs on the worker and tells the feed, which is awaited here. The
    // thread's own stop flag also ends a wait for a silent camera at once.
    feed.stop_capture([this] {
        capture_worker->request_stop();
        capture_worker->Delete();
    });
    // The capture thread told the writer to finish as it ended: it writes what is queued.
    feed.stop_writer([this] { writer_worker->Delete(); });
}

void camera_screen::picture_ready() {
    post_camera_event(this, camera_frame_event);
}

void camera_screen::rows_ready() {
    post_camera_event(this, camera_rows_event);
}

void camera_screen::on_rows(wxThreadEvent&) {
    write_posted_rows();
}

void camera_screen::write_posted_rows() {
    for (const camera_feed::journal_row& row : feed.take_rows()) {
        if (row.error)
            log_error(row.text);
        else
            log_info(row.text);
    }
}

void camera_screen::on_frame(wxThreadEvent&) {
    feed.picture_noticed();
    // Nobody sees a hidden pane: its pictures are counted, never converted.
    if (can_be_seen())
        Refresh(false);
}

void camera_screen::on_paint(wxPaintEvent&) {
    wxPaintDC dc(this);
    const wxSize size = GetClientSize();
    if (size.x <= 0 || size.y <= 0)
        return;
    if (!can_be_seen() || !convert_latest(size)) {
        // Before the first picture the pane shows its own background.
        dc.SetBackground(wxBrush(GetBackgroundColour()));
        dc.Clear();
        return;
    }
    const std::unique_ptr<wxGraphicsContext> context(wxGraphicsContext::Create(dc));
    if (!context)
        return;
    painted.draw(*context);
    if (show_subs)
        draw_subtitle(*context, size);
}

bool camera_screen::convert_latest(const wxSize& size) {
    const std::optional<camera_feed::shown_frame> latest = feed.latest_picture();
    if (!latest)
        return false;
    const cv::Size shown(size.x, size.y);
    if (latest->serial == painted_serial && painted.size() == media::even_size(shown))
        return true;
    // Only the pixels shown are converted, straight from the decoder's YUV.
    painted.show(latest->picture, shown);
    painted_position = latest->position;
    painted_serial = latest->serial;
    ++pictures_converted;
    return true;
}

void camera_screen::draw_subtitle(wxGraphicsContext& context, const wxSize& size) {
    const wxFont& font = subs_font.IsOk() ? subs_font : GetFont();
    const wxString text = painted_position.expand(format_subs);
    context.SetFont(font, subs_color);
    double width = 0;
    double height = 0;
    context.GetTextExtent(text, &width, &height);
    const int top = subtitle_top(subs_position, size.y, static_cast<int>(height + 0.5));
    // The outline, as burned in: the text in the contrasting shade a pixel around its place.
    context.SetFont(font, outline_colour(subs_color));
    for (const int dx : {-1, 0, 1})
        for (const int dy : {-1, 0, 1})
            if (dx != 0 || dy != 0)
                context.DrawText(text, 10 + dx, top + dy);
    context.SetFont(font, subs_color);
    context.DrawText(text, 10, top);
}

bool camera_screen::can_be_seen() const {
    // Nobody sees a hidden pane or a minimised window.
    if (!IsShownOnScreen())
        return false;
    const auto iconized = [](const wxWindow* window) {
        const auto* top = dynamic_cast<const wxTopLevelWindow*>(window);
        return top != nullptr && top->IsIconized();
    };
    return !iconized(wxGetTopLevelParent(const_cast<camera_screen*>(this))) &&
           !(wxTheApp != nullptr && iconized(wxTheApp->GetTopWindow()));
}
