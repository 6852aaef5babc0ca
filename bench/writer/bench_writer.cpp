// Frames per second that each file writer records, beside a bare loop of the same encoder with
// the same settings, on camera-like pictures. Each run records a short trip from opening to
// closing, so encoders that hold frames back (H.264's look-ahead) pay for them inside the run.
// Time is the process's processor time (every encoder thread included), so other programs on the
// machine do not blur the comparison; frames per processor-second is what one core would
// sustain, and for an encoder that spreads over several cores it understates the wall-clock
// rate. Writer and bare loop take turns, and the median run of each counts.
// Last line: ratio=<worst writer/bare>.

#include "media/encoded_video_file.h"
#include "recording/codec_table.h"
#include "recording/image_encoding.h"
#include "recording/video_file_writer_avi.h"
#include "recording/video_file_writer_jpeg.h"
#include "recording/video_file_writer_png.h"
#include "tests/support/test_media.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>
#include <wx/init.h>

namespace {

namespace fs = std::filesystem;

double processor_seconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

constexpr int runs = 5;
constexpr double seconds_per_run = 0.35;
// The write step of the default settings: one frame every 10 m, so km/h = 36 x frames/s.
constexpr double kmh_per_frame_per_second = 36.0;
// Frames come from a decoded camera stream, which has already smoothed away much of the
// sensor noise: moderate noise here.
constexpr double bench_noise_sigma = 6.0;

TrackPosition position_of(int frame) {
    TrackPosition position(frame);
    position.has_fix = true;
    position.abs = frame * 10.0;
    position.km = frame / 100;
    position.m = (frame % 100) * 10.0;
    return position;
}

// Records a trip of `count` frames into `folder`, from opening to the last file closed.
using trip_function = std::function<void(const std::vector<media::video_frame>& frames, int count,
                                         const fs::path& folder)>;

struct measured {
    double writer_fps;
    double bare_fps;
    // The median over runs of writer against the bare run beside it: slow drifts of the
    // machine's speed fall on both runs of a pair and cancel.
    double ratio;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double seconds_of(const trip_function& trip, const std::vector<media::video_frame>& frames,
                  int count, const fs::path& folder) {
    fs::create_directories(folder);
    const double start = processor_seconds();
    trip(frames, count, folder);
    const double seconds = processor_seconds() - start;
    fs::remove_all(folder);
    return seconds;
}

measured measure(const std::vector<media::video_frame>& frames, const fs::path& scratch,
                 const trip_function& writer, const trip_function& bare) {
    // A first short bare trip sizes the runs, so that slow and fast encoders take alike long.
    const double per_frame = seconds_of(bare, frames, 4, scratch / "bare") / 4;
    const int count = std::clamp(static_cast<int>(seconds_per_run / per_frame), 8, 60);
    std::vector<double> writer_fps;
    std::vector<double> bare_fps;
    std::vector<double> ratios;
    for (int run = 0; run < runs; ++run) {
        // Alternate who goes first, so neither always meets a warm or a cold disk cache.
        if (run % 2 == 1)
            bare_fps.push_back(count / seconds_of(bare, frames, count, scratch / "bare"));
        writer_fps.push_back(count / seconds_of(writer, frames, count, scratch / "writer"));
        if (run % 2 == 0)
            bare_fps.push_back(count / seconds_of(bare, frames, count, scratch / "bare"));
        ratios.push_back(writer_fps.back() / bare_fps.back());
    }
    return {median(writer_fps), median(bare_fps), median(ratios)};
}

template <typename writer_type, typename... arguments>
trip_function writer_trip(arguments... args) {
    return [=](const std::vector<media::video_frame>& frames, int count, const fs::path& folder) {
        std::shared_ptr<video_file_writer_basic> writer = std::make_shared<writer_type>(args...);
        writer->open(wxString::FromUTF8(folder.string()));
        for (int i = 0; i < count; ++i)
            writer->write(frames[i % frames.size()], position_of(i));
        writer->close();
    };
}

trip_function bare_png_trip() {
    return [](const std::vector<media::video_frame>& frames, int count, const fs::path& folder) {
        cv::Mat bgr;
        std::vector<unsigned char> bytes;
        for (int i = 0; i < count; ++i) {
            encode_png(frames[i % frames.size()], bgr, bytes);
            write_whole_file(folder / (std::to_string(i) + ".png"),
                             image_bytes{bytes.data(), bytes.size()});
        }
    };
}

trip_function bare_jpeg_trip() {
    return [](const std::vector<media::video_frame>& frames, int count, const fs::path& folder) {
        media::jpeg_encoder encoder(still_jpeg_settings());
        for (int i = 0; i < count; ++i) {
            const media::jpeg_bytes bytes = encoder.encode(frames[i % frames.size()]);
            write_whole_file(folder / (std::to_string(i) + ".jpeg"),
                             image_bytes{bytes.data, bytes.size});
        }
    };
}

// The encoder and muxer alone, without names, splits or the index.
trip_function bare_video_trip(uint32_t fourcc) {
    return [=](const std::vector<media::video_frame>& frames, int count, const fs::path& folder) {
        media::encoded_video_file video((folder / "bare.avi").string(), fourcc,
                                        frames.front().width(), frames.front().height());
        for (int i = 0; i < count; ++i)
            video.write(frames[i % frames.size()]);
        video.finish();
    };
}

struct bench_case {
    std::string name;
    trip_function writer;
    trip_function bare;
};

std::vector<bench_case> cases() {
    const wxString camera = "Bench";
    const wxString image_template = "%frame_%dir-%way_%km-%m";
    std::vector<bench_case> all = {
        {"PNG", writer_trip<video_file_writer_png>(camera, image_template), bare_png_trip()},
        {"JPEG", writer_trip<video_file_writer_jpeg>(camera, image_template), bare_jpeg_trip()},
    };
    for (const char* codec : {"MJPEG", "XVID", "DIVX", "h264", "h265"}) {
        const uint32_t fourcc = codec_fourcc(codec);
        if (!codec_fits_avi(fourcc)) {
            std::printf("AVI %s: not recorded into AVI here, not measured\n", codec);
            continue;
        }
        all.push_back({std::string("AVI ") + codec,
                       writer_trip<video_file_writer_avi>(wxString(codec), camera,
                                                          wxString::FromUTF8("Вся поездка")),
                       bare_video_trip(fourcc)});
    }
    return all;
}

} // namespace

int main() {
    const wxInitializer toolkit;
    std::string pattern = (fs::temp_directory_path() / "kestrel-bench-XXXXXX").string();
    if (!toolkit.IsOk() || ::mkdtemp(pattern.data()) == nullptr)
        return 1;
    const fs::path scratch = pattern;
    // The image writers journal their trip folders on the wide standard output; the figures
    // need it to themselves.
    std::wstringbuf journal;
    std::wstreambuf* const previous_journal = std::wcout.rdbuf(&journal);

    double worst_ratio = 1e9;
    double slowest_kmh = 1e9;
    const std::vector<bench_case> all = cases();
    for (const cv::Size size : {cv::Size(1280, 720), cv::Size(1920, 1080)}) {
        // As the camera's decoder gives them: YUV in video range.
        std::vector<media::video_frame> frames;
        for (int seed = 0; seed < 8; ++seed)
            frames.push_back(media::video_frame::from_rgb(test_support::camera_like_picture(
                size.width, size.height, seed, bench_noise_sigma)));
        const bool full_hd = size.width == 1920;
        for (const auto& one : all) {
            const measured result = measure(frames, scratch, one.writer, one.bare);
            const double ratio = result.ratio;
            worst_ratio = std::min(worst_ratio, ratio);
            std::printf("%dx%d %-10s writer %6.1f frames/cpu-s  bare %6.1f  writer/bare %.2f",
                        size.width, size.height, one.name.c_str(), result.writer_fps,
                        result.bare_fps, ratio);
            if (full_hd) {
                const double kmh = kmh_per_frame_per_second * result.writer_fps;
                slowest_kmh = std::min(slowest_kmh, kmh);
                std::printf("  keeps up to %.0f km/h at a 10 m step", kmh);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    fs::remove_all(scratch);
    std::wcout.rdbuf(previous_journal);
    std::printf("slowest format at 1920x1080 keeps up to %.0f km/h (160 needed)\n", slowest_kmh);
    std::printf("worst writer against its bare encoder ratio=%.2f\n", worst_ratio);
    return 0;
}
