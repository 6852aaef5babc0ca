// Retention on the car's disk while a camera records: on a small disk (a tmpfs mounted for the
// test) holding offloaded and not-offloaded trips, free space that falls below
// retention_free_mb makes the recorder delete the oldest offloaded trips, one blue row each,
// never a trip without a verified copy nor one the trip pane shows, and recording never stops
// while offloaded trips are left; the trip being recorded keeps an index that matches its video
// (ffprobe).

#include "app/kestrel.h"
#include "app/kestrel_frame.h"
#include "camera/camera_screen.h"
#include "platform/free_space.h"
#include "review/trip_browser.h"
#include "tests/app/app_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/gui_test.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using app_test::small_disk;
using app_test::utf8;
using test_support::pump_events_until;

namespace {

constexpr std::uintmax_t mib = std::uintmax_t{1} << 20;

// An old trip of 60 MiB: its video and its index.
std::string old_trip(const std::string& disk, const char* started) {
    const std::string folder = disk + "/" + started + "[Котел]";
    fs::create_directories(folder);
    std::ofstream(folder + "/data.idx") << "<?xml version=\"1.0\"?>\n<section/>\n";
    const int descriptor = ::open((folder + "/126_км.avi").c_str(), O_CREAT | O_WRONLY, 0644);
    EXPECT_EQ(posix_fallocate(descriptor, 0, static_cast<off_t>(60 * mib)), 0);
    ::close(descriptor);
    return folder;
}

} // namespace

TEST(retention_window, deletes_the_oldest_offloaded_trips_never_one_without_a_copy_or_shown) {
    test_support::temporary_home home;
    test_support::message_box_catcher boxes;
    small_disk disk(home.path() + "/disk", 700);
    if (!disk.ready())
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    const std::string office = home.path() + "/office";
    fs::create_directories(office);

    const app_test::tool_process camera = app_test::test_camera("smpte");
    const app_test::tool_process simulator = app_test::tool_process(
        "coordsim/kestrel-coordsim", {"--quiet", "--port", "0", "--step", "3"});
    const std::vector<std::pair<std::string, std::string>> settings = {
        {"coordinate_server_port", simulator.address()},
        {"front_camera_rtsp_address", camera.address()},
        {"dpp_port", "/dev/kestrel-test-no-such-port"},
        {"write_path", home.path() + "/disk"},
        {"write_format", "AVI"},
        {"codec", "MJPEG"},
        {"write_interval", "0"},
        {"car_name", "Вагон-7"},
        {"retention_free_mb", "330"}};
    app_test::write_settings(home.path(), settings);

    // Four offloaded trips, one of them open in the trip pane, and an older one than three of
    // them that has no copy.
    const std::string first = old_trip(home.path() + "/disk", "2026.05.01 10.00.00");
    const std::string shown = old_trip(home.path() + "/disk", "2026.05.02 12.00.00");
    const std::string third = old_trip(home.path() + "/disk", "2026.05.03 10.00.00");
    const std::string fourth = old_trip(home.path() + "/disk", "2026.05.04 10.00.00");
    const std::string offload = test_support::run_command(
        test_support::shell_quoted(test_support::tool_path("trips/kestrel-trips")) + " offload " +
        test_support::shell_quoted(office));
    ASSERT_NE(offload.find("4 copied"), std::string::npos) << offload;
    const std::string second = old_trip(home.path() + "/disk", "2026.05.02 10.00.00");

    kestrel_frame* frame = start_main_window();
    ASSERT_NE(frame, nullptr);
    const std::string journal_file = frame->journal_file().GetFullPath().utf8_string();
    const auto rows = [&](const char* prefix) {
        return app_test::rows_starting(app_test::journal_rows(journal_file), utf8(prefix));
    };
    app_test::send_command(*frame, ID_BOILER_CAMERA);
    camera_screen* const boiler = app_test::camera_pane(*frame, utf8("Котел"));
    ASSERT_NE(boiler, nullptr);
    ASSERT_TRUE(pump_events_until([&] { return boiler->written_count() >= 10; }, 60s));
    app_test::send_command(*frame, ID_TRIPS);
    auto* const browser =
        dynamic_cast<trip_browser*>(frame->panes().GetPane(utf8("Поездки")).window);
    ASSERT_NE(browser, nullptr);
    const std::string shown_name = fs::path(shown).filename().string();
    const auto row_of_shown = [&]() -> std::optional<size_t> {
        for (size_t row = 0; row < browser->trips().size(); ++row)
            if (browser->trips()[row].folder.filename() == shown_name)
                return row;
        return std::nullopt;
    };
    ASSERT_TRUE(pump_events_until([&] { return !browser->busy() && row_of_shown(); }, 30s));
    browser->open_trip(*row_of_shown());
    ASSERT_TRUE(pump_events_until([&] { return !browser->busy(); }, 30s));
    EXPECT_EQ(browser->trips_shown().count(shown_name), 1u);

    // Each time another program takes the disk below the limit, one offloaded trip goes,
    // oldest first, until none is left.
    const char deleted_row[] = "Удалена поездка, у которой есть проверенная копия: ";
    for (size_t deleted = 1; deleted <= 4; ++deleted) {
        ASSERT_TRUE(disk.fill_until(300 * mib));
        const size_t expected = std::min<size_t>(deleted, 3);
        EXPECT_TRUE(pump_events_until([&] { return rows(deleted_row).size() >= expected; }, 30s));
        test_support::pump_events_for(deleted <= 3 ? 1s : 7s);
        EXPECT_EQ(rows(deleted_row).size(), expected);
    }
    const int written = boiler->written_count();
    EXPECT_TRUE(pump_events_until([&] { return boiler->written_count() > written + 10; }, 30s))
        << "recording goes on above the floor";
    app_test::send_command(*frame, ID_EXIT);
    ASSERT_TRUE(pump_events_until([&] {
        return wxTopLevelWindows.Find(frame) == nullptr && !wxPendingDelete.Member(frame);
    }));

    const auto deleted = rows(deleted_row);
    ASSERT_EQ(deleted.size(), 3u);
    const std::vector<std::string> order = {first, third, fourth};
    for (size_t i = 0; i < deleted.size(); ++i) {
        EXPECT_FALSE(deleted[i].error);
        EXPECT_TRUE(deleted[i].text.Contains(wxString::FromUTF8(order[i]))) << deleted[i].text;
        EXPECT_FALSE(fs::exists(order[i]));
        EXPECT_TRUE(fs::exists(fs::path(office) / "Вагон-7" / fs::path(order[i]).filename() /
                               "manifest.sha256"));
    }
    EXPECT_TRUE(fs::exists(second + "/126_км.avi")) << "a trip without a copy stays";
    EXPECT_TRUE(fs::exists(shown + "/126_км.avi")) << "a trip shown in the trip pane stays";
    EXPECT_TRUE(rows("Запись остановлена").empty());

    // The trip recorded meanwhile: its index names every frame its video holds.
    std::vector<std::string> recorded;
    for (const std::string& trip : app_test::trip_folders(home.path() + "/disk"))
        if (trip != second && trip != shown)
            recorded.push_back(trip);
    ASSERT_EQ(recorded.size(), 1u);
    std::map<std::string, long> listed;
    for (const auto& record : app_test::read_index(recorded[0] + "/data.idx"))
        ++listed[record.file];
    const auto videos = test_support::files_with_extension(recorded[0], ".avi");
    ASSERT_FALSE(videos.empty());
    for (const std::string& video : videos)
        EXPECT_EQ(listed[fs::path(video).filename().string()], app_test::count_video_frames(video))
            << video;
    EXPECT_TRUE(boxes.dialogs().empty());
}
