#include "media/avi_file.h"

#include "media/av_error.h"

namespace media {

void output_context_deleter::operator()(AVFormatContext* context) const {
    if (context->pb != nullptr)
        avio_closep(&context->pb);
    avformat_free_context(context);
}

avi_file::avi_file(const std::string& path, const AVCodecParameters& codec, AVRational time_base)
    : packet_time_base(time_base) {
    AVFormatContext* opened = nullptr;
    checked(avformat_alloc_output_context2(&opened, nullptr, "avi", path.c_str()),
            "avformat_alloc_output_context2");
    context.reset(opened);
    AVStream* stream = avformat_new_stream(context.get(), nullptr);
    if (stream == nullptr)
        throw av_error("avformat_new_stream", AVERROR(ENOMEM));
    checked(avcodec_parameters_copy(stream->codecpar, &codec), "avcodec_parameters_copy");
    stream->time_base = time_base;
    stream->avg_frame_rate = av_inv_q(time_base);
    checked(avio_open(&context->pb, path.c_str(), AVIO_FLAG_WRITE), "avio_open");
    checked(avformat_write_header(context.get(), nullptr), "avformat_write_header");
    on_disk.emplace(path);
}

void avi_file::write(AVPacket& packet) {
    packet.stream_index = 0;
    av_packet_rescale_ts(&packet, packet_time_base, context->streams[0]->time_base);
    checked(av_write_frame(context.get(), &packet), "av_write_frame");
    // The muxer buffers; without a flush a full disk would surface only for later frames.
    avio_flush(context->pb);
    checked(context->pb->error, "avio_flush");
}

bool avi_file::sync() {
    return on_disk && on_disk->is_open() && on_disk->sync();
}

void avi_file::finish() {
    checked(av_write_trailer(context.get()), "av_write_trailer");
    checked(avio_closep(&context->pb), "avio_closep");
    // The trailer, the file's index, reaches the disk before the trip's index says it is done.
    if (!sync())
        throw av_error("fsync", AVERROR(EIO));
}

} // namespace media
