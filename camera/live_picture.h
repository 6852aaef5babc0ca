#pragma once
// The picture a camera pane shows, kept at the pane's size in a drawing surface of the
// toolkit's own pixel layout. A new frame is converted into it once, straight from the
// decoder's YUV; every paint, for a new frame or an uncovered pane, draws it as it is. Neither
// converting nor drawing allocates pixels, as a fresh bitmap for every frame would.

#include "media/video_frame.h"

#include <memory>
#include <opencv2/core/mat.hpp>

class wxGraphicsContext;

class live_picture {
public:
    live_picture();
    ~live_picture();
    live_picture(const live_picture&) = delete;
    live_picture& operator=(const live_picture&) = delete;

    // The frame scaled to `size` (even sides: an odd side loses a column or row).
    void show(const media::video_frame& frame, cv::Size size);
    // The size the picture was last converted at.
    cv::Size size() const { return pixels.size(); }
    // Draws the picture at the context's origin.
    void draw(wxGraphicsContext& context) const;

private:
    // Makes the surface and the pixels over it for pictures of `size`.
    void make_surface(cv::Size size);

    struct surface;
    std::unique_ptr<surface> target;
    cv::Mat pixels; // B, G, R, X over the surface's memory
    cv::Mat packed; // the scaled planes before the colour conversion
};
