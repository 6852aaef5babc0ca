// The recorder's catalogue keeper: its thread syncs and adds trips while another thread reads
// the catalogue through a connection of its own, and a stop ends a long sync but not the trips
// still to add, openers racing to make a new catalogue all keep it on disk, and a job that fails
// is told to the keeper's owner without ending the keeper.

#include "archive/catalogue_keeper.h"
#include "archive/sqlite_connection.h"
#include "archive/trip_catalogue.h"
#include "recording/frame_index.h"
#include "tests/recording/recording_test_support.h"

#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <sqlite3.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

fs::path write_trip(const fs::path& root, int number, int records) {
    char name[64];
    std::snprintf(name, sizeof name, "2026.03.%02d 10.00.00[Котел]", number + 1);
    const fs::path folder = root / name;
    fs::create_directories(folder);
    FrameIndex index;
    index.set_path(wxString::FromUTF8((folder / "data.idx").string()));
    for (int i = 0; i < records; ++i) {
        TrackPosition p(i);
        p.has_fix = true;
        p.abs = 50000.0 + i * 10.0;
        p.km = 50 + i / 100;
        p.m = (i % 100) * 10.0;
        p.way = std::to_string(1 + number % 2);
        index.add("v.avi", static_cast<uint64_t>(i), p);
    }
    return folder;
}

} // namespace

TEST(catalogue_keeper, fills_the_catalogue_while_a_reader_reads_it) {
    scratch_folder folder;
    const fs::path root = folder.path();
    for (int i = 0; i < 12; ++i)
        write_trip(root, i, 400);
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::string reader_failure;
    std::thread reader([&] {
        try {
            trip_catalogue catalogue(root);
            while (!done) {
                const auto trips = catalogue.trips();
                for (const trip_summary& trip : trips)
                    catalogue.passes(trip.folder);
                ++reads;
            }
        } catch (const std::exception& error) {
            reader_failure = error.what();
        }
    });
    fs::path late;
    {
        catalogue_keeper keeper;
        keeper.sync_later(root);
        late = write_trip(root, 20, 300);
        keeper.add_later(late);
        keeper.wait_idle();
        done = true;
    }
    reader.join();
    EXPECT_EQ(reader_failure, "");
    EXPECT_GT(reads.load(), 0);
    trip_catalogue catalogue(root);
    EXPECT_EQ(catalogue.trips().size(), 13u);
    ASSERT_TRUE(catalogue.trip(late));
    EXPECT_EQ(catalogue.trip(late)->frames, 300u);
    EXPECT_EQ(catalogue.sync(), 0u);
}

// The recorder's keeper and a browser may be the first to open a new catalogue at the same
// moment; neither may fall back to one in memory, which would lose what it adds.
TEST(catalogue_keeper, two_first_openers_both_keep_the_catalogue_on_disk) {
    for (int round = 0; round < 60; ++round) {
        scratch_folder folder;
        const fs::path root = folder.path();
        std::string notices[3];
        std::vector<std::thread> openers;
        for (std::string& notice : notices)
            openers.emplace_back([&root, &notice] {
                const trip_catalogue catalogue(root);
                if (catalogue.in_memory())
                    notice = catalogue.notice();
            });
        for (std::thread& opener : openers)
            opener.join();
        for (const std::string& notice : notices)
            ASSERT_EQ(notice, "") << "round " << round;
    }
}

TEST(catalogue_keeper, a_stop_ends_the_sync_but_adds_the_trips_asked_for) {
    scratch_folder folder;
    const fs::path root = folder.path();
    for (int i = 0; i < 25; ++i)
        write_trip(root, i, 2000);
    const fs::path closed = write_trip(root, 27, 50);
    {
        catalogue_keeper keeper;
        keeper.sync_later(root);
        keeper.add_later(closed);
        keeper.stop();
    }
    trip_catalogue catalogue(root);
    ASSERT_TRUE(catalogue.trip(closed));
    EXPECT_EQ(catalogue.trip(closed)->frames, 50u);
    EXPECT_LE(catalogue.trips().size(), 2u);
}

TEST(catalogue_keeper, a_job_that_fails_is_told_and_the_next_job_still_runs) {
    scratch_folder folder;
    const fs::path root = folder.path();
    const fs::path trip = write_trip(root, 0, 20);
    // A catalogue of the right layout number whose trips table lacks its columns: every
    // attempt to store a trip fails inside SQLite.
    const fs::path file = root / trip_catalogue::file_name;
    sqlite_connection(file.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)
        .execute("CREATE TABLE trips(name TEXT); PRAGMA user_version=1;");

    std::mutex failures_lock;
    std::vector<std::string> failures;
    catalogue_keeper keeper([&](const std::string& what) {
        const std::lock_guard<std::mutex> lock(failures_lock);
        failures.push_back(what);
    });
    keeper.add_later(trip);
    keeper.wait_idle();
    {
        const std::lock_guard<std::mutex> lock(failures_lock);
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_NE(failures[0].find("trips"), std::string::npos) << failures[0];
    }

    // The keeper lives on: once the catalogue can be made anew, the same trip goes in.
    fs::remove(file);
    keeper.add_later(trip);
    keeper.wait_idle();
    {
        const std::lock_guard<std::mutex> lock(failures_lock);
        EXPECT_EQ(failures.size(), 1u);
    }
    const trip_catalogue catalogue(root);
    ASSERT_TRUE(catalogue.trip(trip));
    EXPECT_EQ(catalogue.trip(trip)->frames, 20u);
}
