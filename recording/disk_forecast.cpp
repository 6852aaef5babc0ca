#include "recording/disk_forecast.h"

#include "recording/space_floor.h"

namespace {

std::uintmax_t lost_between(std::uintmax_t before, std::uintmax_t after) {
    return before > after ? before - after : 0;
}

} // namespace

void disk_forecast::add_reading(clock::time_point now, std::uintmax_t free_bytes) {
    if (!readings.empty())
        lost_in_window += lost_between(readings.back().free_bytes, free_bytes);
    readings.push_back({now, free_bytes});
    while (readings.size() > 2 && now - readings.front().at > averaging_window) {
        lost_in_window -= lost_between(readings[0].free_bytes, readings[1].free_bytes);
        readings.pop_front();
    }
    judge(now);
}

void disk_forecast::forget_readings() {
    readings.clear();
    lost_in_window = 0;
}

std::optional<double> disk_forecast::bytes_per_second() const {
    if (readings.size() < 2)
        return std::nullopt;
    const std::chrono::duration<double> span = readings.back().at - readings.front().at;
    if (span < least_span)
        return std::nullopt;
    return static_cast<double>(lost_in_window) / span.count();
}

std::optional<std::chrono::seconds> disk_forecast::time_left() const {
    if (readings.empty())
        return std::nullopt;
    const std::uintmax_t free_bytes = readings.back().free_bytes;
    // At the floor recording has stopped already, whatever the rate.
    if (free_bytes <= space_floor::stop_below)
        return std::chrono::seconds(0);
    const std::optional<double> rate = bytes_per_second();
    if (!rate || *rate <= 0)
        return std::nullopt;
    const auto above_floor = static_cast<double>(free_bytes - space_floor::stop_below);
    return std::chrono::seconds(static_cast<long long>(above_floor / *rate));
}

void disk_forecast::judge(clock::time_point now) {
    const std::optional<std::chrono::seconds> left = time_left();
    if (left && *left < urgent_below) {
        ample_since.reset();
        if (state != level::below_ten_minutes)
            pending = warning::below_ten_minutes;
        state = level::below_ten_minutes;
        return;
    }
    if (left && *left < warn_below) {
        ample_since.reset();
        if (state == level::ample) {
            pending = warning::below_hour;
            state = level::below_hour;
        }
        return;
    }
    // Unknown counts as ample only when nothing is written: a fresh start says nothing yet.
    if (!left && !bytes_per_second())
        return;
    if (state == level::ample)
        return;
    if (!ample_since)
        ample_since = now;
    if (now - *ample_since >= all_clear_after) {
        state = level::ample;
        ample_since.reset();
        pending = warning::enough_again;
    }
}
