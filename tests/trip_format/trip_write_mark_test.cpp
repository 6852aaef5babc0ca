#include "tests/support/scratch_folder.h"
#include "trip_format/trip_write_mark.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using trip_format::state_of_trip;
using trip_format::trip_state;
using trip_format::trip_write_mark;

std::filesystem::path mark_file(const std::filesystem::path& folder) {
    return folder / trip_format::write_mark_name;
}

// A writer in a process of its own that marks the trip and is then killed, as a power cut ends
// it: the mark stays, its lock does not.
void mark_in_a_process_that_is_killed(const std::filesystem::path& folder) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        trip_write_mark mark(folder);
        const char held = mark.held() ? '1' : '0';
        (void)!::write(ready[1], &held, 1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(held, '1');
    EXPECT_EQ(state_of_trip(folder), trip_state::being_written);
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
}

TEST(TripWriteMark, WritingThenCleanEndLeavesNoMark) {
    test_support::scratch_folder folder("kestrel-mark");
    EXPECT_EQ(state_of_trip(folder.path()), trip_state::finished);
    trip_write_mark mark(folder.path());
    ASSERT_TRUE(mark.held());
    EXPECT_EQ(state_of_trip(folder.path()), trip_state::being_written);
    EXPECT_EQ(trip_write_mark::take_over(folder.path()), nullptr);
    mark.finish();
    EXPECT_EQ(state_of_trip(folder.path()), trip_state::finished);
    EXPECT_EQ(test_support::scratch_folder::entries(folder.path()).size(), 0u);
}

TEST(TripWriteMark, AWriterThatEndsWithoutFinishingLeavesACut) {
    test_support::scratch_folder folder("kestrel-mark");
    { trip_write_mark mark(folder.path()); }
    EXPECT_EQ(state_of_trip(folder.path()), trip_state::cut);
}

TEST(TripWriteMark, AKilledWriterLeavesACutThatOneRepairerTakesOver) {
    test_support::scratch_folder folder("kestrel-mark");
    mark_in_a_process_that_is_killed(folder.path());
    ASSERT_TRUE(std::filesystem::exists(mark_file(folder.path())));
    EXPECT_EQ(state_of_trip(folder.path()), trip_state::cut);

    auto repairer = trip_write_mark::take_over(folder.path());
    ASSERT_NE(repairer, nullptr);
    EXPECT_EQ(state_of_trip(folder.path()), trip_state::being_written);
    EXPECT_EQ(trip_write_mark::take_over(folder.path()), nullptr);
    repairer->finish();
    EXPECT_EQ(state_of_trip(folder.path()), trip_state::finished);
    EXPECT_EQ(trip_write_mark::take_over(folder.path()), nullptr);
}

TEST(TripWriteMark, AFolderThatCannotBeWrittenGetsNoMark) {
    const trip_write_mark mark("/proc/no-such-trip");
    EXPECT_FALSE(mark.held());
    EXPECT_EQ(state_of_trip("/proc/no-such-trip"), trip_state::finished);
}

} // namespace
