#include "media/encoded_video_file.h"

#include "media/av_error.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

extern "C" {
#include <libavutil/opt.h>
}

namespace media {

namespace {

struct encoder_choice {
    const char* encoder_name;
    bool full_range;
    // Bits per pixel and second that the files' rate control allows.
    double bitrate_scale;
};

std::optional<encoder_choice> choice_for(uint32_t fourcc) {
    switch (fourcc) {
    case MKTAG('M', 'J', 'P', 'G'):
        return encoder_choice{"mjpeg", true, 3};
    case MKTAG('X', 'V', 'I', 'D'):
    case MKTAG('D', 'I', 'V', 'X'):
        return encoder_choice{"mpeg4", false, 1};
    case MKTAG('X', '2', '6', '4'):
        return encoder_choice{"libx264", false, 1};
    default:
        return std::nullopt;
    }
}

// MJPEG at a fixed quantiser 3, the quality the recorder's MJPEG files have always had.
constexpr int mjpeg_quantiser = 3;

void configure(AVCodecContext& context, const AVCodec& codec, const encoder_choice& choice,
               uint32_t fourcc, int width, int height) {
    context.codec_tag = fourcc;
    context.width = width;
    context.height = height;
    context.time_base = AVRational{1, encoded_video_file::frames_per_second};
    context.framerate = AVRational{encoded_video_file::frames_per_second, 1};
    context.pix_fmt = choice.full_range ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    context.color_range = choice.full_range ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    // Slice threads grow MJPEG files by a sixth to two thirds; the two cameras keep both cores
    // busy anyway.
    context.thread_count = 1;
    const double bitrate =
        std::min(choice.bitrate_scale * encoded_video_file::frames_per_second * width * height,
                 double(INT_MAX) / 2);
    const int64_t allowed = std::min<int64_t>(int64_t(bitrate * 2 + 0.5), INT_MAX);
    context.bit_rate = allowed;
    context.bit_rate_tolerance = static_cast<int>(allowed);
    context.gop_size = 12;
    context.qmin = 3;
    if (codec.id == AV_CODEC_ID_H264) {
        // libx264 chooses its own group and quantisers; a constant quality of 23.
        context.gop_size = -1;
        context.qmin = -1;
        checked(av_opt_set(context.priv_data, "crf", "23", 0), "av_opt_set crf");
    }
    if (codec.id == AV_CODEC_ID_MJPEG) {
        context.flags |= AV_CODEC_FLAG_QSCALE;
        context.global_quality = FF_QP2LAMBDA * mjpeg_quantiser;
    }
}

} // namespace

bool encoded_video_file::can_encode(uint32_t fourcc) {
    const auto choice = choice_for(fourcc);
    return choice && avcodec_find_encoder_by_name(choice->encoder_name) != nullptr;
}

bool encoded_video_file::wants_full_range(uint32_t fourcc) {
    const auto choice = choice_for(fourcc);
    return choice && choice->full_range;
}

encoded_video_file::encoded_video_file(const std::string& path, uint32_t fourcc, int width,
                                       int height) {
    const auto choice = choice_for(fourcc);
    const AVCodec* codec = choice ? avcodec_find_encoder_by_name(choice->encoder_name) : nullptr;
    if (codec == nullptr)
        throw std::invalid_argument("no encoder for this four-character code");
    encoder.reset(avcodec_alloc_context3(codec));
    if (!encoder)
        throw av_error("avcodec_alloc_context3", AVERROR(ENOMEM));
    configure(*encoder, *codec, *choice, fourcc, width, height);
    full_range = choice->full_range;
    checked(avcodec_open2(encoder.get(), codec, nullptr), "avcodec_open2");
    AVCodecParameters* parameters = avcodec_parameters_alloc();
    if (parameters == nullptr)
        throw av_error("avcodec_parameters_alloc", AVERROR(ENOMEM));
    const std::unique_ptr<AVCodecParameters, void (*)(AVCodecParameters*)> owned(
        parameters, [](AVCodecParameters* p) { avcodec_parameters_free(&p); });
    checked(avcodec_parameters_from_context(parameters, encoder.get()),
            "avcodec_parameters_from_context");
    file.emplace(path, *parameters, encoder->time_base);
}

frame_handle encoded_video_file::frame_for_encoder(const video_frame& picture) const {
    if (picture.width() != encoder->width || picture.height() != encoder->height)
        throw std::invalid_argument("picture size differs from the file's");
    const AVPixelFormat wanted = full_range ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    // A picture already in the encoder's range is only referenced, never copied.
    if (picture.full_range() != full_range || picture.av()->format != wanted) {
        frame_handle copy = picture.copy_in_range(full_range);
        copy->format = wanted;
        return copy;
    }
    frame_handle reference = make_frame();
    checked(av_frame_ref(reference.get(), picture.av()), "av_frame_ref");
    return reference;
}

std::size_t encoded_video_file::write(const video_frame& picture) {
    frame_handle frame = frame_for_encoder(picture);
    frame->pts = next_pts++;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    frame->quality = encoder->global_quality;
    return send(frame.get());
}

std::size_t encoded_video_file::finish() {
    const std::size_t flushed = send(nullptr);
    file->finish();
    return flushed;
}

std::size_t encoded_video_file::send(const AVFrame* frame) {
    checked(avcodec_send_frame(encoder.get(), frame), "avcodec_send_frame");
    std::size_t written = 0;
    for (;;) {
        const int received = avcodec_receive_packet(encoder.get(), packet.get());
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return written;
        checked(received, "avcodec_receive_packet");
        file->write(*packet);
        av_packet_unref(packet.get());
        ++written;
    }
}

} // namespace media
