// Single frames of a recorded video, read by their place, against what ffmpeg decodes.

#include "media/video_file_reader.h"
#include "recording/video_file_writer_avi.h"
#include "tests/recording/recording_test_support.h"

#include <fstream>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>

namespace {

// Frames of a recorded XVID file read in a jumping order, against ffmpeg's own decoding of the
// whole file: each must be the frame at that place, not a neighbour.
TEST(video_file_reader, jumps_give_the_frame_at_that_place) {
    scratch_folder folder;
    constexpr int frames = 40;
    {
        video_file_writer_avi writer("XVID", "cam", wxString::FromUTF8("Вся поездка"));
        ASSERT_TRUE(writer.open(folder.wx_path()));
        for (int i = 0; i < frames; ++i)
            ASSERT_EQ(
                writer.write(media::video_frame::from_rgb(camera_like_picture(320, 240, i, 4.0)),
                             position_at(i, 1, i)),
                1u);
        writer.close();
    }
    const std::vector<std::string> videos =
        test_support::files_with_extension(only_trip_folder(folder.path()), ".avi");
    ASSERT_EQ(videos.size(), 1u);
    const std::vector<unsigned char> all = decode_rgb(videos[0], 320, 240 * frames);
    ASSERT_EQ(all.size(), 320u * 240 * 3 * frames);

    media::video_file_reader reader(videos[0]);
    cv::Mat rgb;
    for (const int place : {25, 3, 39, 12, 13, 14, 0, 11, 24, 38, 7}) {
        reader.read(place).to_rgb(rgb);
        ASSERT_EQ(rgb.size(), cv::Size(320, 240));
        int best = -1;
        double best_difference = 1e9;
        for (int k = 0; k < frames; ++k) {
            const cv::Mat decoded(240, 320, CV_8UC3,
                                  const_cast<unsigned char*>(all.data()) + k * 320 * 240 * 3);
            const double difference = cv::norm(rgb, decoded, cv::NORM_L1) / rgb.total();
            if (difference < best_difference) {
                best_difference = difference;
                best = k;
            }
        }
        EXPECT_EQ(best, place);
        EXPECT_LT(best_difference, 6.0) << "frame " << place;
    }
    EXPECT_THROW(reader.read(frames), std::runtime_error);
    EXPECT_NO_THROW(reader.read(5));
    EXPECT_THROW(media::video_file_reader(folder.path() + "/none.avi"), std::runtime_error);
    std::ofstream(folder.path() + "/broken.avi", std::ios::binary) << "RIFF....AVI LIST";
    EXPECT_THROW(media::video_file_reader(folder.path() + "/broken.avi"), std::runtime_error);
}

} // namespace
