#pragma once
// How long the recording disk lasts: the rate at which its free space goes, averaged over the
// last five minutes (a stop at a station lowers it, never resets it), and the time until the
// floor at which recording stops. It also decides the journal's warnings: once when the time
// left falls below an hour, once below ten minutes, and the all-clear when it has stayed above
// an hour for five minutes. Free of windows and clocks: every reading comes with its time.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

class disk_forecast {
public:
    using clock = std::chrono::steady_clock;

    static constexpr std::chrono::minutes averaging_window{5};
    // Shorter readings say too little about the rate to forecast from.
    static constexpr std::chrono::seconds least_span{10};
    static constexpr std::chrono::minutes warn_below{60};
    static constexpr std::chrono::minutes urgent_below{10};
    static constexpr std::chrono::minutes all_clear_after{5};

    enum class warning { none, below_hour, below_ten_minutes, enough_again };

    // A reading of the free bytes at `now` while cameras record.
    void add_reading(clock::time_point now, std::uintmax_t free_bytes);
    // No camera records: the rate starts afresh with the next reading; warnings stay decided.
    void forget_readings();

    // Bytes per second the disk loses; nothing until the readings span least_span. Space that
    // comes free (files removed) does not count against it.
    std::optional<double> bytes_per_second() const;
    // Time until the free space reaches the recording floor at that rate (0 at the floor);
    // nothing without a rate or while nothing is written.
    std::optional<std::chrono::seconds> time_left() const;

    // The warning the last reading called for, once.
    warning take_warning() { return std::exchange(pending, warning::none); }

private:
    struct reading {
        clock::time_point at;
        std::uintmax_t free_bytes;
    };
    enum class level { ample, below_hour, below_ten_minutes };

    void judge(clock::time_point now);

    std::deque<reading> readings;
    // Bytes lost between consecutive readings in the window, summed.
    std::uintmax_t lost_in_window = 0;
    level state = level::ample;
    std::optional<clock::time_point> ample_since;
    warning pending = warning::none;
};
