#pragma once
// One frame chosen for recording: the decoded picture (shared, never changed) and its position.

#include "media/video_frame.h"
#include "position/track_position.h"

struct frame_item {
    media::video_frame picture;
    TrackPosition position;
};
