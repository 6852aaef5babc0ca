// The test camera serving a recorded H.264 stream in a loop: the stream is recorded from the
// test camera itself with ffmpeg, served again, and read through the recorder's own stream
// reader across several loops.

#include "media/stream_reader.h"
#include "tests/camera/pipeline_fixtures.h"
#include "tests/support/scratch_folder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <unistd.h>

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test_support::run_command;
using test_support::scratch_folder;
using test_support::shell_quoted;

namespace {

// About `seconds` of the camera's H.264 as an elementary stream, as the README tells how.
// ffmpeg now and then gives up on a stream it joined at a bad moment; it is asked again.
bool record_h264(const std::string& url, int seconds, const std::string& file) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        run_command("ffmpeg -nostdin -loglevel error -rtsp_transport tcp -i " + shell_quoted(url) +
                    " -t " + std::to_string(seconds) +
                    " -an -c:v copy -bsf:v h264_mp4toannexb -f h264 -y " + shell_quoted(file) +
                    " 2>/dev/null");
        if (count_video_frames(file) > 0)
            return true;
    }
    return false;
}

struct read_picture {
    int64_t pts = 0;
    cv::Mat luma;
};

std::vector<read_picture> read_pictures(const std::string& url, int count) {
    // A machine busy with other tests may take a while before the loop's key frame comes
    // round: the reader is given longer than a camera on the car would be.
    media::stream_reader reader(15s);
    std::vector<read_picture> pictures;
    if (!reader.open(url))
        return pictures;
    EXPECT_EQ(reader.facts().codec, AV_CODEC_ID_H264);
    EXPECT_EQ(reader.facts().width, 320);
    EXPECT_EQ(reader.facts().height, 240);
    media::video_frame picture;
    std::vector<media::encoded_packet> packets;
    while (static_cast<int>(pictures.size()) < count && reader.read(picture, packets)) {
        // The very first picture may come before the stream's clock is known.
        if (pictures.empty() && picture.av()->pts == AV_NOPTS_VALUE)
            continue;
        pictures.push_back({picture.av()->pts, picture.plane(0).clone()});
    }
    return pictures;
}

bool same_picture(const cv::Mat& first, const cv::Mat& second) {
    return first.size() == second.size() && cv::norm(first, second, cv::NORM_INF) == 0;
}

} // namespace

TEST(testcam_replay, serves_the_recording_in_a_loop_unchanged_with_time_that_only_rises) {
    const scratch_folder folder("kestrel-replay-test");
    const std::string recording = folder.file("track.h264");
    {
        test_camera live({"--size", "320x240", "--fps", "25"});
        ASSERT_TRUE(record_h264(live.url(), 2, recording));
    }
    const long loop = count_video_frames(recording);
    ASSERT_GE(loop, 25) << "about two seconds recorded";

    test_camera replaying({"--replay", recording});
    const int wanted = static_cast<int>(loop * 5 / 2);
    const auto started = std::chrono::steady_clock::now();
    const std::vector<read_picture> pictures = read_pictures(replaying.url(), wanted);
    const auto took = std::chrono::steady_clock::now() - started;
    ASSERT_EQ(static_cast<int>(pictures.size()), wanted) << "pictures across two loops";
    // Served at the camera's pace, not as fast as the file can be read.
    EXPECT_GT(took, std::chrono::milliseconds(1000 * (wanted - 25) / 25));

    // The loop repeats the recorded pictures exactly: nothing was encoded again, and every
    // picture of the file came round once per loop.
    for (long i = 0; i + loop < wanted; ++i)
        ASSERT_TRUE(same_picture(pictures[i].luma, pictures[i + loop].luma))
            << "picture " << i << " and one loop later";
    ASSERT_FALSE(same_picture(pictures[0].luma, pictures[loop / 2].luma)) << "the recording moves";

    // Stamped as a camera stamps its pictures: time rises at an even pace, also where the loop
    // starts again and when the camera's process is late sending.
    std::vector<int64_t> steps;
    for (size_t i = 1; i < pictures.size(); ++i) {
        ASSERT_NE(pictures[i].pts, AV_NOPTS_VALUE) << "picture " << i;
        ASSERT_GT(pictures[i].pts, pictures[i - 1].pts) << "picture " << i;
        steps.push_back(pictures[i].pts - pictures[i - 1].pts);
    }
    std::vector<int64_t> sorted = steps;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const int64_t median = sorted[sorted.size() / 2];
    const auto [fewest, most] = std::minmax_element(steps.begin(), steps.end());
    EXPECT_GT(*fewest, median * 9 / 10);
    EXPECT_LT(*most, median * 11 / 10);
}

TEST(testcam_replay, a_file_it_cannot_serve_ends_the_camera_with_a_message_naming_it) {
    const scratch_folder folder("kestrel-replay-test");
    const std::string tool = test_support::tool_path("testcam/kestrel-testcam");
    const std::string not_video = folder.file("notes.h264");
    run_command("printf 'not a video' > " + shell_quoted(not_video));
    for (const std::string& file : {folder.file("missing.h264"), not_video}) {
        const std::string said =
            run_command(shell_quoted(tool) + " --replay " + shell_quoted(file) + " 2>&1; echo $?");
        EXPECT_NE(said.find("cannot replay " + file + ": "), std::string::npos) << said;
        EXPECT_EQ(said.substr(said.size() - 2), "1\n") << said;
        EXPECT_EQ(said.find("url "), std::string::npos) << "nothing served: " << said;
    }
    // Options about the synthetic picture do not go with a recording.
    const std::string said =
        run_command(shell_quoted(tool) + " --replay " + shell_quoted(not_video) +
                    " --pattern camera 2>&1; echo $?");
    EXPECT_NE(said.find("usage:"), std::string::npos) << said;
    EXPECT_EQ(said.substr(said.size() - 2), "2\n") << said;
}
