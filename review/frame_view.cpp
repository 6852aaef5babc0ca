#include "review/frame_view.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <wx/dcbuffer.h>

namespace {

// The largest size of the picture's proportions inside the area, with even sides for the
// 4:2:0 conversion.
cv::Size fitted_size(cv::Size picture, const wxSize& area) {
    if (picture.width <= 0 || picture.height <= 0 || area.x < 2 || area.y < 2)
        return {};
    const double scale = std::min(static_cast<double>(area.x) / picture.width,
                                  static_cast<double>(area.y) / picture.height);
    return {std::max(2, static_cast<int>(picture.width * scale) & ~1),
            std::max(2, static_cast<int>(picture.height * scale) & ~1)};
}

} // namespace

frame_view::frame_view(wxWindow* parent)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxSize(320, 240), wxWANTS_CHARS | wxNO_BORDER) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &frame_view::on_paint, this);
    Bind(wxEVT_SIZE, &frame_view::on_size, this);
}

void frame_view::show_picture(trip_picture shown_picture) {
    picture = std::move(shown_picture);
    note_text.clear();
    fit_picture();
    Refresh(false);
}

void frame_view::show_note(const wxString& text) {
    picture = trip_picture();
    fitted.release();
    note_text = text;
    Refresh(false);
}

cv::Mat frame_view::full_picture() const {
    cv::Mat rgb;
    if (!picture.video.empty())
        picture.video.to_rgb(rgb);
    else
        rgb = picture.still.clone();
    return rgb;
}

void frame_view::on_size(wxSizeEvent& event) {
    fit_picture();
    Refresh(false);
    event.Skip();
}

void frame_view::fit_picture() {
    const cv::Size source = !picture.video.empty()
                                ? cv::Size(picture.video.width(), picture.video.height())
                                : picture.still.size();
    const cv::Size size = fitted_size(source, GetClientSize());
    if (size.area() == 0) {
        fitted.release();
        return;
    }
    if (!picture.video.empty())
        picture.video.to_rgb_scaled(size, fitted);
    else
        cv::resize(picture.still, fitted, size, 0, 0, cv::INTER_AREA);
}

void frame_view::on_paint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(*wxBLACK_BRUSH);
    dc.Clear();
    const wxSize area = GetClientSize();
    if (!fitted.empty()) {
        const wxImage image(fitted.cols, fitted.rows, fitted.data, true);
        dc.DrawBitmap(wxBitmap(image), (area.x - fitted.cols) / 2, (area.y - fitted.rows) / 2,
                      false);
        return;
    }
    if (note_text.empty())
        return;
    dc.SetTextForeground(*wxRED);
    const wxSize extent = dc.GetMultiLineTextExtent(note_text);
    dc.DrawText(note_text, std::max(0, (area.x - extent.x) / 2),
                std::max(0, (area.y - extent.y) / 2));
}
