// The status line's texts from camera progress and disk readings: no windows.

#include "app/status_line.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using clock_type = camera_progress::clock;

wxString utf8(const char* text) {
    return wxString::FromUTF8(text);
}

camera_line recording(const char* name, clock_type::time_point now, int32_t km, double m,
                      int32_t written) {
    camera_line line{utf8(name), {}};
    line.progress.opened = now - 60s;
    line.progress.last_frame = now - 40ms;
    line.progress.last_fix = now - 40ms;
    line.progress.km = km;
    line.progress.m = m;
    line.progress.written = written;
    return line;
}

TEST(status_line, two_cameras_then_the_disk_and_how_long_it_lasts) {
    const auto now = clock_type::now();
    const std::uintmax_t free_bytes = 44'237'944'832; // 41.2 GiB
    const wxString text = status_line_text(
        {recording("Котел", now, 126, 740.2, 12345), recording("Дизель", now, 126, 731, 12298)},
        now, free_bytes, std::chrono::seconds(5 * 3600 + 10 * 60 + 59));
    EXPECT_EQ(text, utf8("Котел 126+740 · 12 345   Дизель 126+731 · 12 298   "
                         "Свободно 41,2 ГБ ≈ 5 ч 10 мин"));
}

TEST(status_line, what_is_wrong_stands_in_for_the_place) {
    const auto now = clock_type::now();
    camera_line silent = recording("Котел", now, 1, 2, 7);
    silent.progress.last_frame = now - 3s;
    EXPECT_EQ(camera_status_text(silent, now), utf8("Котел нет кадров · 7"));
    camera_line never = recording("Котел", now, 1, 2, 0);
    never.progress.last_frame.reset();
    never.progress.last_fix.reset();
    never.progress.opened = now - 1s;
    EXPECT_EQ(camera_status_text(never, now), utf8("Котел ... · 0")) << "just opened";
    never.progress.opened = now - 4s;
    EXPECT_EQ(camera_status_text(never, now), utf8("Котел нет кадров · 0"));

    camera_line lost = recording("Дизель", now, 1, 2, 1000);
    lost.progress.last_fix = now - 5s;
    EXPECT_EQ(camera_status_text(lost, now), utf8("Дизель нет координат · 1 000"));
    lost.progress.last_fix = now - 4900ms;
    EXPECT_EQ(camera_status_text(lost, now), utf8("Дизель 1+2 · 1 000"));

    // A stopped recording is said first: it is what the operator must act on.
    camera_line stopped = recording("Дизель", now, 1, 2, 1234567);
    stopped.progress.recording_stopped = true;
    stopped.progress.last_frame = now - 10s;
    EXPECT_EQ(camera_status_text(stopped, now), utf8("Дизель запись остановлена · 1 234 567"));
}

TEST(status_line, numbers_sizes_and_durations) {
    EXPECT_EQ(grouped_number(0), "0");
    EXPECT_EQ(grouped_number(999), "999");
    EXPECT_EQ(grouped_number(1000), "1 000");
    EXPECT_EQ(grouped_number(123456789), "123 456 789");
    EXPECT_EQ(free_space_text(std::uintmax_t{850} << 20), utf8("850 МБ"));
    EXPECT_EQ(free_space_text(std::uintmax_t{3} << 30), utf8("3,0 ГБ"));
    EXPECT_EQ(duration_text(59s), utf8("0 мин"));
    EXPECT_EQ(duration_text(42min + 59s), utf8("42 мин"));
    EXPECT_EQ(duration_text(60min), utf8("1 ч 0 мин"));
    EXPECT_EQ(duration_text(30h + 5min), utf8("30 ч 5 мин"));
    // No disk figure: only the cameras; no forecast: only the free space.
    const auto now = clock_type::now();
    EXPECT_EQ(status_line_text({recording("Котел", now, 5, 0, 1)}, now, std::nullopt, 10min),
              utf8("Котел 5+0 · 1"));
    EXPECT_EQ(status_line_text({}, now, std::uintmax_t{1} << 30, std::nullopt),
              utf8("Свободно 1,0 ГБ"));
}

} // namespace
