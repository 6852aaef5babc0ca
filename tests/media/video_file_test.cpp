// AVI files written through libavcodec and the AVI muxer, checked against ffmpeg itself: MJPEG
// packets identical to `ffmpeg -c:v mjpeg -q:v 3` from the same pictures, and every failure of
// the file reported rather than swallowed.

#include "media/av_error.h"
#include "media/encoded_video_file.h"
#include "tests/support/test_media.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
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

// One checksum per packet, as ffmpeg's framemd5 muxer lists a file's stream.
std::vector<std::string> packet_checksums(const std::string& file) {
    std::vector<std::string> checksums;
    const std::string listing =
        output_of("ffmpeg -v error -i '" + file + "' -c copy -f framemd5 -");
    for (size_t start = 0, end; (end = listing.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string line = listing.substr(start, end - start);
        if (!line.empty() && line[0] != '#')
            checksums.push_back(line.substr(line.rfind(',') + 1));
    }
    return checksums;
}

std::vector<media::video_frame> pictures(int count) {
    std::vector<media::video_frame> frames;
    for (int seed = 0; seed < count; ++seed)
        frames.push_back(
            media::video_frame::from_rgb(test_support::camera_like_picture(width, height, seed)));
    return frames;
}

TEST(EncodedVideoFile, MjpegPacketsAreThoseOfFfmpegAtQuantiserThree) {
    const scratch folder;
    const auto frames = pictures(5);
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
    const auto expected = packet_checksums(folder / "ffmpeg.avi");
    ASSERT_EQ(expected.size(), frames.size());
    EXPECT_EQ(packet_checksums(folder / "ours.avi"), expected);
    EXPECT_EQ(output_of("ffprobe -v error -show_entries stream=codec_tag_string,avg_frame_rate "
                        "-of csv=p=0 '" +
                        (folder / "ours.avi") + "'"),
              "MJPG,25/1\n");
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
