#pragma once
// The picture area of the trip browser: one recorded frame fitted into the panel with its
// proportions kept, or a note in place of a frame that cannot be shown.

#include "review/trip_frame_source.h"

#include <opencv2/core/mat.hpp>
#include <wx/panel.h>

class frame_view : public wxPanel {
public:
    explicit frame_view(wxWindow* parent);

    void show_picture(trip_picture picture);
    void show_note(const wxString& text);

    // The pixels last drawn (8-bit RGB at the fitted size); empty while a note is shown.
    const cv::Mat& shown() const { return fitted; }
    const wxString& note() const { return note_text; }
    // The shown frame at its recorded size, 8-bit RGB; empty while a note is shown.
    cv::Mat full_picture() const;

private:
    void on_paint(wxPaintEvent& event);
    void on_size(wxSizeEvent& event);
    void fit_picture();

    trip_picture picture;
    cv::Mat fitted;
    wxString note_text;
};
