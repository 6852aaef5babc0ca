// The recorder's retention thread: it deletes an offloaded trip on its own thread while the
// caller (the GUI thread in the recorder) changes the trips being recorded and takes the news.

#include "archive/retention_keeper.h"
#include "tests/recording/recording_test_support.h"
#include "tests/support/child_process.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <thread>

namespace fs = std::filesystem;

namespace {

// A finished trip folder as the recorder names it, with an index and a video file.
fs::path make_trip(const fs::path& root, const char* name) {
    const fs::path folder = root / name;
    fs::create_directories(folder);
    std::ofstream(folder / "data.idx") << "<?xml version=\"1.0\"?>\n<section/>\n";
    std::ofstream(folder / "126_км.avi") << std::string(100000, 'v');
    return folder;
}

} // namespace

TEST(retention_keeper, deletes_offloaded_trips_on_its_own_thread_but_never_an_open_one) {
    scratch_folder scratch;
    const fs::path root = fs::path(scratch.path()) / "recordings";
    const fs::path office = fs::path(scratch.path()) / "office";
    fs::create_directories(root);
    fs::create_directories(office);
    const fs::path older = make_trip(root, "2026.05.01 10.00.00[Котел]");
    const fs::path open = make_trip(root, "2026.05.01 11.00.00[Дизель]");
    int status = -1;
    run_command("HOME=" + shell_quote(scratch.path()) + " " +
                    shell_quote(test_support::tool_path("trips/kestrel-trips")) + " --root " +
                    shell_quote(root.string()) + " offload " + shell_quote(office.string()),
                &status);
    ASSERT_EQ(status, 0);

    retention_result news;
    {
        // No disk is ever that free: every offloaded trip that may go, goes.
        retention_keeper keeper(root, std::numeric_limits<uint64_t>::max(),
                                std::chrono::milliseconds(300));
        keeper.set_open_trips({open.filename().string()});
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (news.deleted.empty() && std::chrono::steady_clock::now() < give_up) {
            keeper.set_open_trips({open.filename().string()});
            retention_result taken = keeper.take_news();
            news.deleted.insert(news.deleted.end(), taken.deleted.begin(), taken.deleted.end());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // A few more passes with the open trip still named: it stays.
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        const retention_result later = keeper.take_news();
        EXPECT_TRUE(later.deleted.empty());
        EXPECT_TRUE(later.failures.empty());
    }
    ASSERT_EQ(news.deleted.size(), 1u);
    EXPECT_EQ(news.deleted[0].folder, older);
    EXPECT_FALSE(fs::exists(older));
    EXPECT_TRUE(fs::exists(open / "data.idx"));
}
