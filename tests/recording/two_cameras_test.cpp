// Both cameras record at once, each writer on its own thread, sharing only the codec table and
// the encoders' settings.

#include "recording/video_file_writer_avi.h"
#include "recording/video_file_writer_png.h"
#include "recording_test_support.h"

#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

void record(video_file_writer_basic& writer, int frames, std::size_t& written) {
    written = 0;
    for (int i = 0; i < frames; ++i) {
        TrackPosition position(i);
        position.has_fix = true;
        position.km = i / 3;
        written += writer.write(camera_like_frame(160, 120, i), position);
    }
    written += writer.close();
}

TEST(TwoCameras, RecordAtOnceIntoTripsOfTheirOwn) {
    scratch_folder front_path;
    scratch_folder back_path;
    std::size_t front_written = 0;
    std::size_t back_written = 0;
    {
        // Opened on this thread, as the GUI thread opens them; written on threads of their own.
        std::shared_ptr<video_file_writer_basic> front = std::make_shared<video_file_writer_avi>(
            "XVID", wxString::FromUTF8("Котел"), wxString::FromUTF8("1 километр"));
        std::shared_ptr<video_file_writer_basic> back =
            std::make_shared<video_file_writer_png>(wxString::FromUTF8("Дизель"), "%frame");
        ASSERT_TRUE(front->open(front_path.wx_path()));
        ASSERT_TRUE(back->open(back_path.wx_path()));
        std::thread front_thread([&] { record(*front, 9, front_written); });
        std::thread back_thread([&] { record(*back, 9, back_written); });
        front_thread.join();
        back_thread.join();
    }
    EXPECT_EQ(front_written, 9u);
    EXPECT_EQ(back_written, 9u);
    const std::string front_trip = only_trip_folder(front_path.path());
    const auto front_index = parse_index(front_trip + "/data.idx");
    EXPECT_EQ(front_index.size(), 9u);
    for (const auto& [file, frames] : frames_per_file(front_index))
        EXPECT_EQ(probe_video(front_trip + "/" + file).frames, frames) << file;
    EXPECT_EQ(parse_index(only_trip_folder(back_path.path()) + "/data.idx").size(), 9u);
}

} // namespace
