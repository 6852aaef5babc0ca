#include "media/av_handles.h"

#include <new>

namespace media {

frame_handle make_frame() {
    frame_handle frame(av_frame_alloc());
    if (!frame)
        throw std::bad_alloc();
    return frame;
}

packet_handle make_packet() {
    packet_handle packet(av_packet_alloc());
    if (!packet)
        throw std::bad_alloc();
    return packet;
}

parameters_handle make_parameters() {
    parameters_handle parameters(avcodec_parameters_alloc());
    if (!parameters)
        throw std::bad_alloc();
    return parameters;
}

} // namespace media
