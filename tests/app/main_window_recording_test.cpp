// Both cameras recording through the main window's commands, and the main window closed while
// they run: every trip folder must be complete and every camera's totals in the journal.

#include "app/kestrel.h"
#include "app/kestrel_frame.h"
#include "archive/trip_catalogue.h"
#include "camera/camera_screen.h"
#include "tests/app/app_test_support.h"
#include "tests/support/gui_test.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using app_test::utf8;
using test_support::pump_events_until;

namespace {

// Waits until both cameras have written `frames` more frames than they had.
bool both_write_more(const camera_screen& boiler, const camera_screen& diesel, int frames) {
    const int boiler_then = boiler.written_count();
    const int diesel_then = diesel.written_count();
    return pump_events_until(
        [&] {
            return boiler.written_count() >= boiler_then + frames &&
                   diesel.written_count() >= diesel_then + frames;
        },
        60s);
}

// The number in a closing row such as "Записано 57 кадров.".
long count_in(const app_test::journal_row& row, const char* prefix) {
    return std::stol(row.text.substr(utf8(prefix).length()).utf8_string());
}

// How much the picture inside the window's place on the screenshot varies: a live camera
// picture varies, an empty panel does not.
double picture_variation(const cv::Mat& shot, const wxRect& place) {
    const cv::Rect inside = cv::Rect(place.x, place.y, place.width, place.height) &
                            cv::Rect(0, 0, shot.cols, shot.rows);
    if (inside.area() == 0)
        return 0;
    cv::Scalar mean;
    cv::Scalar deviation;
    cv::meanStdDev(shot(inside), mean, deviation);
    return deviation[0] + deviation[1] + deviation[2];
}

struct trip_check {
    std::string folder;
    long indexed = 0;
    long in_videos = 0;
};

// The frames of a trip folder as its index lists them and as the videos hold them.
trip_check check_trip(const std::string& folder) {
    trip_check check{folder};
    const auto index = app_test::read_index(folder + "/data.idx");
    check.indexed = static_cast<long>(index.size());
    for (const std::string& video : test_support::files_with_extension(folder, ".avi")) {
        const std::string name = fs::path(video).filename().string();
        long listed = 0;
        for (const auto& record : index)
            if (record.file == name) {
                EXPECT_EQ(record.frame_in_file, listed++) << name;
            }
        const long frames = app_test::count_video_frames(video);
        EXPECT_EQ(frames, listed) << video;
        check.in_videos += frames;
    }
    return check;
}

} // namespace

TEST(main_window_recording,
     both_cameras_recording_when_the_main_window_closes_leave_complete_trips) {
    test_support::temporary_home home;
    test_support::message_box_catcher boxes;
    const app_test::tool_process boiler_camera = app_test::test_camera("smpte");
    const app_test::tool_process diesel_camera = app_test::test_camera("ball");
    const app_test::tool_process simulator = app_test::coordinate_simulator();
    app_test::write_settings(home.path(), {{"coordinate_server_port", simulator.address()},
                                           {"front_camera_rtsp_address", boiler_camera.address()},
                                           {"back_camera_rtsp_address", diesel_camera.address()},
                                           {"dpp_port", "/dev/kestrel-test-no-such-port"},
                                           {"write_path", home.path()},
                                           {"write_format", "AVI"},
                                           {"codec", "MJPEG"},
                                           {"write_interval", "0"},
                                           {"show_subs", "1"},
                                           {"subs_color", "#FFFF00"},
                                           {"subs_font", "Sans Bold 14"}});

    kestrel_frame* const frame = start_main_window();
    ASSERT_NE(frame, nullptr);
    // Shown and placed by the window manager before the cameras open beside it.
    ASSERT_TRUE(pump_events_until([&] { return frame->IsShownOnScreen(); }));
    test_support::pump_pending_events();
    const std::string journal_file = frame->journal_file().GetFullPath().utf8_string();
    app_test::send_command(*frame, ID_BOILER_CAMERA);
    app_test::send_command(*frame, ID_DIESEL_CAMERA);
    camera_screen* const boiler = app_test::camera_pane(*frame, utf8("Котел"));
    camera_screen* const diesel = app_test::camera_pane(*frame, utf8("Дизель"));
    ASSERT_NE(boiler, nullptr);
    ASSERT_NE(diesel, nullptr);
    EXPECT_TRUE(pump_events_until(
        [&] { return boiler->written_count() >= 30 && diesel->written_count() >= 30; }, 60s))
        << boiler->written_count() << " and " << diesel->written_count() << " frames written";

    // The operator reconnects the coordinate server while both capture threads use it.
    for (int reconnect = 0; reconnect < 3; ++reconnect) {
        app_test::send_command(*frame, ID_COORDINATE_SERVER);
        test_support::pump_events_for(100ms);
    }
    EXPECT_TRUE(both_write_more(*boiler, *diesel, 5))
        << "recording goes on after the reconnections";

    app_test::place_floating_pane(*frame, boiler, 20, 60);
    app_test::place_floating_pane(*frame, diesel, 700, 60);
    const std::string screenshot = app_test::artifacts_folder() + "/main_window_two_cameras.png";
    test_support::pump_events_for(500ms);
    ASSERT_TRUE(app_test::save_screenshot(screenshot));
    const cv::Mat shot = cv::imread(screenshot);
    ASSERT_FALSE(shot.empty());
    EXPECT_GT(picture_variation(shot, boiler->GetScreenRect()), 60.0)
        << "live picture at " << boiler->GetScreenRect().x << "," << boiler->GetScreenRect().y;
    EXPECT_GT(picture_variation(shot, diesel->GetScreenRect()), 20.0) << "live picture";

    // "Выход" while both cameras capture and write.
    app_test::send_command(*frame, ID_EXIT);
    ASSERT_TRUE(pump_events_until([&] {
        return wxTopLevelWindows.Find(frame) == nullptr && !wxPendingDelete.Member(frame);
    }));

    const auto folders = app_test::trip_folders(home.path());
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(std::count_if(folders.begin(), folders.end(),
                            [](const std::string& f) { return f.find(u8"[Котел]") != f.npos; }),
              1);
    EXPECT_EQ(std::count_if(folders.begin(), folders.end(),
                            [](const std::string& f) { return f.find(u8"[Дизель]") != f.npos; }),
              1);
    std::vector<long> indexed;
    // Each trip joined the catalogue as its pane closed, before the window was gone, and the
    // two cameras' trips pair.
    const trip_catalogue catalogue(home.path());
    for (const std::string& folder : folders) {
        const trip_check trip = check_trip(folder);
        EXPECT_GE(trip.indexed, 30) << folder;
        EXPECT_EQ(trip.in_videos, trip.indexed) << folder;
        indexed.push_back(trip.indexed);
        const std::optional<trip_summary> listed = catalogue.trip(folder);
        ASSERT_TRUE(listed) << folder;
        EXPECT_EQ(listed->frames, static_cast<size_t>(trip.indexed)) << folder;
        const std::optional<trip_summary> pair = catalogue.paired_trip(folder);
        ASSERT_TRUE(pair) << folder;
        EXPECT_NE(pair->folder, listed->folder);
        EXPECT_FALSE(catalogue.passes(folder).empty()) << folder;
    }

    const auto rows = app_test::journal_rows(journal_file);
    const auto received = app_test::rows_starting(rows, utf8("Принято "));
    const auto written = app_test::rows_starting(rows, utf8("Записано "));
    ASSERT_EQ(received.size(), 2u);
    ASSERT_EQ(written.size(), 2u);
    std::vector<long> journalled{count_in(written[0], "Записано "),
                                 count_in(written[1], "Записано ")};
    std::sort(indexed.begin(), indexed.end());
    std::sort(journalled.begin(), journalled.end());
    EXPECT_EQ(journalled, indexed);
    for (const auto& row : received)
        EXPECT_GE(count_in(row, "Принято "), 30);
    EXPECT_EQ(app_test::rows_starting(rows, utf8("Сервер координат: ")).size(), 4u);
    for (const auto& row : rows)
        EXPECT_FALSE(row.error && !row.text.StartsWith(utf8("Ошибка ДПП"))) << row.text;
    EXPECT_TRUE(boxes.dialogs().empty());
}

TEST(main_window_recording, a_coordinate_server_lost_under_both_cameras_gives_one_row_each_way) {
    test_support::temporary_home home;
    test_support::message_box_catcher boxes;
    const app_test::tool_process boiler_camera = app_test::test_camera("smpte");
    const app_test::tool_process diesel_camera = app_test::test_camera("ball");
    auto simulator = std::make_unique<app_test::tool_process>(app_test::coordinate_simulator());
    const std::string port = simulator->address();
    app_test::write_settings(home.path(), {{"coordinate_server_port", port},
                                           {"front_camera_rtsp_address", boiler_camera.address()},
                                           {"back_camera_rtsp_address", diesel_camera.address()},
                                           {"dpp_port", "/dev/kestrel-test-no-such-port"},
                                           {"write_path", home.path()},
                                           {"write_format", "AVI"},
                                           {"codec", "MJPEG"},
                                           {"write_interval", "0"}});
    kestrel_frame* const frame = start_main_window();
    ASSERT_NE(frame, nullptr);
    const std::string journal_file = frame->journal_file().GetFullPath().utf8_string();
    const auto rows = [&](const char* prefix) {
        return app_test::rows_starting(app_test::journal_rows(journal_file), utf8(prefix));
    };
    app_test::send_command(*frame, ID_BOILER_CAMERA);
    app_test::send_command(*frame, ID_DIESEL_CAMERA);
    camera_screen* const boiler = app_test::camera_pane(*frame, utf8("Котел"));
    camera_screen* const diesel = app_test::camera_pane(*frame, utf8("Дизель"));
    ASSERT_NE(boiler, nullptr);
    ASSERT_NE(diesel, nullptr);
    ASSERT_TRUE(pump_events_until(
        [&] { return boiler->written_count() >= 10 && diesel->written_count() >= 10; }, 60s));

    // Both capture threads ask the one connection; the server goes and comes back.
    simulator->kill_now();
    EXPECT_TRUE(pump_events_until([&] { return !rows("CoordServer").empty(); }, 30s));
    test_support::pump_events_for(3s);
    simulator = std::make_unique<app_test::tool_process>(app_test::coordinate_simulator(port));
    EXPECT_TRUE(pump_events_until([&] { return rows("Сервер координат: ").size() >= 2; }, 30s));
    EXPECT_TRUE(both_write_more(*boiler, *diesel, 10));
    app_test::send_command(*frame, ID_EXIT);
    ASSERT_TRUE(pump_events_until([&] {
        return wxTopLevelWindows.Find(frame) == nullptr && !wxPendingDelete.Member(frame);
    }));

    const auto lost = app_test::rows_starting(app_test::journal_rows(journal_file), "CoordServer");
    ASSERT_EQ(lost.size(), 1u);
    EXPECT_TRUE(lost.front().error);
    // The start's row and the return's.
    const auto connected =
        app_test::rows_starting(app_test::journal_rows(journal_file), utf8("Сервер координат: "));
    ASSERT_EQ(connected.size(), 2u);
    EXPECT_EQ(connected[1].text, utf8("Сервер координат: 127.0.0.1:") + port);
    EXPECT_FALSE(connected[1].error);
    EXPECT_TRUE(boxes.dialogs().empty());
}
