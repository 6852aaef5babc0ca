// AVI files written through the AVI muxer, checked against ffmpeg itself: MJPEG files that
// ffmpeg decodes frame for frame at the quality of `ffmpeg -c:v mjpeg -q:v 3` from the same
// pictures, and every failure of the file reported rather than swallowed.

#include "media/av_error.h"
#include "media/encoded_video_file.h"
#include "tests/support/test_media.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <opencv2/core.hpp>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr int width = 320;
constexpr int height = 240;
constexpr uint32_t mjpg = MKTAG('M', 'J', 'P', 'G');

class scratch {
public:
    scratch() {
        std::string pattern = (fs::temp_directory_path() / "kestrel-media-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp");
        root = pattern;
    }
    ~scratch() { fs::remove_all(root); }
    std::string operator/(const std::string& name) const { return (root / name).string(); }

private:
    fs::path root;
};

std::string output_of(const std::string& command) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::string output;
    std::array<char, 4096> chunk{};
    while (pipe && std::fgets(chunk.data(), chunk.size(), pipe.get()) != nullptr)
        output += chunk.data();
    return output;
}

// The luma of every frame of a file as ffmpeg decodes it, at JPEG levels.
std::vector<cv::Mat> decoded_luma(const std::string& file) {
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(
        popen(("ffmpeg -v error -i '" + file + "' -f rawvideo -pix_fmt gray -").c_str(), "r"),
        pclose);
    std::vector<cv::Mat> frames;
    for (;;) {
        cv::Mat luma(height, width, CV_8UC1);
        if (!pipe || std::fread(luma.data, 1, luma.total(), pipe.get()) != luma.total())
            return frames;
        frames.push_back(luma);
    }
}

// Mean luma PSNR of a file's frames against the pictures it was made from.
double mean_psnr(const std::vector<cv::Mat>& decoded,
                 const std::vector<media::video_frame>& source) {
    double sum = 0;
    for (std::size_t i = 0; i < decoded.size(); ++i)
        sum += cv::PSNR(decoded[i], media::video_frame(source[i].copy_in_range(true)).plane(0));
    return decoded.empty() ? 0 : sum / double(decoded.size());
}

std::vector<media::video_frame> pictures(int count) {
    std::vector<media::video_frame> frames;
    for (int seed = 0; seed < count; ++seed)
        frames.push_back(
            media::video_frame::from_rgb(test_support::camera_like_picture(width, height, seed)));
    return frames;
}

TEST(EncodedVideoFile, MjpegDecodesFrameForFrameAtTheQualityOfFfmpegAtQuantiserThree) {
    const scratch folder;
    const auto frames = pictures(12);
    {
        // ffmpeg gets the same pictures already in full range, so that it converts nothing.
        std::ofstream raw(folder / "frames.yuv", std::ios::binary);
        for (const auto& frame : frames) {
            const media::video_frame full(frame.copy_in_range(true));
            for (int index = 0; index < 3; ++index) {
                const cv::Mat plane = full.plane(index).clone();
                raw.write(reinterpret_cast<const char*>(plane.data),
                          static_cast<std::streamsize>(plane.total()));
            }
        }
    }
    media::encoded_video_file ours(folder / "ours.avi", mjpg, width, height);
    for (const auto& frame : frames)
        EXPECT_EQ(ours.write(frame), 1u);
    EXPECT_EQ(ours.finish(), 0u);
    output_of("ffmpeg -nostdin -v error -f rawvideo -pix_fmt yuvj420p -s 320x240 -r 25 -i '" +
              (folder / "frames.yuv") + "' -c:v mjpeg -q:v 3 -threads 1 -y '" +
              (folder / "ffmpeg.avi") + "'");
    EXPECT_EQ(output_of("ffprobe -v error -count_frames -show_entries "
                        "stream=codec_tag_string,avg_frame_rate,nb_read_frames,pix_fmt "
                        "-of csv=p=0 '" +
                        (folder / "ours.avi") + "'"),
              "MJPG,yuvj420p,25/1,12\n");
    const auto our_frames = decoded_luma(folder / "ours.avi");
    const auto ffmpeg_frames = decoded_luma(folder / "ffmpeg.avi");
    ASSERT_EQ(our_frames.size(), frames.size());
    ASSERT_EQ(ffmpeg_frames.size(), frames.size());
    EXPECT_GE(mean_psnr(our_frames, frames), mean_psnr(ffmpeg_frames, frames) - 0.05);
    EXPECT_LE(fs::file_size(folder / "ours.avi"), fs::file_size(folder / "ffmpeg.avi") * 1.15);
}

TEST(EncodedVideoFile, FailuresAreReportedNotSwallowed) {
    const scratch folder;
    // No such folder: the file cannot be created.
    EXPECT_THROW(media::encoded_video_file(folder / "missing/file.avi", mjpg, width, height),
                 media::av_error);
    // A four-character code without an encoder here.
    EXPECT_THROW(
        media::encoded_video_file(folder / "hevc.avi", MKTAG('H', 'E', 'V', '1'), width, height),
        std::invalid_argument);
    EXPECT_FALSE(media::encoded_video_file::can_encode(MKTAG('H', 'E', 'V', '1')));
    // A picture of another size than the file's is refused, never squeezed in.
    media::encoded_video_file file(folder / "file.avi", MKTAG('X', 'V', 'I', 'D'), width, height);
    EXPECT_THROW(file.write(media::video_frame::from_rgb(
                     test_support::camera_like_picture(width / 2, height / 2, 0))),
                 std::invalid_argument);
    EXPECT_EQ(file.write(pictures(1).front()), 1u);
    EXPECT_EQ(file.finish(), 0u);
}

} // namespace
