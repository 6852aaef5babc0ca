// AVI files a cut left unfinished, repaired: one past 1 GiB, inside its OpenDML extension, built
// quickly by writing the same large packet many times; and one on a disk without room for the
// copy. ffprobe checks the results.

#include "media/av_handles.h"
#include "media/avi_file.h"
#include "media/avi_repair.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/tmpfs_mount.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <optional>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using media::avi_repair_result;

// A noisy 1080p JPEG picture: a few megabytes, so few packets make a large file.
std::vector<uchar> large_picture() {
    cv::Mat noise(1080, 1920, CV_8UC3);
    cv::randu(noise, cv::Scalar::all(0), cv::Scalar::all(256));
    std::vector<uchar> bytes;
    cv::imencode(".jpg", noise, bytes, {cv::IMWRITE_JPEG_QUALITY, 95});
    return bytes;
}

// An MJPEG AVI of at least `bytes` bytes whose writer stopped without finishing it, as a power
// cut stops it. Returns the frames written.
int write_cut_file(const fs::path& path, uint64_t bytes) {
    const std::vector<uchar> picture = large_picture();
    media::parameters_handle codec = media::make_parameters();
    codec->codec_type = AVMEDIA_TYPE_VIDEO;
    codec->codec_id = AV_CODEC_ID_MJPEG;
    codec->codec_tag = MKTAG('M', 'J', 'P', 'G');
    codec->width = 1920;
    codec->height = 1080;
    media::avi_file file(path.string(), *codec, AVRational{1, 25});
    media::packet_handle packet = media::make_packet();
    int frames = 0;
    for (; static_cast<uint64_t>(frames) * picture.size() < bytes; ++frames) {
        EXPECT_EQ(av_new_packet(packet.get(), static_cast<int>(picture.size())), 0);
        std::copy(picture.begin(), picture.end(), packet->data);
        packet->pts = packet->dts = frames;
        packet->flags |= AV_PKT_FLAG_KEY;
        file.write(*packet);
        av_packet_unref(packet.get());
    }
    return frames;
}

std::string probe(const fs::path& file, const std::string& entries) {
    std::string text = test_support::run_command(
        "ffprobe -v error -count_packets -select_streams v:0 -show_entries " + entries +
        " -of csv=p=0 " + test_support::shell_quoted(file.string()));
    return text.substr(0, text.find('\n'));
}

long packets_in(const fs::path& file) {
    return std::atol(probe(file, "stream=nb_read_packets").c_str());
}

TEST(AviRepair, AFileCutPastOneGibibyteIsFinishedWithEveryWholeFrame) {
    test_support::scratch_folder folder("kestrel-avi-repair");
    const fs::path video = fs::path(folder.path()) / "cut.avi";
    const uint64_t gibibyte = uint64_t(1) << 30;
    const int written = write_cut_file(video, gibibyte + (uint64_t(64) << 20));
    ASSERT_GT(fs::file_size(video), gibibyte);
    // The cut tore the last chunk. The header counts only the frames of the first gibibyte: the
    // muxer writes the counts when it starts the extension and again at the end.
    fs::resize_file(video, fs::file_size(video) - 1000);
    EXPECT_LT(std::atof(probe(video, "format=duration").c_str()) * 25, written - 10);

    const avi_repair_result repaired = media::repair_avi(video);
    EXPECT_EQ(repaired.what, avi_repair_result::outcome::rewritten);
    EXPECT_EQ(repaired.frames, static_cast<size_t>(written - 1));
    EXPECT_EQ(packets_in(video), written - 1);
    const std::string duration = probe(video, "format=duration");
    EXPECT_NEAR(std::atof(duration.c_str()), (written - 1) / 25.0, 0.05) << duration;
    EXPECT_FALSE(fs::exists(video.string() + ".repairing"));

    // Finished now: a second repair only counts.
    const auto size = fs::file_size(video);
    const avi_repair_result again = media::repair_avi(video);
    EXPECT_EQ(again.what, avi_repair_result::outcome::whole);
    EXPECT_EQ(again.frames, static_cast<size_t>(written - 1));
    EXPECT_EQ(fs::file_size(video), size);
}

TEST(AviRepair, WithoutRoomForTheCopyTheFileStaysAsItWasAndReadable) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small disk needs root; this machine does not allow it";
    const test_support::scratch_folder folder("kestrel-small-disk");
    const test_support::tmpfs_mount disk(folder.path(), "size=24m");
    ASSERT_TRUE(disk.ready());
    const fs::path video = fs::path(disk.path()) / "cut.avi";
    const int written = write_cut_file(video, uint64_t(14) << 20);
    const auto size = fs::file_size(video);

    const avi_repair_result result = media::repair_avi(video);
    EXPECT_EQ(result.what, avi_repair_result::outcome::no_room);
    EXPECT_EQ(result.frames, static_cast<size_t>(written));
    EXPECT_EQ(fs::file_size(video), size);
    EXPECT_EQ(packets_in(video), written);
    EXPECT_FALSE(fs::exists(video.string() + ".repairing"));
}

} // namespace
