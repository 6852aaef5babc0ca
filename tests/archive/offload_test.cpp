// Trips leave the car: kestrel-trips offload and verify run as programs over trips the
// recorder's own writer made, checked with sha256sum, onto real file systems (tmpfs mounts for
// a full and a read-only office disk), killed mid-copy, and against another car's copy.

#include "archive/retention.h"
#include "archive/trip_manifest.h"
#include "recording/video_file_writer_png.h"
#include "tests/recording/recording_test_support.h"
#include "tests/support/child_process.h"
#include "tests/support/test_media.h"
#include "tests/support/tmpfs_mount.h"
#include "trip_format/trip_write_mark.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using test_support::write_noise;

namespace {

const std::string car_name = "Вагон-7";

// A trip of a few stills recorded by the recorder's own writer.
fs::path record_trip(const fs::path& root, const char* camera, int frames) {
    video_file_writer_png writer(wxString::FromUTF8(camera), wxString::FromUTF8("%frame"));
    EXPECT_TRUE(writer.open(wxString::FromUTF8(root.string())));
    for (int i = 0; i < frames; ++i)
        writer.write(camera_like_frame(64, 48, i), place_of_frame_10m_apart(i));
    writer.close();
    return fs::path(writer.trip_folder().utf8_string());
}

using tool_result = trip_tool_result;

class offload : public testing::Test {
protected:
    void SetUp() override {
        root = fs::path(scratch.path()) / "recordings";
        destination = fs::path(scratch.path()) / "office";
        home = fs::path(scratch.path()) / "home";
        fs::create_directories(root);
        fs::create_directories(destination);
        fs::create_directories(home / "Meridian5" / "config");
        std::ofstream(home / "Meridian5" / "config" / ".kestrel")
            << "car_name=" << car_name << "\n";
    }

    tool_result run_tool(const std::vector<std::string>& arguments) const {
        return run_tool_on(root, arguments);
    }

    // kestrel-trips over another root, with more environment ("NAME=value ...").
    tool_result run_tool_on(const fs::path& over, const std::vector<std::string>& arguments,
                            const std::string& environment = "") const {
        return run_trip_tool(over.string(), arguments,
                             "HOME=" + shell_quote(home.string()) + " " + environment);
    }

    fs::path copy_of(const fs::path& trip) const {
        return destination / car_name / trip.filename();
    }

    // sha256sum's own check inside the copy's folder.
    static bool sha256sum_passes(const fs::path& copy) {
        int status = -1;
        run_command("cd " + shell_quote(copy.string()) + " && sha256sum --quiet -c " +
                        trip_manifest::file_name,
                    &status);
        return status == 0;
    }

    // When `list` says each trip's copy was last read back whole; empty when it has none.
    std::map<std::string, std::string> offloaded_column() const {
        std::map<std::string, std::string> column;
        std::istringstream lines(run_tool({"list"}).out);
        std::string line;
        std::getline(lines, line);
        EXPECT_NE(line.find(",offloaded,verified"), std::string::npos) << line;
        while (std::getline(lines, line))
            column[line.substr(0, line.find(','))] = line.substr(line.rfind(',') + 1);
        return column;
    }

    std::vector<std::string> leftovers() const {
        std::vector<std::string> hidden;
        if (!fs::exists(destination / car_name))
            return hidden;
        for (const std::string& name :
             test_support::scratch_folder::entries((destination / car_name).string()))
            if (name[0] == '.')
                hidden.push_back(name);
        return hidden;
    }

    scratch_folder scratch;
    fs::path root, destination, home;
};

} // namespace

TEST(trip_manifest, reads_what_sha256sum_writes_and_refuses_names_outside_the_folder) {
    trip_manifest written;
    written.sums["data.idx"] = std::string(64, 'a');
    written.sums[u8"1_240100-1_126-500.png"] = std::string(64, '0');
    const std::optional<trip_manifest> read = trip_manifest::parse(written.text());
    ASSERT_TRUE(read);
    EXPECT_EQ(*read, written);
    EXPECT_TRUE(trip_manifest::parse(std::string(64, 'b') + " *binary.avi\n"));
    EXPECT_FALSE(trip_manifest::parse(std::string(64, 'b') + "  ../escape\n"));
    EXPECT_FALSE(trip_manifest::parse(std::string(64, 'b') + "  sub/file\n"));
    EXPECT_FALSE(trip_manifest::parse(std::string(63, 'b') + "  short\n"));
}

TEST_F(offload, copies_whole_trips_checked_by_sha256sum_and_copies_nothing_the_second_time) {
    const fs::path first = record_trip(root, "Котел", 4);
    std::this_thread::sleep_for(std::chrono::seconds(1)); // trip folders are named by the second
    const fs::path second = record_trip(root, "Дизель", 3);

    const tool_result dry = run_tool({"offload", destination.string(), "--dry-run"});
    EXPECT_EQ(dry.status, 0);
    EXPECT_NE(dry.out.find("would copy: " + first.filename().string()), std::string::npos);
    EXPECT_NE(dry.out.find("would copy: " + second.filename().string()), std::string::npos);
    EXPECT_FALSE(fs::exists(copy_of(first)));
    EXPECT_FALSE(fs::exists(copy_of(second)));

    const tool_result copied = run_tool({"offload", destination.string()});
    ASSERT_EQ(copied.status, 0) << copied.out;
    EXPECT_NE(copied.out.find("copied: " + first.filename().string()), std::string::npos);
    EXPECT_NE(copied.out.find("copied: " + second.filename().string()), std::string::npos);
    // A pipe gets plain lines, never the terminal's rewritten progress line.
    EXPECT_EQ(copied.out.find('\r'), std::string::npos);
    for (const fs::path& trip : {first, second}) {
        ASSERT_TRUE(fs::exists(copy_of(trip) / "data.idx"));
        EXPECT_TRUE(sha256sum_passes(copy_of(trip))) << trip;
        EXPECT_NE(read_file_text((copy_of(trip) / "car.identity").string())
                      .find("car_name=" + car_name + "\n"),
                  std::string::npos);
        EXPECT_EQ(trip_manifest::parse(read_file_text((copy_of(trip) / "manifest.sha256").string()))
                      ->sums.size(),
                  test_support::scratch_folder::entries(trip.string()).size());
    }
    EXPECT_TRUE(leftovers().empty());
    const auto column = offloaded_column();
    EXPECT_FALSE(column.at(first.filename().string()).empty());
    EXPECT_FALSE(column.at(second.filename().string()).empty());

    const auto before = fs::last_write_time(copy_of(first) / "manifest.sha256");
    const tool_result again = run_tool({"offload", destination.string()});
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.out.find("0 copied, 2 already there"), std::string::npos) << again.out;
    EXPECT_EQ(fs::last_write_time(copy_of(first) / "manifest.sha256"), before);
}

TEST_F(offload, verify_finds_a_changed_byte_and_the_next_offload_replaces_the_copy) {
    const fs::path trip = record_trip(root, "Котел", 3);
    ASSERT_EQ(run_tool({"offload", destination.string()}).status, 0);
    EXPECT_EQ(run_tool({"verify", destination.string()}).status, 0);

    const fs::path damaged = copy_of(trip) / "data.idx";
    {
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(10);
        file.put('#');
    }
    const tool_result verify = run_tool({"verify", destination.string()});
    EXPECT_EQ(verify.status, 1);
    EXPECT_NE(verify.out.find("damaged: " + car_name + "/" + trip.filename().string() +
                              ": data.idx does not match"),
              std::string::npos)
        << verify.out;
    // The car no longer counts the trip as offloaded.
    EXPECT_EQ(offloaded_column().at(trip.filename().string()), "");

    const tool_result repaired = run_tool({"offload", destination.string()});
    EXPECT_EQ(repaired.status, 0);
    EXPECT_NE(repaired.out.find("replaced: " + trip.filename().string()), std::string::npos)
        << repaired.out;
    EXPECT_TRUE(sha256sum_passes(copy_of(trip)));
    EXPECT_EQ(run_tool({"verify", destination.string()}).status, 0);
    EXPECT_TRUE(leftovers().empty());

    // A car that lost its catalogue reads a copy back before it counts it again.
    for (const char* suffix : {"", "-wal", "-shm"})
        fs::remove(root / (std::string("catalogue.sqlite") + suffix));
    {
        std::fstream file(damaged, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(12);
        file.put('#');
    }
    const tool_result recounted = run_tool({"offload", destination.string()});
    EXPECT_NE(recounted.out.find("replaced: " + trip.filename().string()), std::string::npos)
        << recounted.out;
    EXPECT_TRUE(sha256sum_passes(copy_of(trip)));
}

TEST_F(offload,
       a_missing_read_only_or_full_destination_ends_with_one_line_keeps_and_counts_nothing) {
    const fs::path trip = record_trip(root, "Котел", 2);
    write_noise(trip / "big.avi", 3 << 20, 1);
    const auto expect_refused = [&](const std::string& to, const std::string& reason) {
        const tool_result refused = run_tool({"offload", to});
        EXPECT_EQ(refused.status, 1) << to;
        ASSERT_EQ(refused.error_lines.size(), 1u) << refused.out;
        EXPECT_NE(refused.error_lines[0].find(reason), std::string::npos) << refused.error_lines[0];
        EXPECT_FALSE(fs::exists(copy_of(trip)));
        EXPECT_TRUE(leftovers().empty()) << "no part of a trip is left behind";
        EXPECT_EQ(offloaded_column().at(trip.filename().string()), "");
    };
    expect_refused((destination / "nowhere").string(), "nowhere");
    {
        const test_support::tmpfs_mount read_only(destination.string(), "ro,size=8m");
        if (!read_only.ready())
            GTEST_SKIP() << "cannot mount a tmpfs here (not root?)";
        expect_refused(destination.string(), "read-only");
    }
    const test_support::tmpfs_mount full(destination.string(), "size=2m");
    ASSERT_TRUE(full.ready());
    expect_refused(destination.string(), "is full");
}

TEST_F(offload, killed_mid_copy_leaves_no_trip_under_its_name_and_the_next_run_finishes_it) {
    const fs::path trip = record_trip(root, "Котел", 2);
    // "a.avi" is copied first and whole before "b.avi", which is still on its way at the kill.
    write_noise(trip / "a.avi", 8 << 20, 3);
    write_noise(trip / "b.avi", 250 << 20, 4);
    {
        test_support::child_process running(
            test_support::tool_path("trips/kestrel-trips"),
            {"--root", root.string(), "offload", destination.string()}, {{"HOME", home.string()}},
            {true, true});
        const fs::path partial =
            destination / car_name / ("." + trip.filename().string() + ".partial");
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        std::error_code error;
        while (std::chrono::steady_clock::now() < give_up &&
               !(fs::file_size(partial / "b.avi", error) > 0 && !error))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(fs::exists(partial / "b.avi")) << "the copy never began";
        running.kill_now();
    }
    EXPECT_FALSE(fs::exists(copy_of(trip)));
    EXPECT_EQ(offloaded_column().at(trip.filename().string()), "");

    const tool_result finished = run_tool({"offload", destination.string()});
    ASSERT_EQ(finished.status, 0) << finished.out;
    EXPECT_NE(finished.out.find("finished: " + trip.filename().string()), std::string::npos)
        << finished.out;
    EXPECT_TRUE(sha256sum_passes(copy_of(trip)));
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(offload, another_cars_trip_at_the_destination_is_never_overwritten) {
    const fs::path trip = record_trip(root, "Котел", 2);
    const fs::path foreign = copy_of(trip);
    fs::create_directories(foreign);
    const std::string identity = "car_name=" + car_name + "\nmachine_id=0123456789abcdef\n";
    std::ofstream(foreign / "car.identity") << identity;
    std::ofstream(foreign / "data.idx") << "theirs";

    const tool_result result = run_tool({"offload", destination.string()});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("refused: " + trip.filename().string()), std::string::npos);
    EXPECT_NE(result.out.find("machine 0123456789abcdef"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("not to this car"), std::string::npos);
    EXPECT_EQ(read_file_text((foreign / "data.idx").string()), "theirs");
    EXPECT_EQ(read_file_text((foreign / "car.identity").string()), identity);
    EXPECT_EQ(offloaded_column().at(trip.filename().string()), "");
}

TEST_F(offload, a_root_that_does_not_exist_is_an_error) {
    root = fs::path(scratch.path()) / "nonexistent";
    for (const std::vector<std::string>& command : {std::vector<std::string>{"list"},
                                                    {"place", "126+500"},
                                                    {"offload", destination.string()}}) {
        const tool_result result = run_tool(command);
        EXPECT_EQ(result.status, 1) << command[0];
        ASSERT_EQ(result.error_lines.size(), 1u) << command[0];
        EXPECT_NE(result.error_lines[0].find("does not exist"), std::string::npos);
    }
}

TEST_F(offload, a_trip_being_written_is_skipped_and_one_left_by_a_cut_is_repaired_first) {
    const fs::path written = record_trip(root, "Котел", 2);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const fs::path cut = record_trip(root, "Дизель", 2);
    const trip_format::trip_write_mark writing(written);
    ASSERT_TRUE(writing.held());
    // A mark nobody holds is what a power cut leaves.
    std::ofstream(cut / trip_format::write_mark_name).flush();

    const tool_result dry = run_tool({"offload", destination.string(), "--dry-run"});
    EXPECT_NE(dry.out.find("would copy: " + cut.filename().string() + ", "), std::string::npos)
        << dry.out;
    EXPECT_NE(dry.out.find("(after repairing it)"), std::string::npos);
    EXPECT_TRUE(fs::exists(cut / trip_format::write_mark_name)) << "a dry run changes nothing";

    const tool_result result = run_tool({"offload", destination.string()});
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_NE(result.out.find("skipped (still being written): " + written.filename().string()),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("copied: " + cut.filename().string()), std::string::npos);
    EXPECT_NE(result.out.find("(repaired first)"), std::string::npos);
    EXPECT_FALSE(fs::exists(copy_of(written)));
    EXPECT_FALSE(fs::exists(cut / trip_format::write_mark_name));
    EXPECT_FALSE(fs::exists(copy_of(cut) / trip_format::write_mark_name));
    EXPECT_TRUE(sha256sum_passes(copy_of(cut)));
}

namespace {

// The passthrough file system of the tests over a folder, unmounted when the object goes.
class fuse_mount {
public:
    fuse_mount(const fs::path& folder, const fs::path& mountpoint) : mountpoint(mountpoint) {
        fs::create_directories(mountpoint);
        if (!fs::exists("/dev/fuse") || std::system("command -v fusermount >/dev/null") != 0 ||
            std::system("/usr/bin/python3 -c 'import fusepy' 2>/dev/null") != 0)
            return;
        server.emplace(std::string(KESTREL_SOURCE_DIR) + "/tests/archive/passthrough_fs.py",
                       std::vector<std::string>{folder.string(), mountpoint.string()},
                       std::vector<std::pair<std::string, std::string>>{},
                       test_support::child_streams{false, true});
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < give_up && !mounted())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ~fuse_mount() {
        if (mounted())
            std::system(("fusermount -u " + shell_quote(mountpoint.string())).c_str());
    }
    bool mounted() const {
        return run_command("stat -f -c %T " + shell_quote(mountpoint.string())).find("fuse") !=
               std::string::npos;
    }

private:
    fs::path mountpoint;
    std::optional<test_support::child_process> server;
};

} // namespace

TEST_F(offload,
       an_office_archive_of_two_cars_lists_and_finds_both_and_keeps_no_catalogue_on_a_share) {
    // A second car with a trip over the same stretch.
    const fs::path other_root = fs::path(scratch.path()) / "other-car";
    const fs::path other_home = fs::path(scratch.path()) / "other-home";
    fs::create_directories(other_root);
    fs::create_directories(other_home / "Meridian5" / "config");
    std::ofstream(other_home / "Meridian5" / "config" / ".kestrel") << "car_name=Вагон-9\n";
    const fs::path ours = record_trip(root, "Котел", 4);
    const fs::path theirs = record_trip(other_root, "Дизель", 4);
    ASSERT_EQ(run_tool({"offload", destination.string()}).status, 0);
    ASSERT_EQ(run_tool_on(other_root, {"offload", destination.string()},
                          "HOME=" + shell_quote(other_home.string()))
                  .status,
              0);

    // Seen through a user-space file system, as from a file server: the catalogues go to the
    // cache folder, never onto the share.
    const fs::path cache = fs::path(scratch.path()) / "cache";
    {
        fuse_mount share(destination, fs::path(scratch.path()) / "share");
        if (share.mounted()) {
            const tool_result list = run_tool_on(fs::path(scratch.path()) / "share", {"list"},
                                                 "XDG_CACHE_HOME=" + shell_quote(cache.string()));
            EXPECT_EQ(list.status, 0);
            EXPECT_EQ(simple_csv_rows(list.out).size(), 3u) << list.out;
            EXPECT_TRUE(list.error_lines.empty()) << list.error_lines.front();
            size_t catalogues = 0;
            for (const auto& entry : fs::recursive_directory_iterator(destination))
                EXPECT_EQ(entry.path().filename().string().find("catalogue"), std::string::npos)
                    << entry.path();
            for (const auto& entry : fs::directory_iterator(cache / "kestrel"))
                catalogues +=
                    entry.path().filename().string().find("-catalogue.sqlite") != std::string::npos;
            EXPECT_EQ(catalogues, 2u) << "one per car";
        } else {
            std::printf("FUSE is not available here (/dev/fuse, fusermount, python3-fusepy): "
                        "the share's part of this test is skipped\n");
        }
    }

    const auto list = simple_csv_rows(run_tool_on(destination, {"list"}).out);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0][0], "car");
    EXPECT_EQ(list[0][1], "folder");
    std::map<std::string, std::string> cars;
    for (size_t row = 1; row < list.size(); ++row)
        cars[list[row][0]] = list[row][1];
    EXPECT_EQ(cars["Вагон-7"], ours.filename().string());
    EXPECT_EQ(cars["Вагон-9"], theirs.filename().string());

    const tool_result place = run_tool_on(destination, {"place", "126+510"});
    ASSERT_EQ(place.status, 0) << (place.error_lines.empty() ? "" : place.error_lines[0]);
    const auto passes = simple_csv_rows(place.out);
    ASSERT_EQ(passes.size(), 3u) << place.out;
    EXPECT_EQ(passes[0][0], "car");
    std::set<std::string> passed;
    for (size_t row = 1; row < passes.size(); ++row)
        passed.insert(passes[row][0]);
    EXPECT_EQ(passed, (std::set<std::string>{"Вагон-7", "Вагон-9"}));
}

TEST_F(offload, retention_deletes_only_offloaded_trips_unchanged_since_and_not_being_recorded) {
    const fs::path first = record_trip(root, "Котел", 2);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const fs::path changed = record_trip(root, "Котел", 2);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const fs::path open = record_trip(root, "Котел", 2);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const fs::path without_copy = record_trip(root, "Дизель", 2);
    ASSERT_EQ(run_tool({"offload", destination.string()}).status, 0);
    // The last trip's copy is found damaged: the car stops counting it.
    fs::remove(copy_of(without_copy) / "data.idx");
    ASSERT_EQ(run_tool({"verify", destination.string()}).status, 1);
    std::ofstream(changed / "marks.csv", std::ios::app) << "mark\n";
    // What a power cut in the middle of an earlier deletion left.
    fs::create_directories(root / ".2026.01.01 00.00.00[Котел].deleting" / "leftover");

    // A limit no disk reaches: everything that may go, goes.
    const retention_result result =
        make_room(root, std::numeric_limits<uint64_t>::max(), {open.filename().string()},
                  [](const fs::path& folder) -> std::optional<uint64_t> {
                      return fs::space(folder).available;
                  });
    ASSERT_EQ(result.deleted.size(), 1u);
    EXPECT_EQ(result.deleted[0].folder, first);
    EXPECT_EQ(result.deleted[0].copy, copy_of(first).string());
    EXPECT_TRUE(result.failures.empty());
    EXPECT_FALSE(fs::exists(first));
    EXPECT_TRUE(fs::exists(changed / "data.idx")) << "changed since its copy";
    EXPECT_TRUE(fs::exists(open / "data.idx")) << "a camera writes it";
    EXPECT_TRUE(fs::exists(without_copy / "data.idx")) << "no verified copy";
    EXPECT_FALSE(fs::exists(root / ".2026.01.01 00.00.00[Котел].deleting"));
    EXPECT_EQ(offloaded_column().count(first.filename().string()), 0u);
}
