#include "media/frame_normaliser.h"

#include <new>
#include <stdexcept>
#include <string>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace media {

namespace {

bool is_yuv420(int format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

bool is_full_range(const AVFrame& frame) {
    switch (frame.format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
        return true;
    default:
        return frame.color_range == AVCOL_RANGE_JPEG;
    }
}

bool is_rgb(int format) {
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(format));
    return descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_RGB) != 0;
}

} // namespace

video_frame frame_normaliser::normalise(frame_handle decoded) {
    const int width = decoded->width & ~1;
    const int height = decoded->height & ~1;
    if (width < 2 || height < 2)
        throw std::invalid_argument("picture smaller than 2x2");
    if (!is_yuv420(decoded->format))
        return converted(*decoded, width, height);
    // The planes of the larger picture hold the smaller one as they are.
    decoded->width = width;
    decoded->height = height;
    return video_frame(std::move(decoded));
}

video_frame frame_normaliser::converted(const AVFrame& source, int width, int height) {
    const auto source_format = static_cast<AVPixelFormat>(source.format);
    // A camera sending JPEG levels keeps them; RGB becomes video range like any encoder input.
    const bool full = !is_rgb(source.format) && is_full_range(source);
    const AVPixelFormat target = full ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    context.reset(sws_getCachedContext(context.release(), width, height, source_format, width,
                                       height, target, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!context)
        throw std::invalid_argument(std::string("cannot convert pictures of format ") +
                                    (av_get_pix_fmt_name(source_format) != nullptr
                                         ? av_get_pix_fmt_name(source_format)
                                         : "unknown"));
    if (!is_rgb(source.format)) {
        // The format alone does not tell sws a 4:2:2 camera's range; say it, and keep it.
        const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
        sws_setColorspaceDetails(context.get(), coefficients, full ? 1 : 0, coefficients,
                                 full ? 1 : 0, 0, 1 << 16, 1 << 16);
    }
    frame_handle picture = make_frame();
    picture->format = target;
    picture->width = width;
    picture->height = height;
    if (av_frame_get_buffer(picture.get(), 0) < 0)
        throw std::bad_alloc();
    av_frame_copy_props(picture.get(), &source);
    picture->color_range = full ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    sws_scale(context.get(), source.data, source.linesize, 0, height, picture->data,
              picture->linesize);
    return video_frame(std::move(picture));
}

} // namespace media
