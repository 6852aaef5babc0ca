#include "camera/camera_locks.h"

std::mutex display_lock;
std::mutex frame_queue_lock;
std::mutex path_sensor_lock;
int32_t path_sensor_value = 0;
