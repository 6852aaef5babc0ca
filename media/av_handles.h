#pragma once
// Owners for FFmpeg's objects: each frees its object exactly once, on every path.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <memory>

namespace media {

struct frame_deleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct packet_deleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct codec_context_deleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct input_context_deleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct parameters_deleter {
    void operator()(AVCodecParameters* parameters) const { avcodec_parameters_free(&parameters); }
};
struct sws_context_deleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};

using frame_handle = std::unique_ptr<AVFrame, frame_deleter>;
using packet_handle = std::unique_ptr<AVPacket, packet_deleter>;
using codec_context_handle = std::unique_ptr<AVCodecContext, codec_context_deleter>;
using input_context_handle = std::unique_ptr<AVFormatContext, input_context_deleter>;
using parameters_handle = std::unique_ptr<AVCodecParameters, parameters_deleter>;
using sws_context_handle = std::unique_ptr<SwsContext, sws_context_deleter>;

// A new, empty frame, packet or set of stream parameters; throws std::bad_alloc when FFmpeg has
// no memory for one.
frame_handle make_frame();
packet_handle make_packet();
parameters_handle make_parameters();

} // namespace media
