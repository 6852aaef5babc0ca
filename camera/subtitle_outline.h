#pragma once
// The outline that keeps a subtitle legible on any picture: a band of a contrasting shade
// (dark around light text, light around dark text) one or two pixels wide around the glyphs.

#include <opencv2/core/mat.hpp>
#include <wx/colour.h>

// Black around light colours, white around dark ones.
wxColour outline_shade(const wxColour& text);

// 1 pixel for ordinary text, 2 for text from 24 pixels high.
int outline_width(int text_height);

// Paints text onto the 8-bit RGB picture: `coverage` (8-bit, one channel, the picture's size)
// says how much of each pixel the glyphs cover, as drawn white on black. The outline goes
// first, the text in `colour` over it.
void paint_outlined_text(cv::Mat& rgb, const cv::Mat& coverage, const wxColour& colour, int width);
