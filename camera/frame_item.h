#pragma once
// One frame chosen for recording: its own copy of the pixels (8-bit RGB) and its position.

#include "position/track_position.h"

#include <opencv2/core/mat.hpp>

struct frame_item {
    cv::Mat picture;
    TrackPosition position;
};
