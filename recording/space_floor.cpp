#include "recording/space_floor.h"

space_floor::change space_floor::update(std::optional<std::uintmax_t> free_bytes) {
    if (!free_bytes)
        return change::none;
    if (!holding && *free_bytes < stop_below) {
        holding = true;
        return change::stopped;
    }
    if (holding && *free_bytes >= resume_at) {
        holding = false;
        return change::resumed;
    }
    return change::none;
}
