// The recording disk's forecast and floor, fed readings with their times: no clock, no disk.

#include "recording/disk_forecast.h"
#include "recording/space_floor.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using warning = disk_forecast::warning;

constexpr std::uintmax_t mib = std::uintmax_t{1} << 20;

// Feeds one reading a second while the disk loses `rate` bytes a second, from `free_bytes` on;
// the warnings that came, in order. Leaves `free_bytes` and `now` where the run ended.
std::vector<warning> run(disk_forecast& forecast, disk_forecast::clock::time_point& now,
                         std::uintmax_t& free_bytes, std::uintmax_t rate,
                         std::chrono::seconds duration) {
    std::vector<warning> warnings;
    for (auto passed = 0s; passed < duration; passed += 1s) {
        now += 1s;
        free_bytes -= std::min(free_bytes, rate);
        forecast.add_reading(now, free_bytes);
        if (const warning w = forecast.take_warning(); w != warning::none)
            warnings.push_back(w);
    }
    return warnings;
}

TEST(disk_forecast, time_left_is_the_room_above_the_floor_at_the_averaged_rate) {
    disk_forecast forecast;
    auto now = disk_forecast::clock::time_point() + 1h;
    std::uintmax_t free_bytes = space_floor::stop_below + 600 * mib;
    forecast.add_reading(now, free_bytes);
    run(forecast, now, free_bytes, 0, 5s);
    EXPECT_FALSE(forecast.bytes_per_second()) << "too short a span to say";

    run(forecast, now, free_bytes, 1 * mib, 60s);
    ASSERT_TRUE(forecast.bytes_per_second());
    // 60 MiB lost over 65 s of readings.
    EXPECT_NEAR(*forecast.bytes_per_second(), 60.0 * mib / 65.0, 1.0);
    const auto left = forecast.time_left();
    ASSERT_TRUE(left);
    EXPECT_NEAR(static_cast<double>(left->count()), 540.0 * 65.0 / 60.0, 2.0);

    // A stop at a station: nothing is written for two minutes; the rate falls, but stays.
    run(forecast, now, free_bytes, 0, 120s);
    ASSERT_TRUE(forecast.bytes_per_second());
    EXPECT_NEAR(*forecast.bytes_per_second(), 60.0 * mib / 185.0, 1.0);
    // Files removed meanwhile free space; that is not a negative rate.
    free_bytes += 100 * mib;
    run(forecast, now, free_bytes, 0, 1s);
    EXPECT_NEAR(*forecast.bytes_per_second(), 60.0 * mib / 186.0, 1.0);
    // Five minutes on, the readings of the trip's start have left the window.
    run(forecast, now, free_bytes, 0, 300s);
    EXPECT_EQ(*forecast.bytes_per_second(), 0.0);
    EXPECT_FALSE(forecast.time_left()) << "nothing written: no forecast";

    forecast.forget_readings();
    EXPECT_FALSE(forecast.bytes_per_second());
}

TEST(disk_forecast, warns_below_an_hour_and_below_ten_minutes_once_each_and_clears_after_five) {
    disk_forecast forecast;
    auto now = disk_forecast::clock::time_point() + 1h;
    // 1 MiB a second: two hours of room.
    std::uintmax_t free_bytes = space_floor::stop_below + 7200 * mib;
    forecast.add_reading(now, free_bytes);
    EXPECT_TRUE(run(forecast, now, free_bytes, 1 * mib, 60s).empty());

    // A faster car: 3 MiB a second for a while brings the forecast below an hour, once.
    const auto hour = run(forecast, now, free_bytes, 3 * mib, 120s);
    EXPECT_EQ(hour, std::vector<warning>{warning::below_hour});
    EXPECT_TRUE(run(forecast, now, free_bytes, 3 * mib, 60s).empty());

    // The disk is nearly used up: one more warning below ten minutes.
    free_bytes = space_floor::stop_below + 1500 * mib;
    const auto urgent = run(forecast, now, free_bytes, 3 * mib, 30s);
    EXPECT_EQ(urgent, std::vector<warning>{warning::below_ten_minutes});

    // Room again (a bigger disk's worth moved away): the forecast is ample at once, but the
    // all-clear waits five minutes.
    free_bytes = space_floor::stop_below + 10000000 * mib;
    EXPECT_TRUE(run(forecast, now, free_bytes, 1 * mib, 299s).empty());
    EXPECT_EQ(run(forecast, now, free_bytes, 1 * mib, 2s),
              std::vector<warning>{warning::enough_again});
    EXPECT_TRUE(run(forecast, now, free_bytes, 1 * mib, 60s).empty());
}

TEST(disk_forecast, an_ample_spell_shorter_than_five_minutes_clears_nothing) {
    disk_forecast forecast;
    auto now = disk_forecast::clock::time_point() + 1h;
    std::uintmax_t free_bytes = space_floor::stop_below + 1000 * mib;
    forecast.add_reading(now, free_bytes);
    EXPECT_EQ(run(forecast, now, free_bytes, 1 * mib, 20s),
              std::vector<warning>{warning::below_hour});
    free_bytes += 20000 * mib;
    EXPECT_TRUE(run(forecast, now, free_bytes, 1 * mib, 100s).empty());
    // A faster car makes it short again: still the same episode, no second warning.
    EXPECT_TRUE(run(forecast, now, free_bytes, 10 * mib, 200s).empty());
    ASSERT_TRUE(forecast.time_left());
    EXPECT_LT(*forecast.time_left(), disk_forecast::warn_below);
}

TEST(disk_forecast, at_the_floor_the_time_left_is_nothing_whatever_the_rate) {
    disk_forecast forecast;
    auto now = disk_forecast::clock::time_point() + 1h;
    std::uintmax_t free_bytes = space_floor::stop_below - mib;
    forecast.add_reading(now, free_bytes);
    EXPECT_EQ(forecast.time_left(), std::chrono::seconds(0));
    EXPECT_EQ(forecast.take_warning(), warning::below_ten_minutes);
    // Recording has stopped, nothing is written: still no room, never an all-clear.
    EXPECT_TRUE(run(forecast, now, free_bytes, 0, 700s).empty());
}

TEST(space_floor, stops_below_256_mib_and_resumes_only_at_512) {
    space_floor floor;
    using change = space_floor::change;
    EXPECT_EQ(floor.update(300 * mib), change::none);
    EXPECT_EQ(floor.update(std::nullopt), change::none);
    EXPECT_EQ(floor.update(255 * mib), change::stopped);
    EXPECT_TRUE(floor.stopped());
    EXPECT_EQ(floor.update(100 * mib), change::none);
    EXPECT_EQ(floor.update(511 * mib), change::none) << "not yet: it would stop again at once";
    EXPECT_EQ(floor.update(std::nullopt), change::none);
    EXPECT_TRUE(floor.stopped());
    EXPECT_EQ(floor.update(512 * mib), change::resumed);
    EXPECT_FALSE(floor.stopped());
    EXPECT_EQ(floor.update(400 * mib), change::none);
}

} // namespace
