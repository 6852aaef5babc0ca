// A power cut at the block level: the recorder writes two cameras onto an ext4 image mounted
// through a loop device; it is stopped (SIGSTOP) and the image file is copied in one short step.
// The copy is what a cut leaves on the disk (what the page cache held is gone): it is checked with
// e2fsck -fy and mounted, then the recorder starts on it and repairs the trips, and a second
// start changes nothing. KESTREL_POWER_CUT_SIZE (default 640x480) sets the cameras' picture
// size for a measurement at another one.

#include "tests/app/app_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/gui_test.h"
#include "tests/support/scratch_folder.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <list>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test_support::run_command;
using test_support::shell_quoted;

namespace {

// A run of a shell command that worked: its output ends with "ok".
bool succeeded(const std::string& command) {
    const std::string out = run_command(command + " >/dev/null 2>&1 && echo ok");
    return out == "ok\n";
}

// An ext4 image mounted through a loop device; unmounted when the object goes.
class mounted_image {
public:
    mounted_image(const fs::path& image, const fs::path& at) : mount_point(at) {
        fs::create_directories(at);
        mounted = succeeded("mount -o loop " + shell_quoted(image.string()) + " " +
                            shell_quoted(at.string()));
    }
    ~mounted_image() { unmount(); }
    mounted_image(const mounted_image&) = delete;
    mounted_image& operator=(const mounted_image&) = delete;

    bool ready() const { return mounted; }
    void unmount() {
        if (mounted)
            succeeded("umount " + shell_quoted(mount_point.string()) + " || umount -l " +
                      shell_quoted(mount_point.string()));
        mounted = false;
    }

private:
    fs::path mount_point;
    bool mounted = false;
};

std::string picture_size() {
    const char* asked = std::getenv("KESTREL_POWER_CUT_SIZE");
    return asked != nullptr && *asked != '\0' ? asked : "640x480";
}

// The only journal file in a home's log folder.
fs::path journal_of(const std::string& home) {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(fs::path(home) / "Meridian5" / "log", ignored))
        if (entry.path().extension() == ".html")
            return entry.path();
    return {};
}

bool journal_has(const std::string& home, const std::string& text, int times = 1) {
    const std::string journal = test_support::read_file_bytes(journal_of(home).string());
    int found = 0;
    for (size_t at = journal.find(text); at != std::string::npos; at = journal.find(text, at + 1))
        ++found;
    return found >= times;
}

// One record of data.idx as python3's XML parser reads it. A cut may leave the last save's
// staged records after the root, where they are no XML: like the recorder's own reader, this
// keeps the records before the damage.
struct record {
    std::string file;
    long frame_in_file = 0;
    std::string time;
};

// The records of a trip's data.idx; `whole` tells whether the file parsed to its end.
std::vector<record> index_of(const fs::path& trip, bool* whole = nullptr) {
    const std::string script =
        "import sys, xml.etree.ElementTree as t\n"
        "try:\n"
        "    for event, f in t.iterparse(sys.argv[1]):\n"
        "        if f.tag == 'frame':\n"
        "            print(f.get('frame_in_file'), f.get('time'), '|', f.get('file'))\n"
        "except t.ParseError:\n"
        "    print('damaged')\n";
    std::istringstream lines(run_command("python3 -c " + shell_quoted(script) + " " +
                                         shell_quoted((trip / "data.idx").string()) +
                                         " 2>/dev/null"));
    std::vector<record> records;
    if (whole != nullptr)
        *whole = true;
    for (std::string line; std::getline(lines, line);) {
        if (line == "damaged") {
            if (whole != nullptr)
                *whole = false;
            continue;
        }
        record r;
        std::istringstream fields(line);
        fields >> r.frame_in_file;
        const size_t bar = line.find(" | ");
        const size_t time_at = line.find(' ') + 1;
        r.time = line.substr(time_at, bar - time_at);
        r.file = line.substr(bar + 3);
        records.push_back(r);
    }
    return records;
}

// data.idx writes the local time as "%c" does in the C locale.
std::time_t time_of(const std::string& text) {
    std::tm parts{};
    if (strptime(text.c_str(), "%a %b %d %H:%M:%S %Y", &parts) == nullptr)
        return 0;
    parts.tm_isdst = -1;
    return std::mktime(&parts);
}

// Stops every thread of the process and waits until each one is stopped. A copy taken while the
// recorder still writes would mix blocks from before and after its syncs, an order no disk ever
// shows; stopped, only writes made since each file's last sync can still reach the image, and any
// mix of those is what a cut may leave.
bool stopped_whole(test_support::child_process& process) {
    process.signal(SIGSTOP);
    const fs::path tasks = "/proc/" + std::to_string(process.pid()) + "/task";
    return test_support::pump_events_until(
        [&] {
            std::error_code gone;
            for (const auto& task : fs::directory_iterator(tasks, gone)) {
                const std::string stat =
                    test_support::read_file_bytes((task.path() / "stat").string());
                const size_t state_at = stat.rfind(") ");
                if (state_at == std::string::npos || stat.size() < state_at + 3 ||
                    (stat[state_at + 2] != 'T' && stat[state_at + 2] != 't'))
                    return false;
            }
            return !gone;
        },
        10s);
}

std::map<std::string, long> decodable_frames(const fs::path& trip) {
    std::map<std::string, long> frames;
    for (const std::string& video : test_support::files_with_extension(trip.string(), ".avi"))
        frames[fs::path(video).filename().string()] = app_test::count_video_frames(video);
    return frames;
}

std::string duration_of(const std::string& video) {
    const std::string text = run_command(
        "ffprobe -v error -show_entries format=duration -of csv=p=0 " + shell_quoted(video));
    return text.substr(0, text.find('\n'));
}

std::map<std::string, std::string> contents_of(const fs::path& root) {
    std::map<std::string, std::string> contents;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && entry.path().filename() != "catalogue.sqlite" &&
            entry.path().filename().string().rfind("catalogue.sqlite", 0) != 0)
            contents[entry.path().string()] = test_support::read_file_bytes(entry.path().string());
    return contents;
}

class power_cut : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "mounting a disk image needs root; this test cuts no power here";
        image = fs::path(scratch.path()) / "disk.img";
        copy = fs::path(scratch.path()) / "after-cut.img";
        if (!succeeded("truncate -s 3G " + shell_quoted(image.string()) + " && mkfs.ext4 -q -F " +
                       shell_quoted(image.string())))
            GTEST_SKIP() << "cannot make an ext4 image here (mkfs.ext4)";
        disk.emplace(image, fs::path(scratch.path()) / "disk");
        if (!disk->ready())
            GTEST_SKIP() << "this machine does not allow mounting a loop device";
    }

    // A home whose settings record both cameras onto `write_path`.
    std::string home_for(const fs::path& write_path) {
        homes.emplace_back("kestrel-power-cut-home");
        const std::string& home = homes.back().path();
        app_test::write_settings(home, {{"front_camera_rtsp_address", boiler.address()},
                                        {"back_camera_rtsp_address", diesel.address()},
                                        {"coordinate_server_port", simulator.address()},
                                        {"dpp_port", "/dev/kestrel-test-no-such-port"},
                                        {"write_path", write_path.string()},
                                        {"write_format", "AVI"},
                                        {"codec", "MJPEG"},
                                        {"write_interval", "0"},
                                        {"video_write_policy", u8"1 километр"}});
        return home;
    }

    test_support::child_process start_recorder(const std::string& home,
                                               const std::vector<std::string>& options) {
        return test_support::child_process(KESTREL_EXECUTABLE, options,
                                           {{"HOME", home}, {"LANG", "C"}, {"LC_ALL", "C"}},
                                           {false, true});
    }

    test_support::scratch_folder scratch{"kestrel-power-cut"};
    fs::path image;
    fs::path copy;
    std::optional<mounted_image> disk;
    std::list<test_support::scratch_folder> homes;
    const app_test::tool_process boiler{"testcam/kestrel-testcam",
                                        {"--port", "0", "--size", picture_size(), "--fps", "25",
                                         "--codec", "mjpeg", "--pattern", "smpte"}};
    const app_test::tool_process diesel{"testcam/kestrel-testcam",
                                        {"--port", "0", "--size", picture_size(), "--fps", "25",
                                         "--codec", "mjpeg", "--pattern", "ball"}};
    // 25 m an answer and two cameras asking: a new file about every 3 seconds.
    const app_test::tool_process simulator{"coordsim/kestrel-coordsim",
                                           {"--quiet", "--port", "0", "--step", "25"}};
};

TEST_F(power_cut, costs_at_most_three_seconds_and_the_next_start_repairs_the_trips) {
    const fs::path recordings = fs::path(scratch.path()) / "disk" / "rec";
    fs::create_directories(recordings);
    const std::string recording_home = home_for(recordings);
    auto recorder = start_recorder(recording_home, {"--open", "front,back"});
    const auto started = std::chrono::steady_clock::now();
    // Both cameras record, each into a few files, for several seconds: the cut then comes at a
    // file boundary or within a file, whatever the moment.
    std::optional<std::chrono::steady_clock::time_point> both_recording;
    ASSERT_TRUE(test_support::pump_events_until(
        [&] {
            const auto now = std::chrono::steady_clock::now();
            const auto trips = app_test::trip_folders(recordings.string());
            if (!both_recording && trips.size() == 2 &&
                std::all_of(trips.begin(), trips.end(), [](const std::string& trip) {
                    return test_support::files_with_extension(trip, ".avi").size() >= 2;
                }))
                both_recording = now;
            return both_recording && now - *both_recording > 6s && now - started > 15s;
        },
        90s))
        << "the cameras did not record";

    // The cut: the disk as it is at this moment, in one short step.
    const auto cut_at = std::chrono::system_clock::now();
    ASSERT_TRUE(stopped_whole(recorder)) << "the recorder did not stop";
    const auto copy_started = std::chrono::steady_clock::now();
    ASSERT_TRUE(succeeded("cp --reflink=auto --sparse=always " + shell_quoted(image.string()) +
                          " " + shell_quoted(copy.string())));
    const auto copy_took = std::chrono::steady_clock::now() - copy_started;
    std::cout << "image copied in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(copy_took).count()
              << " ms\n";
    recorder.kill_now();
    disk->unmount();
    const std::string fsck =
        run_command("e2fsck -fy " + shell_quoted(copy.string()) + " >/dev/null 2>&1; echo $?");
    EXPECT_LE(std::atoi(fsck.c_str()), 1) << "e2fsck could not make the copy whole";
    const mounted_image after_cut(copy, fs::path(scratch.path()) / "after-cut");
    ASSERT_TRUE(after_cut.ready());
    const fs::path cut_recordings = fs::path(scratch.path()) / "after-cut" / "rec";

    const auto trips = app_test::trip_folders(cut_recordings.string());
    ASSERT_EQ(trips.size(), 2u);
    for (const std::string& trip : trips) {
        EXPECT_TRUE(fs::exists(fs::path(trip) / "recording.lock")) << trip;
        const auto frames = decodable_frames(trip);
        const auto index = index_of(trip);
        ASSERT_FALSE(index.empty())
            << trip << " holds "
            << ::testing::PrintToString(test_support::scratch_folder::entries(trip));
        const auto holds = [&](const record& r) {
            return frames.count(r.file) != 0 && r.frame_in_file < frames.at(r.file);
        };
        const long past_the_data =
            std::count_if(index.begin(), index.end(), [&](const record& r) { return !holds(r); });
        // The last decodable frame: the last record that names one, and the frames the disk holds
        // after it (25 a second).
        const auto last = std::find_if(index.rbegin(), index.rend(), holds);
        ASSERT_NE(last, index.rend()) << trip << ": no record names a decodable frame";
        long after_last = frames.at(last->file) - 1 - last->frame_in_file;
        for (const auto& [file, count] : frames)
            if (std::none_of(index.begin(), index.end(),
                             [&](const record& r) { return r.file == file; }))
                after_last += std::max(0L, count);
        const double last_frame_at = static_cast<double>(time_of(last->time)) + after_last / 25.0;
        // The index keeps whole seconds: this overstates the loss by up to a second.
        const double lost =
            std::chrono::duration<double>(cut_at.time_since_epoch()).count() - last_frame_at;
        std::cout << fs::path(trip).filename().string() << ": " << picture_size() << ", "
                  << index.size() << " records, " << past_the_data << " past the data, "
                  << after_last << " frames after the last record, at most " << lost << " s lost\n";
        EXPECT_EQ(past_the_data, 0) << trip << ": records name frames their files do not hold";
        EXPECT_LE(lost, 3.0) << trip;
    }

    // The next start repairs both trips, whatever else it does meanwhile.
    const std::string repair_home = home_for(cut_recordings);
    {
        auto repairer = start_recorder(repair_home, {});
        EXPECT_TRUE(test_support::pump_events_until(
            [&] { return journal_has(repair_home, u8"Поездка восстановлена", 2); }, 120s))
            << test_support::read_file_bytes(journal_of(repair_home).string());
        repairer.signal(SIGTERM);
        EXPECT_EQ(repairer.wait_for_exit(30s), 0);
    }
    const std::string listed =
        run_command(shell_quoted(test_support::tool_path("trips/kestrel-trips")) + " --root " +
                    shell_quoted(cut_recordings.string()) + " list");
    for (const std::string& trip : trips) {
        EXPECT_FALSE(fs::exists(fs::path(trip) / "recording.lock")) << trip;
        const auto frames = decodable_frames(trip);
        std::map<std::string, long> listed_per_file;
        bool whole = false;
        for (const record& r : index_of(trip, &whole))
            ++listed_per_file[r.file];
        EXPECT_TRUE(whole) << trip << ": the repaired index does not parse";
        long total = 0;
        for (const auto& [file, count] : frames) {
            EXPECT_EQ(listed_per_file[file], count) << trip << "/" << file;
            const std::string duration = duration_of((fs::path(trip) / file).string());
            EXPECT_TRUE(!duration.empty() && std::isdigit(static_cast<unsigned char>(duration[0])))
                << file << " has no duration: " << duration;
            total += count;
        }
        const std::string line_start = fs::path(trip).filename().string() + ",";
        const size_t at = listed.find(line_start);
        ASSERT_NE(at, std::string::npos) << listed;
        std::istringstream fields(listed.substr(at, listed.find('\n', at) - at));
        std::string field;
        for (int i = 0; i < 5; ++i)
            std::getline(fields, field, ',');
        EXPECT_EQ(std::atol(field.c_str()), total) << listed;
    }

    // A second start finds nothing to repair.
    const auto repaired = contents_of(cut_recordings);
    const std::string second_home = home_for(cut_recordings);
    {
        auto second = start_recorder(second_home, {});
        EXPECT_TRUE(test_support::pump_events_until(
            [&] { return journal_has(second_home, u8"Сервер координат"); }, 30s));
        test_support::pump_events_until([] { return false; }, 3s);
        second.signal(SIGTERM);
        EXPECT_EQ(second.wait_for_exit(30s), 0);
    }
    EXPECT_FALSE(journal_has(second_home, u8"Поездка восстановлена"));
    EXPECT_EQ(contents_of(cut_recordings), repaired);
}

} // namespace
