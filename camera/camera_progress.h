#pragma once
// What an open camera has done so far, as the main window's status line tells it: when its
// last picture and its last fix came, where that fix was, what reached the files.

#include <chrono>
#include <cstdint>
#include <optional>

struct camera_progress {
    using clock = std::chrono::steady_clock;

    clock::time_point opened;
    std::optional<clock::time_point> last_frame;
    std::optional<clock::time_point> last_fix;
    int32_t km = 0; // of the last fix
    double m = 0.0;
    int32_t written = 0;
    // The disk is at its floor: the writer keeps no pictures.
    bool recording_stopped = false;
};
