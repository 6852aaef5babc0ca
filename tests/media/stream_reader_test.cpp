// The stream reader against the real test camera (RTSP on 127.0.0.1) and against stand-in
// cameras that accept connections but never stream.

#include "media/stream_reader.h"
#include "tests/camera/pipeline_fixtures.h"
#include "tests/support/rtsp_stand_in.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;
using test_support::rtsp_stand_in;

namespace {

using clock_type = std::chrono::steady_clock;

constexpr uint32_t fourcc(const char (&letters)[5]) {
    return static_cast<uint32_t>(letters[0]) | static_cast<uint32_t>(letters[1]) << 8 |
           static_cast<uint32_t>(letters[2]) << 16 | static_cast<uint32_t>(letters[3]) << 24;
}

// Reads pictures until `count` arrived or a read fails; the number read.
int read_pictures(media::stream_reader& reader, int count,
                  const std::function<void(const media::video_frame&,
                                           const std::vector<media::encoded_packet>&)>& check) {
    media::video_frame picture;
    std::vector<media::encoded_packet> packets;
    int read = 0;
    while (read < count && reader.read(picture, packets)) {
        ++read;
        check(picture, packets);
    }
    return read;
}

// Runs `wait` on another thread, asks the reader to stop once `stuck` holds (and a little
// later, so the wait is really under way), and returns how long the stop took to be answered.
std::chrono::milliseconds stop_answer_time(media::stream_reader& reader,
                                           const std::function<bool()>& wait,
                                           const std::function<bool()>& stuck, bool& result) {
    auto waiting = std::async(std::launch::async, wait);
    const auto give_up = clock_type::now() + 20s;
    while (!stuck() && clock_type::now() < give_up)
        std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(300ms);
    const auto asked = clock_type::now();
    reader.request_stop();
    result = waiting.get();
    return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - asked);
}

} // namespace

TEST(stream_reader, h264_camera_gives_its_facts_pictures_and_the_packets_behind_them) {
    test_camera camera({"--size", "320x240", "--codec", "h264"});
    media::stream_reader reader(5s);
    ASSERT_TRUE(reader.open(camera.url()));
    const media::stream_facts& facts = reader.facts();
    EXPECT_EQ(facts.fps, 25.0);
    EXPECT_EQ(facts.fourcc, fourcc("h264"));
    EXPECT_EQ(facts.fourcc, 875967080u) << "the number the journal has always shown";
    EXPECT_EQ(facts.width, 320);
    EXPECT_EQ(facts.height, 240);
    EXPECT_EQ(facts.codec, AV_CODEC_ID_H264);

    reader.keep_packets(true);
    std::shared_ptr<const media::stream_parameters> stream;
    int key_packets = 0;
    const int read = read_pictures(reader, 60, [&](const auto& picture, const auto& packets) {
        EXPECT_EQ(picture.width(), 320);
        EXPECT_EQ(picture.height(), 240);
        EXPECT_FALSE(picture.full_range());
        ASSERT_FALSE(packets.empty()) << "every picture comes from at least one packet";
        for (const media::encoded_packet& packet : packets) {
            if (!stream)
                stream = packet.stream();
            EXPECT_EQ(packet.stream(), stream) << "one set of parameters per opening";
            EXPECT_GT(packet.bytes(), 0u);
            key_packets += packet.key() ? 1 : 0;
        }
    });
    EXPECT_EQ(read, 60);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->codec().codec_id, AV_CODEC_ID_H264);
    EXPECT_GT(stream->codec().extradata_size, 0) << "parameter sets for a copied file";
    EXPECT_GE(key_packets, 1) << "a key frame every second";

    reader.keep_packets(false);
    EXPECT_EQ(read_pictures(reader, 5,
                            [](const auto&, const auto& packets) { EXPECT_TRUE(packets.empty()); }),
              5);
    reader.close();
    EXPECT_FALSE(reader.is_open());
}

TEST(stream_reader, mjpeg_camera_keeps_its_own_rate_and_full_range) {
    test_camera camera({"--size", "640x360", "--codec", "mjpeg", "--fps", "10"});
    media::stream_reader reader(5s);
    ASSERT_TRUE(reader.open(camera.url()));
    EXPECT_EQ(reader.facts().fps, 10.0);
    EXPECT_EQ(reader.facts().fourcc, fourcc("mjpe"));
    EXPECT_EQ(reader.facts().fourcc, 1701866093u);
    EXPECT_EQ(reader.facts().width, 640);
    EXPECT_EQ(reader.facts().height, 360);
    EXPECT_EQ(read_pictures(reader, 10,
                            [](const auto& picture, const auto&) {
                                EXPECT_EQ(picture.width(), 640);
                                EXPECT_EQ(picture.height(), 360);
                                EXPECT_TRUE(picture.full_range());
                            }),
              10);
}

TEST(stream_reader, lost_camera_ends_the_read_and_a_new_opening_reads_again) {
    test_camera camera({"--size", "320x240"});
    media::stream_reader reader(5s);
    ASSERT_TRUE(reader.open(camera.url()));
    ASSERT_EQ(read_pictures(reader, 5, [](const auto&, const auto&) {}), 5);
    camera.stop_serving();
    read_pictures(reader, 1000, [](const auto&, const auto&) {});
    EXPECT_FALSE(reader.is_open());
    EXPECT_FALSE(reader.open(camera.url())) << "nothing listens";
    camera.serve_again();
    ASSERT_TRUE(reader.open(camera.url()));
    EXPECT_EQ(read_pictures(reader, 5, [](const auto&, const auto&) {}), 5);
}

TEST(stream_reader, silent_camera_fails_the_open_after_the_timeout_or_at_once_when_asked) {
    rtsp_stand_in silent(rtsp_stand_in::behaviour::silent);
    {
        media::stream_reader reader(1s);
        const auto start = clock_type::now();
        EXPECT_FALSE(reader.open(silent.url()));
        EXPECT_GE(clock_type::now() - start, 1s);
        EXPECT_LT(clock_type::now() - start, 4s) << "the open is bounded by the timeout";
        EXPECT_FALSE(reader.is_open());
    }
    media::stream_reader reader(60s);
    bool opened = true;
    const int before = silent.connections();
    const auto answer = stop_answer_time(
        reader, [&] { return reader.open(silent.url()); },
        [&] { return silent.connections() > before; }, opened);
    EXPECT_FALSE(opened);
    EXPECT_LT(answer, 1s);
    EXPECT_FALSE(reader.open(silent.url())) << "a stopped reader stays stopped";
}

TEST(stream_reader, refusing_camera_and_missing_camera_fail_the_open) {
    rtsp_stand_in refusing(rtsp_stand_in::behaviour::unavailable);
    media::stream_reader reader(60s);
    const auto start = clock_type::now();
    EXPECT_FALSE(reader.open(refusing.url()));
    EXPECT_EQ(refusing.connections(), 1);
    EXPECT_FALSE(reader.open("rtsp://127.0.0.1:1/none"));
    EXPECT_LT(clock_type::now() - start, 10s) << "neither waits for the 60 s timeout";
}

TEST(stream_reader, frozen_camera_ends_the_read_after_the_timeout_or_at_once_when_asked) {
    test_camera camera({"--size", "320x240"});
    {
        media::stream_reader reader(1s);
        ASSERT_TRUE(reader.open(camera.url()));
        ASSERT_EQ(read_pictures(reader, 5, [](const auto&, const auto&) {}), 5);
        camera.freeze();
        // Pictures already on their way still come; then the read gives up.
        const auto start = clock_type::now();
        read_pictures(reader, 1000, [](const auto&, const auto&) {});
        EXPECT_LT(clock_type::now() - start, 5s);
        EXPECT_FALSE(reader.is_open());
        camera.thaw();
    }
    media::stream_reader reader(60s);
    ASSERT_TRUE(reader.open(camera.url()));
    ASSERT_EQ(read_pictures(reader, 5, [](const auto&, const auto&) {}), 5);
    camera.freeze();
    std::atomic<int> read_while_frozen{0};
    bool still_reading = true;
    const auto answer = stop_answer_time(
        reader,
        [&] {
            return read_pictures(reader, 1000,
                                 [&](const auto&, const auto&) { ++read_while_frozen; }) == 1000;
        },
        [] { return true; }, still_reading);
    camera.thaw();
    EXPECT_FALSE(still_reading);
    EXPECT_LT(answer, 1s);
    EXPECT_LT(read_while_frozen.load(), 1000);
}
