#include "media/encoded_packet.h"

#include <new>

namespace media {

stream_parameters::stream_parameters(const AVStream& stream)
    : parameters(avcodec_parameters_alloc()), base(stream.time_base) {
    if (parameters == nullptr)
        throw std::bad_alloc();
    if (avcodec_parameters_copy(parameters, stream.codecpar) < 0) {
        avcodec_parameters_free(&parameters);
        throw std::bad_alloc();
    }
}

stream_parameters::~stream_parameters() {
    avcodec_parameters_free(&parameters);
}

encoded_packet::encoded_packet(const AVPacket& source,
                               std::shared_ptr<const stream_parameters> stream)
    : parameters(std::move(stream)) {
    packet_handle copy = make_packet();
    if (av_packet_ref(copy.get(), &source) < 0)
        throw std::bad_alloc();
    packet = std::shared_ptr<const AVPacket>(copy.release(), packet_deleter());
}

} // namespace media
