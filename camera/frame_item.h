#pragma once
// One frame chosen for recording: the decoded picture (shared, never changed) and its position.

#include "media/encoded_packet.h"
#include "media/video_frame.h"
#include "position/track_position.h"

#include <cstddef>
#include <vector>

struct frame_item {
    media::video_frame picture;
    TrackPosition position;
    // The camera's packets that this picture was decoded from, in stream order; kept only when
    // the recording copies the camera's stream instead of encoding the pictures.
    std::vector<media::encoded_packet> packets;
    // The recording copies the camera's packets: the picture is listed against the packet it
    // came from, even when it brings no packets of its own (the decoder's last pictures).
    bool copies_stream = false;

    // What holding the item costs: the picture's buffers and the packets' data.
    std::size_t bytes() const {
        std::size_t total = picture.bytes();
        for (const media::encoded_packet& packet : packets)
            total += packet.bytes();
        return total;
    }
};
