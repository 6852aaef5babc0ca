#pragma once
// The camera's own compressed data, kept beside the decoded picture so that a recording can copy
// it into a file without encoding it again.

#include "media/av_handles.h"

#include <memory>

namespace media {

// What a file needs to hold one opening of a camera's stream: its codec parameters (with the
// parameter sets as extradata) and the time base of its packets' time stamps. Shared by every
// packet of that opening; a new opening makes new parameters.
class stream_parameters {
public:
    // Copies both from the stream as the demuxer opened it.
    explicit stream_parameters(const AVStream& stream);
    ~stream_parameters();
    stream_parameters(const stream_parameters&) = delete;
    stream_parameters& operator=(const stream_parameters&) = delete;

    const AVCodecParameters& codec() const { return *parameters; }
    AVRational time_base() const { return base; }

private:
    AVCodecParameters* parameters;
    AVRational base;
};

// One packet of a camera's stream, shared read-only.
class encoded_packet {
public:
    // Takes a new reference to the packet's data.
    encoded_packet(const AVPacket& packet, std::shared_ptr<const stream_parameters> stream);

    const AVPacket& av() const { return *packet; }
    bool key() const { return (packet->flags & AV_PKT_FLAG_KEY) != 0; }
    const std::shared_ptr<const stream_parameters>& stream() const { return parameters; }
    std::size_t bytes() const { return static_cast<std::size_t>(packet->size); }

private:
    std::shared_ptr<const AVPacket> packet;
    std::shared_ptr<const stream_parameters> parameters;
};

} // namespace media
