#pragma once
// Burns the subtitle line into a recorded picture on the writer thread. It keeps its own font,
// colour and one graphics context over a small image (cairo and pango with the thread's own font
// map on GTK), so nothing is shared with the GUI thread's drawing. The text is drawn once per
// picture as a coverage mask, widened by a pixel for a contrasting outline, and both are blended
// into the picture's planes: no colour conversion of the picture.

#include "media/video_frame.h"

#include <memory>
#include <opencv2/core/mat.hpp>
#include <string>
#include <wx/colour.h>
#include <wx/font.h>
#include <wx/string.h>

class wxGraphicsContext;
class wxImage;

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

// The shade that outlines text of that colour: black around light colours, white around dark.
wxColour outline_colour(const wxColour& text);

class subtitle_burner {
public:
    // GUI thread: the font and colour are made here, each an object of this burner alone.
    explicit subtitle_burner(const subtitle_style& style);
    ~subtitle_burner();
    // A copy would share the font's data between threads.
    subtitle_burner(const subtitle_burner&) = delete;
    subtitle_burner& operator=(const subtitle_burner&) = delete;

    // Draws the text onto the 8-bit RGB picture in place: at x 10, with its top 10 pixels below
    // the top or 10 pixels above the bottom.
    void burn(cv::Mat& picture, const wxString& text);
    // The same on a 4:2:0 picture, which stays unchanged: returns a private copy in full or
    // video range with the text drawn on it.
    media::video_frame burn(const media::video_frame& picture, const wxString& text,
                            bool full_range);

private:
    struct canvas;
    // Draws the text's coverage (0..255) and its outline's into the canvas; `wanted` gets the
    // place of the outlined text on a picture of that size, uncut. False for nothing to draw.
    bool draw_coverage(const wxString& text, cv::Size picture, cv::Rect& wanted);

    wxFont font;
    wxColour colour;
    wxColour outline;
    int position;
    // Made on the thread that burns, at its first picture, and kept.
    std::unique_ptr<canvas> board;
};
