// A recorder killed in the middle of a trip leaves a frame index that parses and lists every
// frame up to its last save.

#include "recording_test_support.h"

#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Runs the recording helper until it has reported `frames` frames, kills it with SIGKILL and
// returns the number of the last frame it reported.
int record_and_kill(const std::string& write_path, const char* format, const char* interval_ms,
                    int frames) {
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string program = std::string(KESTREL_RECORDING_TESTS_DIR) + "/record_until_killed";
    std::vector<char*> args = {const_cast<char*>(program.c_str()),
                               const_cast<char*>(write_path.c_str()), const_cast<char*>(format),
                               const_cast<char*>(interval_ms), nullptr};
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
    int last = -1;
    char line[256];
    const auto read_report = [&] {
        if (std::fgets(line, sizeof line, reports) == nullptr)
            return false;
        int frame = 0;
        if (std::sscanf(line, "frame %d", &frame) == 1)
            last = frame;
        return true;
    };
    while (last + 1 < frames && read_report()) {
    }
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
    // Every reported frame is listed; at most the one in hand at the kill is not reported.
    EXPECT_GE(static_cast<int>(index.size()), last + 1);
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
    // Seven frames per kilometre: the index ends with a whole file, and holds every file that
    // was finished by the last reported frame (plus, perhaps, one finished by the next frame).
    EXPECT_EQ(index.size() % 7, 0u);
    EXPECT_GE(static_cast<int>(index.size()), last / 7 * 7);
    EXPECT_LE(static_cast<int>(index.size()), (last + 1) / 7 * 7);
    for (const auto& [file, frames] : frames_per_file(index)) {
        EXPECT_EQ(frames, 7) << file;
        EXPECT_EQ(probe_video(trip + "/" + file).frames, 7) << file;
    }
}

} // namespace
