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
    // libavcodec's encoder; empty for MJPEG, which libjpeg-turbo encodes.
    const char* encoder_name;
    bool full_range;
};

constexpr uint32_t mjpeg_fourcc = MKTAG('M', 'J', 'P', 'G');

std::optional<encoder_choice> choice_for(uint32_t fourcc) {
    switch (fourcc) {
    case mjpeg_fourcc:
        return encoder_choice{"", true};
    case MKTAG('X', 'V', 'I', 'D'):
    case MKTAG('D', 'I', 'V', 'X'):
        return encoder_choice{"mpeg4", false};
    case MKTAG('X', '2', '6', '4'):
        return encoder_choice{"libx264", false};
    default:
        return std::nullopt;
    }
}

void configure(AVCodecContext& context, const AVCodec& codec, uint32_t fourcc, int width,
               int height) {
    context.codec_tag = fourcc;
    context.width = width;
    context.height = height;
    context.time_base = AVRational{1, encoded_video_file::frames_per_second};
    context.framerate = AVRational{encoded_video_file::frames_per_second, 1};
    context.pix_fmt = AV_PIX_FMT_YUV420P;
    context.color_range = AVCOL_RANGE_MPEG;
    // The two cameras keep both cores busy anyway.
    context.thread_count = 1;
    const double bitrate = std::min(double(encoded_video_file::frames_per_second) * width * height,
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
}

} // namespace

bool encoded_video_file::can_encode(uint32_t fourcc) {
    const auto choice = choice_for(fourcc);
    return choice && (fourcc == mjpeg_fourcc ||
                      avcodec_find_encoder_by_name(choice->encoder_name) != nullptr);
}

bool encoded_video_file::wants_full_range(uint32_t fourcc) {
    const auto choice = choice_for(fourcc);
    return choice && choice->full_range;
}

encoded_video_file::encoded_video_file(const std::string& path, uint32_t fourcc, int width,
                                       int height)
    : picture_width(width), picture_height(height) {
    const auto choice = choice_for(fourcc);
    if (!choice)
        throw std::invalid_argument("no encoder for this four-character code");
    full_range = choice->full_range;
    if (fourcc == mjpeg_fourcc)
        open_jpeg(path, fourcc);
    else
        open_libavcodec(path, fourcc);
}

void encoded_video_file::open_libavcodec(const std::string& path, uint32_t fourcc) {
    const AVCodec* codec = avcodec_find_encoder_by_name(choice_for(fourcc)->encoder_name);
    if (codec == nullptr)
        throw std::invalid_argument("no encoder for this four-character code");
    encoder.reset(avcodec_alloc_context3(codec));
    if (!encoder)
        throw av_error("avcodec_alloc_context3", AVERROR(ENOMEM));
    configure(*encoder, *codec, fourcc, picture_width, picture_height);
    checked(avcodec_open2(encoder.get(), codec, nullptr), "avcodec_open2");
    const parameters_handle parameters = make_parameters();
    checked(avcodec_parameters_from_context(parameters.get(), encoder.get()),
            "avcodec_parameters_from_context");
    file.emplace(path, *parameters, encoder->time_base);
}

void encoded_video_file::open_jpeg(const std::string& path, uint32_t fourcc) {
    jpeg = std::make_unique<jpeg_encoder>(jpeg_settings::video());
    const parameters_handle parameters = make_parameters();
    parameters->codec_type = AVMEDIA_TYPE_VIDEO;
    parameters->codec_id = AV_CODEC_ID_MJPEG;
    parameters->codec_tag = fourcc;
    parameters->format = AV_PIX_FMT_YUVJ420P;
    parameters->color_range = AVCOL_RANGE_JPEG;
    parameters->width = picture_width;
    parameters->height = picture_height;
    file.emplace(path, *parameters, AVRational{1, frames_per_second});
}

frame_handle encoded_video_file::frame_for_encoder(const video_frame& picture) const {
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
    if (picture.width() != picture_width || picture.height() != picture_height)
        throw std::invalid_argument("picture size differs from the file's");
    if (jpeg)
        return write_jpeg(picture);
    frame_handle frame = frame_for_encoder(picture);
    frame->pts = next_pts++;
    frame->pict_type = AV_PICTURE_TYPE_NONE;
    frame->quality = encoder->global_quality;
    return send(frame.get());
}

std::size_t encoded_video_file::write_jpeg(const video_frame& picture) {
    const jpeg_bytes bytes = jpeg->encode(picture);
    // The muxer writes the packet out before av_write_frame returns: it may borrow the bytes.
    packet->data = const_cast<uint8_t*>(bytes.data);
    packet->size = static_cast<int>(bytes.size);
    packet->pts = packet->dts = next_pts++;
    packet->duration = 1;
    packet->flags = AV_PKT_FLAG_KEY;
    file->write(*packet);
    av_packet_unref(packet.get());
    return 1;
}

std::size_t encoded_video_file::finish() {
    const std::size_t flushed = jpeg ? 0 : send(nullptr);
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
