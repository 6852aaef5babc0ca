#include "media/video_file_reader.h"

#include "media/av_error.h"

#include <algorithm>
#include <stdexcept>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
}

namespace media {

namespace {

// How far ahead of the last frame read a wanted frame may lie and still be reached by decoding
// on rather than seeking: the recorder's key-frame interval, beyond which a seek decodes fewer
// frames. In a file of key frames only, a seek always decodes just the one wanted.
constexpr int64_t decode_on_limit = 12;

bool is_yuv420(int format) {
    return format == AV_PIX_FMT_YUV420P || format == AV_PIX_FMT_YUVJ420P;
}

} // namespace

video_file_reader::video_file_reader(const std::string& path)
    : file_path(path), packet(make_packet()) {
    AVFormatContext* opened = nullptr;
    if (const int code = avformat_open_input(&opened, path.c_str(), nullptr, nullptr); code < 0)
        fail("cannot open", code);
    input.reset(opened);
    if (const int code = avformat_find_stream_info(input.get(), nullptr); code < 0)
        fail("cannot read the stream information", code);
    const AVCodec* codec = nullptr;
    stream_index = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream_index < 0 || codec == nullptr)
        fail("holds no video stream that can be decoded", stream_index);
    const AVStream* const stream = input->streams[stream_index];
    decoder.reset(avcodec_alloc_context3(codec));
    if (!decoder)
        throw std::bad_alloc();
    if (const int code = avcodec_parameters_to_context(decoder.get(), stream->codecpar); code < 0)
        fail("has unusable codec parameters", code);
    // One thread: no frame is held back by frame threading, so the picture that comes out is
    // the packet just sent, and a jump decodes no frame more than it needs.
    decoder->thread_count = 1;
    if (const int code = avcodec_open2(decoder.get(), codec, nullptr); code < 0)
        fail("cannot open the decoder", code);
    const AVCodecDescriptor* const descriptor = avcodec_descriptor_get(codec->id);
    intra_only = descriptor != nullptr && (descriptor->props & AV_CODEC_PROP_INTRA_ONLY) != 0;
    reordered = !intra_only && (stream->codecpar->video_delay > 0 || decoder->has_b_frames > 0);
    const AVRational rate =
        stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        frame_duration = av_inv_q(rate);
}

video_frame video_file_reader::read(int64_t frame_in_file) {
    if (frame_in_file < 0)
        fail("has no frame " + std::to_string(frame_in_file));
    if (frame_in_file == last_read_place)
        return last_read;
    const int64_t limit = intra_only ? 1 : decode_on_limit;
    if (frame_in_file <= last_place || frame_in_file > last_place + limit)
        seek_before(frame_in_file);
    for (;;) {
        frame_handle picture = next_picture();
        if (!picture)
            fail("ends before frame " + std::to_string(frame_in_file));
        if (last_place >= frame_in_file) {
            if (last_place > frame_in_file)
                fail("has no picture for frame " + std::to_string(frame_in_file));
            last_read = to_video_frame(std::move(picture));
            last_read_place = frame_in_file;
            return last_read;
        }
    }
}

int64_t video_file_reader::frame_to_timestamp(int64_t frame_in_file) const {
    return av_rescale_q(frame_in_file, frame_duration, input->streams[stream_index]->time_base);
}

int64_t video_file_reader::place_of(const AVFrame& frame) const {
    // A read starts at a key frame, which is shown before every picture stored after it.
    if (reordered)
        return last_place < 0 ? std::max<int64_t>(first_sent_place, 0) : last_place + 1;
    const int64_t stamp = frame.best_effort_timestamp;
    if (stamp == AV_NOPTS_VALUE)
        return last_place + 1;
    return place_of_stamp(stamp);
}

int64_t video_file_reader::place_of_stamp(int64_t stamp) const {
    const AVStream* const stream = input->streams[stream_index];
    const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    // Rounded to the nearest frame: containers with a finer time base may stamp a frame a tick
    // off its exact place.
    return av_rescale_q_rnd(stamp - start, stream->time_base, frame_duration,
                            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

void video_file_reader::seek_before(int64_t frame_in_file) {
    const AVStream* const stream = input->streams[stream_index];
    const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    const int64_t target = start + frame_to_timestamp(frame_in_file);
    if (const int code = av_seek_frame(input.get(), stream_index, target, AVSEEK_FLAG_BACKWARD);
        code < 0)
        fail("cannot seek to frame " + std::to_string(frame_in_file), code);
    avcodec_flush_buffers(decoder.get());
    last_place = -1;
    first_sent_place = -1;
    input_ended = false;
}

frame_handle video_file_reader::next_picture() {
    frame_handle picture = make_frame();
    for (;;) {
        const int received = avcodec_receive_frame(decoder.get(), picture.get());
        if (received == 0) {
            last_place = place_of(*picture);
            return picture;
        }
        if (received == AVERROR_EOF)
            return nullptr;
        if (received != AVERROR(EAGAIN))
            fail("cannot be decoded", received);
        if (input_ended)
            return nullptr;
        const int read = av_read_frame(input.get(), packet.get());
        if (read == AVERROR_EOF) {
            input_ended = true;
            avcodec_send_packet(decoder.get(), nullptr);
            continue;
        }
        if (read < 0)
            fail("cannot be read", read);
        const bool ours = packet->stream_index == stream_index;
        if (ours && first_sent_place < 0) {
            const int64_t stamp = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
            first_sent_place = stamp == AV_NOPTS_VALUE ? 0 : place_of_stamp(stamp);
        }
        const int sent = ours ? avcodec_send_packet(decoder.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        // A damaged packet costs its own picture only; the next key frame decodes again.
        if (sent < 0 && sent != AVERROR_INVALIDDATA)
            fail("cannot be decoded", sent);
    }
}

video_frame video_file_reader::to_video_frame(frame_handle picture) {
    if (is_yuv420(picture->format) && picture->width % 2 == 0 && picture->height % 2 == 0)
        return video_frame(std::move(picture));
    // Other layouts (4:2:2 JPEG, odd sides) become 4:2:0 at the nearest even size.
    const int width = std::max(2, picture->width & ~1);
    const int height = std::max(2, picture->height & ~1);
    converter.reset(sws_getCachedContext(converter.release(), picture->width, picture->height,
                                         static_cast<AVPixelFormat>(picture->format), width, height,
                                         AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr,
                                         nullptr));
    if (!converter)
        fail("has a picture format that cannot be converted");
    frame_handle converted = make_frame();
    converted->format = AV_PIX_FMT_YUV420P;
    converted->width = width;
    converted->height = height;
    if (av_frame_get_buffer(converted.get(), 0) < 0)
        throw std::bad_alloc();
    sws_scale(converter.get(), picture->data, picture->linesize, 0, picture->height,
              converted->data, converted->linesize);
    return video_frame(std::move(converted));
}

void video_file_reader::fail(const std::string& what, int code) const {
    std::string text = file_path + ": " + what;
    if (code < 0)
        text += " (" + av_error_text(code) + ")";
    throw std::runtime_error(text);
}

} // namespace media
