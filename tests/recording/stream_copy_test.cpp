// Recording that copies the camera's H.264 packets: files start at key frames, a split waits
// for the next key frame, the index lists each frame in its real file and place, and the
// parameter sets travel in the stream. The packets come from libx264 configured like a camera
// (no B-frames, a fixed group of pictures, parameter sets outside the packets).

#include "media/av_error.h"
#include "recording/video_file_writer_avi.h"
#include "recording_test_support.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>

extern "C" {
#include <libavutil/opt.h>
}

namespace {

constexpr int width = 320;
constexpr int height = 240;
constexpr int group = 10;

struct format_context_deleter {
    void operator()(AVFormatContext* context) const { avformat_free_context(context); }
};

// A camera's stream: one packet per picture, a key frame every `group` pictures.
std::vector<media::encoded_packet> camera_packets(int frames) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr)
        throw std::runtime_error("no libx264");
    media::codec_context_handle encoder(avcodec_alloc_context3(codec));
    encoder->width = width;
    encoder->height = height;
    encoder->pix_fmt = AV_PIX_FMT_YUV420P;
    encoder->time_base = AVRational{1, 90000};
    encoder->gop_size = group;
    encoder->keyint_min = group;
    encoder->max_b_frames = 0;
    encoder->thread_count = 1;
    encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(encoder->priv_data, "preset", "ultrafast", 0);
    av_opt_set(encoder->priv_data, "tune", "zerolatency", 0);
    av_opt_set(encoder->priv_data, "x264-params", "scenecut=0", 0);
    media::checked(avcodec_open2(encoder.get(), codec, nullptr), "avcodec_open2");

    const std::unique_ptr<AVFormatContext, format_context_deleter> holder(avformat_alloc_context());
    AVStream* stream = avformat_new_stream(holder.get(), nullptr);
    media::checked(avcodec_parameters_from_context(stream->codecpar, encoder.get()),
                   "avcodec_parameters_from_context");
    stream->time_base = encoder->time_base;
    const auto parameters = std::make_shared<const media::stream_parameters>(*stream);

    std::vector<media::encoded_packet> packets;
    const media::packet_handle packet = media::make_packet();
    for (int i = 0; i <= frames; ++i) {
        if (i < frames) {
            media::frame_handle frame = media::make_frame();
            media::checked(av_frame_ref(frame.get(), camera_like_frame(width, height, i).av()),
                           "av_frame_ref");
            frame->pts = i * 3600;
            media::checked(avcodec_send_frame(encoder.get(), frame.get()), "avcodec_send_frame");
        } else {
            media::checked(avcodec_send_frame(encoder.get(), nullptr), "avcodec_send_frame");
        }
        while (avcodec_receive_packet(encoder.get(), packet.get()) == 0) {
            packets.emplace_back(*packet, parameters);
            av_packet_unref(packet.get());
        }
    }
    return packets;
}

TrackPosition at(int frame, int km) {
    TrackPosition p(frame);
    p.has_fix = true;
    p.dir = "123456";
    p.way = "1";
    p.km = km;
    return p;
}

// How often an H.264 sequence parameter set begins in the file's bytes.
int parameter_sets_in(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string start_code("\0\0\1", 3);
    int found = 0;
    for (size_t at = bytes.find(start_code); at != std::string::npos;
         at = bytes.find(start_code, at + 3))
        if (at + 3 < bytes.size() && (bytes[at + 3] & 0x1f) == 7)
            ++found;
    return found;
}

std::string first_frame_kind(const std::string& file) {
    return run_command("ffprobe -v error -select_streams v:0 -read_intervals %+#1 -show_entries "
                       "frame=key_frame,pict_type -of csv=p=0 " +
                       shell_quote(file));
}

TEST(StreamCopy, FilesStartAndSplitAtKeyFramesAndTheIndexIsExact) {
    const auto packets = camera_packets(30);
    ASSERT_EQ(packets.size(), 30u);
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(packets[i].key(), i % group == 0) << i;

    scratch_folder folder;
    std::size_t written = 0;
    std::vector<std::size_t> per_frame;
    {
        std::shared_ptr<video_file_writer_basic> writer = std::make_shared<video_file_writer_avi>(
            "h264", "Cam", wxString::FromUTF8("1 километр"));
        ASSERT_TRUE(writer->open(folder.wx_path()));
        EXPECT_EQ(writer->take_rows().size(), 1u) << "where the trip is recorded";
        // The recording begins in the middle of a group of pictures; the kilometre changes at
        // frame 13, inside the second group.
        for (int i = 5; i < 30; ++i) {
            per_frame.push_back(writer->write_copied(camera_like_frame(width, height, i),
                                                     {packets[i]}, at(i, i < 13 ? 1 : 2)));
            written += per_frame.back();
        }
        written += writer->close();
        EXPECT_TRUE(writer->take_rows().empty()) << "waiting for a key frame is no failure";
    }
    EXPECT_EQ(std::count(per_frame.begin(), per_frame.begin() + 5, 0u), 5);
    EXPECT_EQ(written, 20u);

    const std::string trip = only_trip_folder(folder.path());
    const auto index = parse_index(trip + "/data.idx");
    ASSERT_EQ(index.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        const int frame = i + 10;
        EXPECT_EQ(index[i]["frame"], std::to_string(frame));
        EXPECT_EQ(index[i]["file"], frame < 20 ? "123456-1_0001_км.avi" : "123456-1_0002_км.avi");
        EXPECT_EQ(index[i]["frame_in_file"], std::to_string(frame % 10));
    }
    for (const char* name : {"123456-1_0001_км.avi", "123456-1_0002_км.avi"}) {
        const std::string file = trip + "/" + name;
        const probed_video video = probe_video(file);
        EXPECT_EQ(video.codec, "h264") << name;
        EXPECT_EQ(video.tag, "H264") << name;
        EXPECT_EQ(video.frames, 10) << name;
        EXPECT_EQ(first_frame_kind(file), "1,I\n") << name;
        // One set in the file's header, one more before the key frame in the stream.
        EXPECT_GE(parameter_sets_in(file), 2) << name;
    }
    EXPECT_EQ(scratch_folder::entries(trip),
              (std::vector<std::string>{"123456-1_0001_км.avi", "123456-1_0002_км.avi",
                                        "data.idx", "route.csv"}));
}

TEST(StreamCopy, FramesWithoutPacketsAreEncodedAndAReopenedStreamStartsAFile) {
    const auto first_opening = camera_packets(4);
    const auto second_opening = camera_packets(4);
    scratch_folder folder;
    std::size_t written = 0;
    {
        std::shared_ptr<video_file_writer_basic> writer = std::make_shared<video_file_writer_avi>(
            "h264", "Cam", wxString::FromUTF8("Вся поездка"));
        ASSERT_TRUE(writer->open(folder.wx_path()));
        for (int i = 0; i < 4; ++i)
            written += writer->write_copied(camera_like_frame(width, height, i), {first_opening[i]},
                                            at(i, 1));
        for (int i = 0; i < 4; ++i)
            written += writer->write_copied(camera_like_frame(width, height, i),
                                            {second_opening[i]}, at(4 + i, 1));
        written += writer->close();
    }
    EXPECT_EQ(written, 8u);
    const std::string trip = only_trip_folder(folder.path());
    const auto per_file = frames_per_file(parse_index(trip + "/data.idx"));
    EXPECT_EQ(per_file, (std::map<std::string, int>{{"123456-1.avi", 4}, {"123456-1 (2).avi", 4}}));
    for (const auto& [name, frames] : per_file)
        EXPECT_EQ(probe_video(trip + "/" + name).frames, frames) << name;
}

} // namespace
