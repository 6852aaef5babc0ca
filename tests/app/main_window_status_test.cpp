// The main window's status line and the recording disk's warnings while both cameras record:
// the places and counts of the cameras, the forecast rows and the floor on a small disk (a
// tmpfs mounted for the test), with every trip's index checked against ffprobe.

#include "app/kestrel.h"
#include "app/kestrel_frame.h"
#include "camera/camera_screen.h"
#include "platform/free_space.h"
#include "tests/app/app_test_support.h"
#include "tests/support/gui_test.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <unistd.h>
#include <wx/statusbr.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using app_test::small_disk;
using app_test::utf8;
using test_support::pump_events_until;

namespace {

constexpr std::uintmax_t mib = std::uintmax_t{1} << 20;

struct camera_in_line {
    long km = -1;
    long m = -1;
    long written = -1;
    std::wstring state; // what stands in for the place, if anything
};

// The cameras of the status line by name.
std::map<std::wstring, camera_in_line> cameras_in(const wxString& line) {
    static const std::wregex camera(
        LR"((Котел|Дизель) (?:(\d+)\+(\d+)|(нет кадров|нет координат|запись остановлена|\.\.\.)) · ([\d ]+))");
    std::map<std::wstring, camera_in_line> found;
    const std::wstring text = line.ToStdWstring();
    for (std::wsregex_iterator it(text.begin(), text.end(), camera), end; it != end; ++it) {
        const std::wsmatch& match = *it;
        camera_in_line entry;
        if (match[2].matched) {
            entry.km = std::stol(match[2].str());
            entry.m = std::stol(match[3].str());
        }
        entry.state = match[4].str();
        std::wstring digits = match[5].str();
        digits.erase(std::remove(digits.begin(), digits.end(), L' '), digits.end());
        entry.written = std::stol(digits);
        found[match[1].str()] = entry;
    }
    return found;
}

class status_line_window : public testing::Test {
protected:
    // Starts the main window recording both cameras into `write_path`.
    void start(const std::string& write_path) {
        app_test::write_settings(home.path(),
                                 {{"coordinate_server_port", simulator.address()},
                                  {"front_camera_rtsp_address", boiler_camera.address()},
                                  {"back_camera_rtsp_address", diesel_camera.address()},
                                  {"dpp_port", "/dev/kestrel-test-no-such-port"},
                                  {"write_path", write_path},
                                  {"write_format", "AVI"},
                                  {"codec", "MJPEG"},
                                  {"write_interval", "0"}});
        frame = start_main_window();
        ASSERT_NE(frame, nullptr);
        journal_file = frame->journal_file().GetFullPath().utf8_string();
        app_test::send_command(*frame, ID_BOILER_CAMERA);
        app_test::send_command(*frame, ID_DIESEL_CAMERA);
        boiler = app_test::camera_pane(*frame, utf8("Котел"));
        diesel = app_test::camera_pane(*frame, utf8("Дизель"));
        ASSERT_NE(boiler, nullptr);
        ASSERT_NE(diesel, nullptr);
    }

    void close_window() {
        app_test::send_command(*frame, ID_EXIT);
        ASSERT_TRUE(pump_events_until([&] {
            return wxTopLevelWindows.Find(frame) == nullptr && !wxPendingDelete.Member(frame);
        }));
        frame = nullptr;
    }

    wxString status() const { return frame->GetStatusBar()->GetStatusText(1); }

    std::vector<app_test::journal_row> rows(const char* prefix) const {
        return app_test::rows_starting(app_test::journal_rows(journal_file), utf8(prefix));
    }

    bool both_written_at_least(int frames) const {
        return boiler->written_count() >= frames && diesel->written_count() >= frames;
    }

    test_support::temporary_home home;
    test_support::message_box_catcher boxes;
    const app_test::tool_process boiler_camera = app_test::test_camera("smpte");
    const app_test::tool_process diesel_camera = app_test::test_camera("ball");
    // The car moves 3 m per answer.
    const app_test::tool_process simulator =
        app_test::tool_process("coordsim/kestrel-coordsim",
                               {"--quiet", "--port", "0", "--step", "3", "--start", "126700"});
    kestrel_frame* frame = nullptr;
    std::string journal_file;
    camera_screen* boiler = nullptr;
    camera_screen* diesel = nullptr;
};

TEST_F(status_line_window, shows_each_cameras_place_and_frames_and_how_long_the_disk_lasts) {
    start(home.path());
    ASSERT_TRUE(pump_events_until([&] { return both_written_at_least(10); }, 60s));
    ASSERT_TRUE(pump_events_until([&] { return cameras_in(status()).size() == 2; }, 5s))
        << status();
    const auto before = cameras_in(status());
    // The forecast comes once the disk's readings span a few seconds.
    EXPECT_TRUE(pump_events_until([&] { return status().Contains(utf8("≈")); }, 30s)) << status();
    const wxString line = status();
    const auto after = cameras_in(line);
    EXPECT_TRUE(std::regex_search(
        line.ToStdWstring(), std::wregex(LR"(   Свободно \d+(,\d)? [ГМ]Б ≈ (\d+ ч )?\d+ мин$)")))
        << line;
    for (const wchar_t* name : {L"Котел", L"Дизель"}) {
        ASSERT_EQ(after.count(name), 1u) << line;
        const camera_in_line& then = before.at(name);
        const camera_in_line& now = after.at(name);
        EXPECT_TRUE(now.state.empty()) << line;
        EXPECT_GT(now.written, then.written) << "frames rising";
        EXPECT_GT(now.km * 1000 + now.m, then.km * 1000 + then.m) << "the car moves";
        EXPECT_GE(now.km, 126);
    }
    close_window();
}

TEST_F(status_line_window, a_small_disk_warns_stops_recording_at_the_floor_and_resumes) {
    small_disk disk(home.path() + "/disk", 600);
    if (!disk.ready())
        GTEST_SKIP() << "mounting a tmpfs is not permitted here";
    start(home.path() + "/disk");
    const wxString folder = utf8((home.path() + "/disk").c_str());

    // 600 MiB with two cameras writing: well below an hour above the 256 MiB floor.
    EXPECT_TRUE(pump_events_until([&] { return !rows("Мало места для записи").empty(); }, 60s));
    // Another program takes all but 40 MiB above the floor: below ten minutes.
    ASSERT_TRUE(disk.fill_until(296 * mib));
    EXPECT_TRUE(pump_events_until([&] { return rows("Мало места для записи").size() >= 2; }, 30s));
    const auto warnings = rows("Мало места для записи");
    ASSERT_EQ(warnings.size(), 2u);
    for (const auto& warning : warnings) {
        EXPECT_TRUE(warning.error);
        EXPECT_TRUE(std::regex_match(warning.text.ToStdWstring(),
                                     std::wregex(L"Мало места для записи: " +
                                                 folder.ToStdWstring() + L", осталось ≈ \\d+ мин")))
            << warning.text;
    }

    // Below the floor: both writers stop, the live view goes on.
    ASSERT_TRUE(disk.fill_until(200 * mib));
    EXPECT_TRUE(pump_events_until([&] { return rows("Запись остановлена").size() == 2; }, 30s));
    EXPECT_TRUE(pump_events_until(
        [&] {
            const auto cameras = cameras_in(status());
            return cameras.size() == 2 &&
                   std::all_of(cameras.begin(), cameras.end(), [](const auto& camera) {
                       return camera.second.state == L"запись остановлена";
                   });
        },
        5s))
        << status();
    const int boiler_stopped_at = boiler->written_count();
    const int received = boiler->received_count();
    test_support::pump_events_for(2s);
    EXPECT_EQ(boiler->written_count(), boiler_stopped_at);
    EXPECT_GT(boiler->received_count(), received + 5) << "the live view goes on";

    // Room again: recording resumes by itself in new files.
    disk.empty_fillers();
    EXPECT_TRUE(pump_events_until([&] { return rows("Запись возобновлена").size() == 2; }, 30s));
    EXPECT_TRUE(
        pump_events_until([&] { return both_written_at_least(boiler_stopped_at + 20); }, 60s));
    close_window();

    const auto stopped = rows("Запись остановлена: нет места на диске [");
    ASSERT_EQ(stopped.size(), 2u);
    for (const auto& row : stopped)
        EXPECT_TRUE(row.error);
    const auto resumed = rows("Запись возобновлена [");
    ASSERT_EQ(resumed.size(), 2u);
    for (const auto& row : resumed)
        EXPECT_FALSE(row.error);
    EXPECT_TRUE(rows("Не удается").empty()) << "the disk itself never filled";

    const auto folders = app_test::trip_folders(home.path() + "/disk");
    ASSERT_EQ(folders.size(), 2u);
    for (const std::string& trip : folders) {
        const auto index = app_test::read_index(trip + "/data.idx");
        std::map<std::string, long> listed;
        for (const auto& record : index)
            ++listed[record.file];
        const auto videos = test_support::files_with_extension(trip, ".avi");
        EXPECT_EQ(videos.size(), 2u) << "one file before the stop, one after: " << trip;
        EXPECT_EQ(listed.size(), videos.size()) << trip;
        for (const std::string& video : videos)
            EXPECT_EQ(listed[fs::path(video).filename().string()],
                      app_test::count_video_frames(video))
                << video;
    }
    EXPECT_TRUE(boxes.dialogs().empty());
}

} // namespace
