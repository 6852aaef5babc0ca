#pragma once
// Burns the outlined subtitle line into a recorded picture on the writer thread. It keeps its own
// font and colour and draws through a graphics context over a plain image (cairo and pango with the
// thread's own font map), so nothing is shared with the GUI thread's drawing.

#include "media/video_frame.h"

#include <opencv2/core/mat.hpp>
#include <string>
#include <wx/colour.h>
#include <wx/font.h>
#include <wx/string.h>

// The subtitle settings as plain values, copied for each thread that draws.
struct subtitle_style {
    bool enabled = true;
    std::wstring format;
    std::string font_description; // native description; empty: the default GUI font
    unsigned char red = 0;
    unsigned char green = 0;
    unsigned char blue = 255;
    int position = 0; // 0: top; any other value: bottom
};

class subtitle_burner {
public:
    // GUI thread: the font and colour are made here, each an object of this burner alone.
    explicit subtitle_burner(const subtitle_style& style);
    // A copy would share the font's data between threads.
    subtitle_burner(const subtitle_burner&) = delete;
    subtitle_burner& operator=(const subtitle_burner&) = delete;

    // Draws the text onto the 8-bit RGB picture in place: at x 10, with its top 10 pixels below
    // the top or 10 pixels above the bottom.
    void burn(cv::Mat& picture, const wxString& text);
    // The same on a 4:2:0 picture, which stays unchanged: returns a private copy in full or
    // video range with the text drawn on it. Only the strip under the text goes through RGB.
    media::video_frame burn(const media::video_frame& picture, const wxString& text,
                            bool full_range);

private:
    // Where the text goes on a picture of that many rows, cut to the picture.
    cv::Rect text_strip(const wxString& text, cv::Size picture, cv::Rect& wanted) const;
    // Draws the outlined text onto the RGB strip; `origin` is the text's corner relative to the
    // strip, `outline` the outline's width.
    void draw(cv::Mat& strip, const wxString& text, cv::Point origin, int outline) const;

    wxFont font;
    wxColour colour;
    int position;
};
