#pragma once
// Brings whatever a decoder gives to the one picture form the recorder handles: 8-bit 4:2:0 YUV
// with even sides.

#include "media/av_handles.h"
#include "media/video_frame.h"

namespace media {

class frame_normaliser {
public:
    // A 4:2:0 picture passes through untouched; an odd last column or row is dropped without a
    // copy; any other pixel format (a 4:2:2 camera, say) is converted once, keeping its range.
    // Throws std::invalid_argument for a picture smaller than 2x2.
    video_frame normalise(frame_handle decoded);

private:
    video_frame converted(const AVFrame& source, int width, int height);

    // Kept from picture to picture: a camera's format does not change between frames.
    sws_context_handle context;
};

} // namespace media
