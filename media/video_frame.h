#pragma once
// One picture in 8-bit 4:2:0 YUV, as the camera's decoder gave it. Copies of a video_frame share
// the pixels and never change them, so the capture thread, the display slot and the frame queue
// can hold the same picture without copying it; whoever needs to draw on it takes a private copy.

#include "media/av_handles.h"

#include <cstddef>
#include <memory>
#include <opencv2/core/mat.hpp>

namespace media {

class video_frame {
public:
    video_frame() = default;
    // Takes a frame in YUV420P or YUVJ420P with even width and height; throws
    // std::invalid_argument for anything else.
    explicit video_frame(frame_handle picture);

    // Video-range YUV of an 8-bit picture with even width and height: for tests, benchmarks and
    // the test tools.
    static video_frame from_rgb(const cv::Mat& rgb);
    static video_frame from_bgr(const cv::Mat& bgr);

    bool empty() const { return !picture; }
    int width() const { return picture ? picture->width : 0; }
    int height() const { return picture ? picture->height : 0; }
    // Full range (JPEG levels 0..255) rather than video range (16..235, chroma 16..240).
    bool full_range() const;
    // The bytes of the buffers behind the picture: what holding it costs.
    std::size_t bytes() const;
    const AVFrame* av() const { return picture.get(); }

    // A view of plane 0 (Y), 1 (U) or 2 (V) over the shared pixels; never write through it.
    cv::Mat plane(int index) const;

    // The whole picture as 8-bit RGB or BGR.
    void to_rgb(cv::Mat& rgb) const;
    void to_bgr(cv::Mat& bgr) const;
    // The picture at `size` as 8-bit RGB, scaled plane by plane before the colour conversion
    // so that only the pixels shown are converted.
    void to_rgb_scaled(cv::Size size, cv::Mat& rgb) const;
    // The picture at even_size(size) as 32-bit pixels B, G, R, 255: on a little-endian machine
    // the native 0xAARRGGBB word of the toolkits' drawing surfaces. A `bgrx` of that size and
    // type (a view over a surface's memory, say) is written in place; it and the caller's
    // scratch `packed` are kept between pictures, so the live view allocates nothing per picture.
    void to_bgrx_scaled(cv::Size size, cv::Mat& bgrx, cv::Mat& packed) const;
    // A private, writable copy in full or video range.
    frame_handle copy_in_range(bool full) const;

private:
    std::shared_ptr<const AVFrame> picture;
};

// The size a scaled conversion gives for `size`: 4:2:0 conversions want even sides, so an odd
// side loses one column or row.
cv::Size even_size(cv::Size size);

// Width and height of plane `index` of a 4:2:0 picture of that size.
cv::Size plane_size(int index, int width, int height);

// Converts one plane between full and video range (or copies it when the ranges agree).
// `luma` tells Y from U and V, whose ranges differ.
void convert_plane_range(const cv::Mat& from, bool from_full, cv::Mat& to, bool to_full, bool luma);

} // namespace media
