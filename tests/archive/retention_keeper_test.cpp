// The recorder's retention thread: it deletes an offloaded trip on its own thread while the
// caller (the GUI thread in the recorder) changes the trips being recorded and takes the news.

#include "archive/retention_keeper.h"
#include "recording/video_file_writer_png.h"
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

fs::path record_trip(const fs::path& root, const char* camera) {
    video_file_writer_png writer(wxString::FromUTF8(camera), wxString::FromUTF8("%frame"));
    EXPECT_TRUE(writer.open(wxString::FromUTF8(root.string())));
    for (int i = 0; i < 2; ++i) {
        TrackPosition place(i);
        place.has_fix = true;
        place.abs = 126500.0 + 10.0 * i;
        writer.write(camera_like_frame(64, 48, i), place);
    }
    writer.close();
    return fs::path(writer.trip_folder().utf8_string());
}

} // namespace

TEST(retention_keeper, deletes_offloaded_trips_on_its_own_thread_but_never_an_open_one) {
    scratch_folder scratch;
    const fs::path root = fs::path(scratch.path()) / "recordings";
    const fs::path office = fs::path(scratch.path()) / "office";
    fs::create_directories(root);
    fs::create_directories(office);
    const fs::path older = record_trip(root, "Котел");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const fs::path open = record_trip(root, "Дизель");
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
                                std::chrono::milliseconds(20));
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (news.deleted.empty() && std::chrono::steady_clock::now() < give_up) {
            keeper.set_open_trips({open.filename().string()});
            retention_result taken = keeper.take_news();
            news.deleted.insert(news.deleted.end(), taken.deleted.begin(), taken.deleted.end());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // A few more passes with the open trip still named: it stays.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const retention_result later = keeper.take_news();
        EXPECT_TRUE(later.deleted.empty());
        EXPECT_TRUE(later.failures.empty());
    }
    ASSERT_EQ(news.deleted.size(), 1u);
    EXPECT_EQ(news.deleted[0].folder, older);
    EXPECT_FALSE(fs::exists(older));
    EXPECT_TRUE(fs::exists(open / "data.idx"));
}
