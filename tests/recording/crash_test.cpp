// A recorder killed in the middle of a trip leaves a frame index that parses and lists every
// frame up to its last save.

#include "recording_test_support.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// Runs a helper program of this folder with the arguments until it has reported the number
// `until` in a line "<report> N" on its standard error, waits `delay` more, kills it with
// SIGKILL and returns the last number it reported.
int run_and_kill(const std::string& helper, const std::vector<std::string>& arguments,
                 const char* report, int until,
                 std::chrono::microseconds delay = std::chrono::microseconds(0)) {
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string program = std::string(KESTREL_RECORDING_TESTS_DIR) + "/" + helper;
    std::vector<char*> args = {const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        args.push_back(const_cast<char*>(argument.c_str()));
    args.push_back(nullptr);
    pid_t child = 0;
    const int spawned =
        ::posix_spawn(&child, program.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        throw std::runtime_error("cannot start " + program);
    }
    std::FILE* reports = ::fdopen(out[0], "r");
    const std::string format = std::string(report) + " %d";
    int last = -1;
    char line[256];
    const auto read_report = [&] {
        if (std::fgets(line, sizeof line, reports) == nullptr)
            return false;
        int number = 0;
        if (std::sscanf(line, format.c_str(), &number) == 1)
            last = number;
        return true;
    };
    while (last < until && read_report()) {
    }
    std::this_thread::sleep_for(delay);
    ::kill(child, SIGKILL);
    // Whatever it reported before the kill landed counts too.
    while (read_report()) {
    }
    std::fclose(reports);
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the helper ended on its own, status " << status;
    return last;
}

// Records a trip with the recording helper until it has reported `frames` frames, then kills it.
int record_and_kill(const std::string& write_path, const char* format, const char* interval_ms,
                    int frames) {
    return run_and_kill("record_until_killed", {write_path, format, interval_ms}, "frame",
                        frames - 1);
}

void expect_frames_numbered_from_zero(const std::vector<index_frame>& index) {
    for (size_t i = 0; i < index.size(); ++i)
        ASSERT_EQ(index[i]["frame"], std::to_string(i));
}

TEST(Crash, ImagesSavedWithTheIndexAfterEveryFrameAreAllListed) {
    scratch_folder folder;
    const int last = record_and_kill(folder.path(), "PNG", "0", 30);
    ASSERT_GE(last, 29);
    const std::string trip = only_trip_folder(folder.path());
    const auto index = parse_index(trip + "/data.idx");
    expect_frames_numbered_from_zero(index);
    // Every reported frame is listed, but for the newest when its record waited for the next
    // save (which it does when it would end the file at the very end of a memory page); at most
    // the one in hand at the kill is not reported.
    EXPECT_GE(static_cast<int>(index.size()), last);
    EXPECT_LE(static_cast<int>(index.size()), last + 2);
    for (const auto& frame : index)
        EXPECT_FALSE(decode_rgb(trip + "/" + frame["file"], 160, 120).empty()) << frame["file"];
}

TEST(Crash, VideoFilesFinishedAtSplitsAreListedWholeWithoutPeriodicSaves) {
    scratch_folder folder;
    // An hour between periodic saves: only the saves at splits can have happened.
    const int last = record_and_kill(folder.path(), "AVI", "3600000", 40);
    ASSERT_GE(last, 39);
    const std::string trip = only_trip_folder(folder.path());
    const auto index = parse_index(trip + "/data.idx");
    expect_frames_numbered_from_zero(index);
    // Seven frames per kilometre: the index holds every file that was finished by the last
    // reported frame (plus, perhaps, one finished by the next frame). A save at a split may
    // leave the file's newest record for the next frame's save, which then lists the first
    // frame of the next file too: the index is whole files, give or take that one record.
    const int listed = static_cast<int>(index.size());
    const int whole_files = (listed + 1) / 7;
    EXPECT_LE(std::abs(listed - whole_files * 7), 1) << listed << " records";
    EXPECT_GE(listed, last / 7 * 7 - 1);
    EXPECT_LE(listed, (last + 1) / 7 * 7 + 1);
    const auto files = frames_per_file(index);
    for (const auto& [file, frames] : files) {
        const int recorded = probe_video(trip + "/" + file).frames;
        if (frames == 7) {
            EXPECT_EQ(recorded, 7) << file;
        } else {
            // Only the last file listed may be short of its last record or have only its first.
            EXPECT_EQ(file, index.back()["file"]);
            EXPECT_TRUE(frames == 6 || frames == 1) << file << ": " << frames;
            EXPECT_GE(recorded, frames) << file;
        }
    }
}

TEST(Crash, AnIndexKilledInTheMiddleOfItsSavesAlwaysParses) {
    // Random moments, reproducible from the seed: most fall into a save, for saves follow one
    // another as fast as the disk takes them.
    const unsigned seed = std::random_device()();
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delay_us(0, 20000);
    for (int run = 0; run < 25; ++run) {
        scratch_folder folder;
        const std::string index_path = folder.path() + "/data.idx";
        const int saved =
            run_and_kill("save_index_until_killed", {index_path, std::to_string(random())}, "saved",
                         0, std::chrono::microseconds(delay_us(random)));
        ASSERT_GE(saved, 1) << "seed " << seed;
        const auto index = parse_index(index_path);
        // Every record of the last save reported, but perhaps its newest; in order.
        ASSERT_GE(static_cast<int>(index.size()), saved - 1) << "seed " << seed << ", run " << run;
        for (size_t i = 0; i < index.size(); ++i)
            ASSERT_EQ(index[i]["frame"], std::to_string(i)) << "seed " << seed << ", run " << run;
    }
}

} // namespace
