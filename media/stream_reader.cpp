#include "media/stream_reader.h"

#include "media/av_error.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <utility>

namespace media {

namespace {

std::once_flag network_ready;

// Owns the options handed to the demuxer; it leaves behind the ones it did not use.
struct dictionary_owner {
    AVDictionary* entries = nullptr;
    dictionary_owner() = default;
    ~dictionary_owner() { av_dict_free(&entries); }
    dictionary_owner(const dictionary_owner&) = delete;
    dictionary_owner& operator=(const dictionary_owner&) = delete;
};

double to_double(AVRational rational) {
    return rational.num == 0 || rational.den == 0
               ? 0.0
               : static_cast<double>(rational.num) / rational.den;
}

// The stream's rate as the journal has always shown it: the real frame rate, else the average.
double journal_fps(const AVStream& stream) {
    const double real = to_double(stream.r_frame_rate);
    return real > 0.0 ? real : to_double(stream.avg_frame_rate);
}

open_failure reason_of(int av_code) {
    switch (av_code) {
    case AVERROR_HTTP_UNAUTHORIZED:
        return open_failure::login_refused;
    case AVERROR_HTTP_NOT_FOUND:
        return open_failure::not_found;
    case AVERROR(ECONNREFUSED):
        return open_failure::connection_refused;
    case AVERROR(ETIMEDOUT):
    case AVERROR_EXIT: // the interrupt callback: the deadline passed (a stop is never reported)
        return open_failure::no_answer;
    default:
        return open_failure::other;
    }
}

} // namespace

uint32_t journal_fourcc(const AVCodecParameters& codec) {
    if (codec.codec_tag != 0 || codec.codec_id == AV_CODEC_ID_NONE)
        return codec.codec_tag;
    const char* name = avcodec_get_name(codec.codec_id);
    if (name == nullptr || std::strlen(name) < 4 || std::strcmp(name, "unknown_codec") == 0)
        return 0;
    const auto letter = [name](int index) {
        return static_cast<uint32_t>(static_cast<unsigned char>(name[index]));
    };
    return letter(0) | letter(1) << 8 | letter(2) << 16 | letter(3) << 24;
}

stream_reader::stream_reader(std::chrono::milliseconds timeout, std::function<bool()> stop_test)
    : timeout(timeout), stop_test(std::move(stop_test)), packet(make_packet()) {}

stream_reader::~stream_reader() {
    close();
}

bool stream_reader::stop_requested() const {
    return stop_flag.load() || (stop_test && stop_test());
}

int stream_reader::interrupt_callback(void* reader) {
    return static_cast<const stream_reader*>(reader)->must_interrupt() ? 1 : 0;
}

bool stream_reader::must_interrupt() const {
    return std::chrono::steady_clock::now() > deadline || stop_requested();
}

void stream_reader::start_deadline() {
    deadline = std::chrono::steady_clock::now() + timeout;
}

bool stream_reader::open(const std::string& url) {
    close();
    failed = open_failure::none;
    failed_text.clear();
    if (stop_requested())
        return false;
    std::call_once(network_ready, [] { avformat_network_init(); });
    AVFormatContext* context = avformat_alloc_context();
    if (context == nullptr)
        throw std::bad_alloc();
    context->interrupt_callback = {&stream_reader::interrupt_callback, this};
    dictionary_owner options;
    av_dict_set(&options.entries, "rtsp_transport", "tcp", 0);
    start_deadline();
    // On failure the demuxer frees the context itself.
    const int opened_input = avformat_open_input(&context, url.c_str(), nullptr, &options.entries);
    if (opened_input < 0)
        return fail(reason_of(opened_input), opened_input);
    input.reset(context);
    const int found = avformat_find_stream_info(input.get(), nullptr);
    if (found < 0) {
        close();
        return fail(reason_of(found), found);
    }
    if (!open_decoder()) {
        close();
        return fail(open_failure::other, AVERROR_DECODER_NOT_FOUND);
    }
    const AVStream& stream = *input->streams[video_stream];
    opened.fps = journal_fps(stream);
    opened.fourcc = journal_fourcc(*stream.codecpar);
    opened.width = stream.codecpar->width;
    opened.height = stream.codecpar->height;
    opened.codec = stream.codecpar->codec_id;
    parameters = std::make_shared<const stream_parameters>(stream);
    return true;
}

bool stream_reader::fail(open_failure reason, int av_code) {
    // A deadline that passed is the camera's silence, whatever the demuxer made of it.
    failed = reason == open_failure::other && std::chrono::steady_clock::now() > deadline
                 ? open_failure::no_answer
                 : reason;
    failed_text = av_error_text(av_code);
    return false;
}

bool stream_reader::open_decoder() {
    video_stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video_stream < 0)
        return false;
    for (unsigned index = 0; index < input->nb_streams; ++index)
        if (static_cast<int>(index) != video_stream)
            input->streams[index]->discard = AVDISCARD_ALL;
    const AVStream& stream = *input->streams[video_stream];
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    if (codec == nullptr)
        return false;
    decoder.reset(avcodec_alloc_context3(codec));
    if (!decoder)
        throw std::bad_alloc();
    if (avcodec_parameters_to_context(decoder.get(), stream.codecpar) < 0)
        return false;
    decoder->pkt_timebase = stream.time_base;
    // One thread and no frame delay: each packet gives its picture at once. A stream whose
    // pictures are sent out of order (B-frames) keeps the decoder's reordering, or pictures
    // would come in the wrong order and the first ones be lost.
    decoder->thread_count = 1;
    if (stream.codecpar->video_delay == 0)
        decoder->flags |= AV_CODEC_FLAG_LOW_DELAY;
    if ((codec->capabilities & AV_CODEC_CAP_DR1) != 0) {
        // Frame threads would call the pool from several threads; none is asked for.
        decoder->thread_type = FF_THREAD_SLICE;
        decoder->opaque = this;
        decoder->get_buffer2 = pooled_picture;
    }
    return avcodec_open2(decoder.get(), codec, nullptr) >= 0;
}

void stream_reader::close() {
    // Room for the goodbye to the camera, unless a stop cuts it short.
    start_deadline();
    decoder.reset();
    draining = false;
    input.reset();
    video_stream = -1;
    parameters.reset();
    opened = stream_facts();
}

bool stream_reader::read(video_frame& picture, std::vector<encoded_packet>& packets) {
    packets.clear();
    if (!is_open())
        return false;
    start_deadline();
    try {
        while (!must_interrupt()) {
            if (receive_picture(picture))
                return true;
            if (av_read_frame(input.get(), packet.get()) < 0)
                break;
            const bool sent = send_packet(*packet, packets);
            av_packet_unref(packet.get());
            if (!sent)
                break;
        }
    } catch (const std::invalid_argument&) {
        // A picture the recorder cannot take: treated as a broken stream.
    }
    // A stop leaves the decoder's last pictures to be drained; the owner closes.
    if (!stop_requested())
        close();
    return false;
}

bool stream_reader::drain(video_frame& picture) {
    if (!decoder)
        return false;
    if (!draining) {
        draining = true;
        if (avcodec_send_packet(decoder.get(), nullptr) < 0)
            return false;
    }
    try {
        return receive_picture(picture);
    } catch (const std::invalid_argument&) {
        return false;
    }
}

bool stream_reader::send_packet(const AVPacket& video_packet,
                                std::vector<encoded_packet>& packets) {
    if (video_packet.stream_index != video_stream)
        return true;
    if (keeping_packets)
        packets.emplace_back(video_packet, parameters);
    const int result = avcodec_send_packet(decoder.get(), &video_packet);
    // A damaged packet is skipped; the read's deadline ends a stream that gives nothing else.
    return result >= 0 || result == AVERROR_INVALIDDATA || result == AVERROR(EAGAIN);
}

int stream_reader::pooled_picture(AVCodecContext* context, AVFrame* frame, int flags) {
    const auto format = static_cast<AVPixelFormat>(frame->format);
    if (format != AV_PIX_FMT_YUV420P && format != AV_PIX_FMT_YUVJ420P)
        return avcodec_default_get_buffer2(context, frame, flags);
    // The decoder's own sizes and row alignment, as its default allocator takes them.
    int width = frame->width;
    int height = frame->height;
    int alignment[AV_NUM_DATA_POINTERS];
    avcodec_align_dimensions2(context, &width, &height, alignment);
    int linesize[4] = {};
    for (;;) {
        if (av_image_fill_linesizes(linesize, format, width) < 0)
            return AVERROR(EINVAL);
        if (linesize[0] % alignment[0] == 0 && linesize[1] % alignment[1] == 0 &&
            linesize[2] % alignment[2] == 0)
            break;
        width += width & ~(width - 1);
    }
    const ptrdiff_t strides[4] = {linesize[0], linesize[1], linesize[2], 0};
    size_t plane_bytes[4] = {};
    if (av_image_fill_plane_sizes(plane_bytes, format, height, strides) < 0)
        return AVERROR(EINVAL);
    // Room past the last row for the decoders' vector reads.
    const std::size_t size = plane_bytes[0] + plane_bytes[1] + plane_bytes[2] + 16 + 64;
    auto& reader = *static_cast<stream_reader*>(context->opaque);
    if (!reader.decoded_pictures || reader.decoded_pictures->size() != size)
        reader.decoded_pictures.emplace(size);
    try {
        frame->buf[0] = reader.decoded_pictures->take();
    } catch (const std::bad_alloc&) {
        return AVERROR(ENOMEM);
    }
    frame->data[0] = frame->buf[0]->data;
    frame->data[1] = frame->data[0] + plane_bytes[0];
    frame->data[2] = frame->data[1] + plane_bytes[1];
    for (int plane = 0; plane < 3; ++plane)
        frame->linesize[plane] = linesize[plane];
    frame->extended_data = frame->data;
    return 0;
}

bool stream_reader::receive_picture(video_frame& picture) {
    frame_handle decoded = make_frame();
    if (avcodec_receive_frame(decoder.get(), decoded.get()) < 0)
        return false;
    picture = normaliser.normalise(std::move(decoded));
    return true;
}

} // namespace media
