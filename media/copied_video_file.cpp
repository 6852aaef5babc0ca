#include "media/copied_video_file.h"

#include "media/av_error.h"

#include <stdexcept>

extern "C" {
#include <libavutil/opt.h>
}

namespace media {

namespace {

// The stream's time stamps are replaced by the file's own frame count: the AVI muxer fills
// gaps between time stamps with empty frames, and a camera's clock jitters.
constexpr AVRational file_time_base{1, copied_video_file::frames_per_second};

bsf_context_handle parameter_set_filter(const stream_parameters& stream) {
    const AVBitStreamFilter* filter = av_bsf_get_by_name("dump_extra");
    if (filter == nullptr)
        throw av_error("av_bsf_get_by_name dump_extra", AVERROR_BSF_NOT_FOUND);
    AVBSFContext* made = nullptr;
    checked(av_bsf_alloc(filter, &made), "av_bsf_alloc");
    bsf_context_handle context(made);
    checked(avcodec_parameters_copy(context->par_in, &stream.codec()), "avcodec_parameters_copy");
    context->time_base_in = stream.time_base();
    // Before every key frame, not only the first.
    checked(av_opt_set(context->priv_data, "freq", "keyframe", 0), "av_opt_set freq");
    checked(av_bsf_init(context.get()), "av_bsf_init");
    return context;
}

} // namespace

bool copied_video_file::can_copy(const stream_parameters& stream) {
    return stream.codec().codec_id == AV_CODEC_ID_H264 && stream.codec().width > 0 &&
           stream.codec().height > 0;
}

copied_video_file::copied_video_file(const std::string& path,
                                     std::shared_ptr<const stream_parameters> stream)
    : parameters(std::move(stream)), parameter_sets(parameter_set_filter(*parameters)) {
    AVCodecParameters* copy = avcodec_parameters_alloc();
    if (copy == nullptr)
        throw av_error("avcodec_parameters_alloc", AVERROR(ENOMEM));
    const std::unique_ptr<AVCodecParameters, void (*)(AVCodecParameters*)> owned(
        copy, [](AVCodecParameters* p) { avcodec_parameters_free(&p); });
    checked(avcodec_parameters_copy(copy, &parameters->codec()), "avcodec_parameters_copy");
    copy->codec_tag = MKTAG('H', '2', '6', '4');
    file.emplace(path, *copy, file_time_base);
}

void copied_video_file::write(const encoded_packet& source) {
    if (source.stream() != parameters)
        throw std::invalid_argument("packet of another opening of the stream");
    if (packets_written == 0 && !source.key())
        throw std::invalid_argument("a copied file must start at a key frame");
    av_packet_unref(packet.get());
    checked(av_packet_ref(packet.get(), &source.av()), "av_packet_ref");
    checked(av_bsf_send_packet(parameter_sets.get(), packet.get()), "av_bsf_send_packet");
    for (;;) {
        const int received = av_bsf_receive_packet(parameter_sets.get(), packet.get());
        if (received == AVERROR(EAGAIN))
            return;
        checked(received, "av_bsf_receive_packet");
        packet->pts = packet->dts = static_cast<int64_t>(packets_written);
        packet->duration = 1;
        try {
            file->write(*packet);
        } catch (...) {
            av_packet_unref(packet.get());
            throw;
        }
        av_packet_unref(packet.get());
        ++packets_written;
    }
}

void copied_video_file::finish() {
    file->finish();
}

} // namespace media
