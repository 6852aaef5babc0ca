#include "media/video_frame.h"

#include "media/buffer_pool.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <stdexcept>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixfmt.h>
}

namespace media {

namespace {

bool is_yuv420(int format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

// A writable view of a plane of a frame this code owns.
cv::Mat writable_plane(AVFrame* frame, int index) {
    const cv::Size size = plane_size(index, frame->width, frame->height);
    return cv::Mat(size, CV_8UC1, frame->data[index], static_cast<size_t>(frame->linesize[index]));
}

// Picture buffers of a few sizes, each size from a pool of its own. A writer copies one
// picture per frame, all of one size: reused buffers then cost no allocation and no fresh pages,
// and a backlog's extra buffers are freed once it is written. A buffer goes back to its pool on
// whichever thread drops the last reference.
class picture_pools {
public:
    AVBufferRef* take(std::size_t size) {
        const auto found =
            std::find_if(pools.begin(), pools.end(),
                         [size](const buffer_pool& pool) { return pool.size() == size; });
        if (found != pools.end())
            return found->take();
        if (pools.size() == max_sizes)
            pools.erase(pools.begin());
        pools.emplace_back(size);
        return pools.back().take();
    }

private:
    static constexpr std::size_t max_sizes = 4;
    std::vector<buffer_pool> pools;
};

// Rows aligned for the encoders' and converters' vector code.
constexpr int row_alignment = 64;

frame_handle allocate_yuv420(int width, int height, bool full) {
    thread_local picture_pools pools;
    frame_handle frame = make_frame();
    const AVPixelFormat format = full ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    frame->format = format;
    frame->color_range = full ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    frame->width = width;
    frame->height = height;
    const int size = av_image_get_buffer_size(format, width, height, row_alignment);
    if (size < 0)
        throw std::invalid_argument("no picture of that size");
    frame->buf[0] = pools.take(static_cast<std::size_t>(size));
    if (frame->buf[0] == nullptr)
        throw std::bad_alloc();
    if (av_image_fill_arrays(frame->data, frame->linesize, frame->buf[0]->data, format, width,
                             height, row_alignment) < 0)
        throw std::invalid_argument("no picture of that size");
    return frame;
}

// Video-range I420 rows (Y, then U, then V, each tightly packed) as one frame.
video_frame from_packed_i420(const cv::Mat& i420, int width, int height) {
    frame_handle frame = allocate_yuv420(width, height, false);
    const unsigned char* source = i420.data;
    for (int index = 0; index < 3; ++index) {
        const cv::Size size = plane_size(index, width, height);
        cv::Mat(size, CV_8UC1, const_cast<unsigned char*>(source))
            .copyTo(writable_plane(frame.get(), index));
        source += size.area();
    }
    return video_frame(std::move(frame));
}

video_frame from_8bit_picture(const cv::Mat& picture, int conversion) {
    if (picture.empty() || picture.type() != CV_8UC3 || picture.cols % 2 != 0 ||
        picture.rows % 2 != 0)
        throw std::invalid_argument("picture must be 8-bit, 3 channels, even width and height");
    cv::Mat i420;
    cv::cvtColor(picture, i420, conversion);
    return from_packed_i420(i420, picture.cols, picture.rows);
}

// The three planes, each brought to video range and to the plane sizes of `size`, packed one
// after the other as OpenCV's I420 conversions expect. `packed` keeps its buffer between calls.
void pack_i420(const video_frame& frame, cv::Size size, cv::Mat& packed) {
    packed.create(size.height * 3 / 2, size.width, CV_8UC1);
    unsigned char* target = packed.data;
    const bool same_size = size.width == frame.width() && size.height == frame.height();
    for (int index = 0; index < 3; ++index) {
        const cv::Size plane = plane_size(index, size.width, size.height);
        cv::Mat destination(plane, CV_8UC1, target);
        if (same_size) {
            convert_plane_range(frame.plane(index), frame.full_range(), destination, false,
                                index == 0);
        } else {
            // Scaling first keeps the range conversion to the pixels that are shown; both work
            // in the packed buffer itself.
            cv::resize(frame.plane(index), destination, plane, 0, 0, cv::INTER_LINEAR);
            convert_plane_range(destination, frame.full_range(), destination, false, index == 0);
        }
        target += plane.area();
    }
}

} // namespace

cv::Size even_size(cv::Size size) {
    return {std::max(2, size.width & ~1), std::max(2, size.height & ~1)};
}

cv::Size plane_size(int index, int width, int height) {
    return index == 0 ? cv::Size(width, height) : cv::Size((width + 1) / 2, (height + 1) / 2);
}

void convert_plane_range(const cv::Mat& from, bool from_full, cv::Mat& to, bool to_full,
                         bool luma) {
    if (from_full == to_full) {
        from.copyTo(to);
        return;
    }
    // Video range spans 219 levels of luma from 16 and 224 levels of chroma around 128.
    const double span = luma ? 219.0 : 224.0;
    const double scale = to_full ? 255.0 / span : span / 255.0;
    const double zero = luma ? 16.0 : 128.0;
    const double offset = luma ? (to_full ? -zero * scale : zero) : zero * (1.0 - scale);
    from.convertTo(to, CV_8U, scale, offset);
}

video_frame::video_frame(frame_handle decoded) {
    if (!decoded || !is_yuv420(decoded->format) || decoded->width <= 0 || decoded->height <= 0 ||
        decoded->width % 2 != 0 || decoded->height % 2 != 0)
        throw std::invalid_argument("video_frame takes 4:2:0 YUV with even width and height");
    picture = std::shared_ptr<const AVFrame>(decoded.release(), frame_deleter());
}

video_frame video_frame::from_rgb(const cv::Mat& rgb) {
    return from_8bit_picture(rgb, cv::COLOR_RGB2YUV_I420);
}

video_frame video_frame::from_bgr(const cv::Mat& bgr) {
    return from_8bit_picture(bgr, cv::COLOR_BGR2YUV_I420);
}

bool video_frame::full_range() const {
    return picture &&
           (picture->format == AV_PIX_FMT_YUVJ420P || picture->color_range == AVCOL_RANGE_JPEG);
}

std::size_t video_frame::bytes() const {
    if (!picture)
        return 0;
    std::size_t total = 0;
    for (const AVBufferRef* buffer : picture->buf)
        if (buffer != nullptr)
            total += buffer->size;
    return total;
}

cv::Mat video_frame::plane(int index) const {
    const cv::Size size = plane_size(index, width(), height());
    return cv::Mat(size, CV_8UC1, picture->data[index],
                   static_cast<size_t>(picture->linesize[index]));
}

void video_frame::to_rgb(cv::Mat& rgb) const {
    to_rgb_scaled(cv::Size(width(), height()), rgb);
}

void video_frame::to_bgr(cv::Mat& bgr) const {
    cv::Mat packed;
    pack_i420(*this, cv::Size(width(), height()), packed);
    cv::cvtColor(packed, bgr, cv::COLOR_YUV2BGR_I420);
}

void video_frame::to_rgb_scaled(cv::Size size, cv::Mat& rgb) const {
    cv::Mat packed;
    pack_i420(*this, even_size(size), packed);
    cv::cvtColor(packed, rgb, cv::COLOR_YUV2RGB_I420);
}

void video_frame::to_bgrx_scaled(cv::Size size, cv::Mat& bgrx, cv::Mat& packed) const {
    pack_i420(*this, even_size(size), packed);
    cv::cvtColor(packed, bgrx, cv::COLOR_YUV2BGRA_I420);
}

frame_handle video_frame::copy_in_range(bool full) const {
    frame_handle copy = allocate_yuv420(width(), height(), full);
    av_frame_copy_props(copy.get(), picture.get());
    copy->color_range = full ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    for (int index = 0; index < 3; ++index) {
        cv::Mat target = writable_plane(copy.get(), index);
        convert_plane_range(plane(index), full_range(), target, full, index == 0);
    }
    return copy;
}

} // namespace media
