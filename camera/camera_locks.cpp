#include "camera/camera_locks.h"

std::mutex path_sensor_lock;
int32_t path_sensor_value = 0;
