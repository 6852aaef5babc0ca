// Jumps to places in long 1080p trips, as the trip browser makes them: the place looked up in
// the trip's index, the frame decoded from the key frame before it. Two trips of 20,000 frames
// at 25 fps, MJPEG (every frame a key frame) and MPEG-4 with the XVID tag and a key frame every
// 12 frames (the interval the recorder's video writer uses), each with its data.idx.
//
// The trips are made quickly: a cycle of distinct camera-like pictures is encoded once and its
// packets are written over and over, with running timestamps, into the AVI muxer. Each cycle
// starts at a key frame, so the file is a valid stream with the recorder's key-frame spacing and
// every packet costs a real 1080p decode.
//
// Per trip: 200 random jumps (wall time of index lookup + seek + decode), median and worst;
// the baseline is the time per frame of decoding the same file sequentially.
// Last line: ratio=<XVID median jump / XVID sequential frame>.

#include "archive/trip_index.h"
#include "media/av_handles.h"
#include "media/video_file_reader.h"
#include "media/video_frame.h"
#include "recording/frame_index.h"
#include "tests/support/test_media.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>
#include <wx/init.h>

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

constexpr int trip_frames = 20000;
constexpr int cycle_frames = 240; // a multiple of the key-frame interval
constexpr int key_frame_interval = 12;
constexpr int jumps = 200;
constexpr int sequential_frames = 300;
constexpr int index_records_for_load = 100000;
const AVRational frame_time{1, 25};
// A decoded camera stream has lost most sensor noise already; heavy noise would only make the
// files many gigabytes larger.
constexpr double picture_noise = 2.0;

struct output_deleter {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr)
            avio_closep(&context->pb);
        avformat_free_context(context);
    }
};

void check(int code, const char* what) {
    if (code < 0)
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(code));
}

double milliseconds_since(clock_type::time_point start) {
    return std::chrono::duration<double, std::milli>(clock_type::now() - start).count();
}

TrackPosition position_of(int frame) {
    TrackPosition position(frame);
    position.abs = 100000.0 + frame * 2.0;
    position.km = static_cast<int32_t>(position.abs / 1000);
    position.m = position.abs - position.km * 1000.0;
    return position;
}

media::codec_context_handle open_encoder(bool mjpeg) {
    const AVCodec* codec = avcodec_find_encoder(mjpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_MPEG4);
    if (codec == nullptr)
        throw std::runtime_error("no encoder");
    media::codec_context_handle encoder(avcodec_alloc_context3(codec));
    encoder->width = 1920;
    encoder->height = 1080;
    encoder->time_base = frame_time;
    encoder->framerate = av_inv_q(frame_time);
    encoder->pix_fmt = mjpeg ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    encoder->gop_size = mjpeg ? 1 : key_frame_interval;
    encoder->max_b_frames = 0;
    if (mjpeg) {
        // A fixed quantiser 3, as the recorder's MJPEG files have.
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = FF_QP2LAMBDA * 3;
    } else {
        // The video library's default rate for MPEG-4: one bit per pixel and frame.
        encoder->bit_rate = 25LL * 1920 * 1080;
        encoder->codec_tag = MKTAG('X', 'V', 'I', 'D');
    }
    check(avcodec_open2(encoder.get(), codec, nullptr), "avcodec_open2");
    return encoder;
}

// The packets of one cycle of distinct pictures.
std::vector<media::packet_handle> encode_cycle(AVCodecContext& encoder, bool mjpeg) {
    std::vector<media::packet_handle> packets;
    const auto take = [&] {
        for (;;) {
            media::packet_handle packet = media::make_packet();
            if (avcodec_receive_packet(&encoder, packet.get()) < 0)
                return;
            packets.push_back(std::move(packet));
        }
    };
    for (int i = 0; i < cycle_frames; ++i) {
        const media::video_frame picture = media::video_frame::from_bgr(
            test_support::camera_like_picture(1920, 1080, i, picture_noise));
        media::frame_handle frame = picture.copy_in_range(mjpeg);
        frame->pts = i;
        frame->pict_type = i % key_frame_interval == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        check(avcodec_send_frame(&encoder, frame.get()), "avcodec_send_frame");
        take();
    }
    avcodec_send_frame(&encoder, nullptr);
    take();
    return packets;
}

// Writes the trip's video and data.idx into `folder`.
void make_trip(const fs::path& folder, bool mjpeg, const std::string& file) {
    fs::create_directories(folder);
    media::codec_context_handle encoder = open_encoder(mjpeg);
    const std::vector<media::packet_handle> cycle = encode_cycle(*encoder, mjpeg);
    if (cycle.size() != static_cast<size_t>(cycle_frames))
        throw std::runtime_error("the encoder held frames back");

    AVFormatContext* made = nullptr;
    const std::string path = (folder / file).string();
    check(avformat_alloc_output_context2(&made, nullptr, "avi", path.c_str()), "output");
    const std::unique_ptr<AVFormatContext, output_deleter> output(made);
    AVStream* const stream = avformat_new_stream(output.get(), nullptr);
    check(avcodec_parameters_from_context(stream->codecpar, encoder.get()), "parameters");
    stream->time_base = frame_time;
    check(avio_open(&output->pb, path.c_str(), AVIO_FLAG_WRITE), "avio_open");
    check(avformat_write_header(output.get(), nullptr), "header");

    FrameIndex index;
    index.set_path(wxString::FromUTF8((folder / "data.idx").string()));
    media::packet_handle packet = media::make_packet();
    for (int i = 0; i < trip_frames; ++i) {
        check(av_packet_ref(packet.get(), cycle[static_cast<size_t>(i % cycle_frames)].get()),
              "packet");
        packet->pts = packet->dts = av_rescale_q(i, frame_time, stream->time_base);
        packet->duration = av_rescale_q(1, frame_time, stream->time_base);
        packet->stream_index = stream->index;
        check(av_write_frame(output.get(), packet.get()), "write");
        av_packet_unref(packet.get());
        index.add(wxString::FromUTF8(file), static_cast<uint64_t>(i), position_of(i));
    }
    check(av_write_trailer(output.get()), "trailer");
    std::printf("%s: %d frames, %.0f MB\n", (mjpeg ? "MJPEG" : "XVID"), trip_frames,
                static_cast<double>(fs::file_size(path)) / 1e6);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct seek_result {
    double median_jump = 0;
    double worst_jump = 0;
    double sequential = 0;
};

seek_result measure(const fs::path& folder, const char* name) {
    const auto load_start = clock_type::now();
    const trip_index index = trip_index::read(folder / "data.idx");
    std::printf("%s: index of %zu records read in %.1f ms\n", name, index.records().size(),
                milliseconds_since(load_start));
    media::video_file_reader reader((folder / index.file_of(index.records().front())).string());

    std::mt19937 random(12345);
    std::uniform_real_distribution<double> place(100000.0, 100000.0 + trip_frames * 2.0);
    std::vector<double> times;
    cv::Mat shown;
    for (int j = 0; j < jumps; ++j) {
        const double wanted = place(random);
        const auto start = clock_type::now();
        const index_record& record = index.records()[*index.nearest_to_place(
            static_cast<int32_t>(wanted / 1000),
            wanted - static_cast<int32_t>(wanted / 1000) * 1000)];
        reader.read(record.frame_in_file).to_rgb_scaled(cv::Size(960, 540), shown);
        times.push_back(milliseconds_since(start));
    }

    media::video_file_reader sequential_reader(reader.path());
    sequential_reader.read(5000);
    const auto start = clock_type::now();
    for (int i = 1; i <= sequential_frames; ++i)
        sequential_reader.read(5000 + i).to_rgb_scaled(cv::Size(960, 540), shown);
    seek_result result;
    result.sequential = milliseconds_since(start) / sequential_frames;
    result.median_jump = median(times);
    result.worst_jump = *std::max_element(times.begin(), times.end());
    std::printf("%s: %d jumps, median %.1f ms, worst %.1f ms; sequential %.2f ms/frame\n", name,
                jumps, result.median_jump, result.worst_jump, result.sequential);
    return result;
}

// How long the browser takes to read a 100,000-frame index.
void measure_index_load(const fs::path& folder) {
    fs::create_directories(folder);
    {
        FrameIndex index;
        index.set_path(wxString::FromUTF8((folder / "data.idx").string()));
        for (int i = 0; i < index_records_for_load; ++i)
            index.add(wxString::FromUTF8("123456-1_0126_км.avi"), static_cast<uint64_t>(i),
                      position_of(i));
    }
    const auto start = clock_type::now();
    const trip_index index = trip_index::read(folder / "data.idx");
    const double read = milliseconds_since(start);
    const auto search_start = clock_type::now();
    const auto found = index.nearest_to_place(110, 500);
    std::printf("index of %zu records: read %.1f ms, one place search %.2f ms (record %zu)\n",
                index.records().size(), read, milliseconds_since(search_start), found.value_or(0));
}

} // namespace

int main() {
    const wxInitializer toolkit;
    const fs::path root = fs::temp_directory_path() / ("bench_seek_" + std::to_string(::getpid()));
    int status = 0;
    try {
        measure_index_load(root / "large_index");
        const auto made = clock_type::now();
        make_trip(root / "mjpeg", true, "trip.avi");
        make_trip(root / "xvid", false, "trip.avi");
        std::printf("two trips of %d frames made in %.1f s (key frame every %d frames in XVID)\n",
                    trip_frames, milliseconds_since(made) / 1000.0, key_frame_interval);
        measure(root / "mjpeg", "MJPEG");
        const seek_result xvid = measure(root / "xvid", "XVID");
        std::printf("XVID median jump %.1f ms / sequential frame %.2f ms ratio=%.2f\n",
                    xvid.median_jump, xvid.sequential, xvid.median_jump / xvid.sequential);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "bench_seek: %s\n", failure.what());
        status = 1;
    }
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return status;
}
