#pragma once
// The path-sensor cell shared by every open camera. Each camera's own picture and queue are
// guarded by its camera_feed.

#include <cstdint>
#include <mutex>

// Guards path_sensor_value.
extern std::mutex path_sensor_lock;
// The path-sensor reading that goes into every coordinate request.
extern int32_t path_sensor_value;
