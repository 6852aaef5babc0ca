#include "media/video_clip.h"

#include "media/av_error.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace media {

namespace {

// One source file open for reading its packets in order.
struct clip_source {
    input_context_handle input;
    int stream = -1;

    explicit clip_source(const std::string& path) {
        AVFormatContext* opened = nullptr;
        if (const int code = avformat_open_input(&opened, path.c_str(), nullptr, nullptr); code < 0)
            throw av_error("cannot open " + path, code);
        input.reset(opened);
        stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (stream < 0)
            throw std::runtime_error(path + " holds no video");
    }

    const AVStream& video() const { return *input->streams[stream]; }

    // The 0-based place of a packet, from its time stamp.
    int64_t place_of(const AVPacket& packet, int64_t counted) const {
        const int64_t stamp = packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
        if (stamp == AV_NOPTS_VALUE)
            return counted;
        const int64_t start = video().start_time == AV_NOPTS_VALUE ? 0 : video().start_time;
        return av_rescale_q_rnd(stamp - start, video().time_base, video_clip::frame_duration,
                                static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    }

    void seek_before(int64_t place) {
        const int64_t start = video().start_time == AV_NOPTS_VALUE ? 0 : video().start_time;
        const int64_t target =
            start + av_rescale_q(place, video_clip::frame_duration, video().time_base);
        checked(av_seek_frame(input.get(), stream, target, AVSEEK_FLAG_BACKWARD), "av_seek_frame");
    }
};

bool same_kind(const AVCodecParameters& a, const AVCodecParameters& b) {
    return a.codec_id == b.codec_id && a.width == b.width && a.height == b.height;
}

} // namespace

video_clip::video_clip(std::string path) : path(std::move(path)) {}

video_clip::~video_clip() {
    avcodec_parameters_free(&format);
}

int64_t video_clip::append(const std::string& source_path, int64_t first, int64_t last) {
    clip_source source(source_path);
    const AVCodecParameters& codec = *source.video().codecpar;
    if (format != nullptr && !same_kind(*format, codec))
        throw std::runtime_error(source_path +
                                 " holds another kind of video than the clip's first part");
    source.seek_before(first);
    // Packets from the latest key frame before `first`, held until `first` comes.
    std::vector<packet_handle> lead_in;
    std::optional<int64_t> key_place;
    int64_t counted = 0;
    int64_t place = -1;
    // With B-frames a picture is stored up to this many packets after its place in the order
    // shown: the clip goes on that far, so that every picture up to `last` is in it.
    const int64_t reorder = std::max(0, codec.video_delay);
    while (place < last + reorder) {
        packet_handle packet = make_packet();
        const int read = av_read_frame(source.input.get(), packet.get());
        if (read == AVERROR_EOF)
            break;
        checked(read, "av_read_frame");
        if (packet->stream_index != source.stream)
            continue;
        place = source.place_of(*packet, counted++);
        const bool key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
        if (key && place <= first) {
            lead_in.clear();
            key_place = place;
        }
        if (!key_place) {
            if (place >= first)
                throw std::runtime_error(source_path + " has no key frame at or before frame " +
                                         std::to_string(first));
            continue;
        }
        lead_in.push_back(std::move(packet));
        if (place < first)
            continue;
        for (const packet_handle& held : lead_in)
            write_packet(*held, codec);
        lead_in.clear();
    }
    if (place < last)
        throw std::runtime_error(source_path + " ends before frame " + std::to_string(last));
    return *key_place;
}

void video_clip::write_packet(AVPacket& packet, const AVCodecParameters& codec) {
    if (!file) {
        try {
            file.emplace(path, codec, frame_duration);
        } catch (const av_error& error) {
            throw std::runtime_error("cannot write " + path + ": " + error.what());
        }
        format = avcodec_parameters_alloc();
        if (format == nullptr)
            throw std::bad_alloc();
        checked(avcodec_parameters_copy(format, &codec), "avcodec_parameters_copy");
    }
    packet.pts = packet.dts = written++;
    packet.duration = 1;
    file->write(packet);
}

void video_clip::finish() {
    if (!file)
        throw std::runtime_error("the clip holds no frame");
    file->finish();
}

} // namespace media
