#pragma once
// The process-wide locks shared by every open camera. No thread ever holds two of them at once.

#include <cstdint>
#include <mutex>

// Guards the display slot (display_frame, display_position) of every camera_screen.
extern std::mutex display_lock;
// Guards the frame_queue (and its byte budget) of every camera_screen.
extern std::mutex frame_queue_lock;
// Guards path_sensor_value.
extern std::mutex path_sensor_lock;
// The path-sensor reading that goes into every coordinate request.
extern int32_t path_sensor_value;
