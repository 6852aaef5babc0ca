// bench_pipeline: CPU seconds per captured frame of the recorder (one camera screen, live view
// at 640x480, every frame recorded as MJPEG AVI) beside ffmpeg decoding the same test camera
// stream and encoding it to MJPEG AVI at quantiser 3, measured in the same run, for two pictures
// at 1920x1080: the test pattern (a ball on black) and a camera-like picture (noisy texture,
// about 6 Mbit/s). The two take three turns each and their median turns are compared. Then both
// record the same stream at the same time, and the picture quality of each file is measured as
// PSNR of luma against the camera's own stream, decoded, and bytes per frame of each file are
// printed. An ffmpeg run that gave up on a stream it joined at a bad moment is made again.
// Run under an X display: scripts/headless.sh build/<dir>/bench/pipeline/bench_pipeline
// The last line is "... ratio=<recorder/ffmpeg on the camera-like picture>".

#include "bench_toolkit.h"
#include "camera/camera_screen.h"
#include "ffmpeg_run.h"
#include "pipeline_fixtures.h"
#include "position/coord_client.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <opencv2/core.hpp>
#include <stdexcept>
#include <string>
#include <vector>
#include <wx/frame.h>
#include <wx/sizer.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using bench_support::ffmpeg_run;
using bench_support::own_cpu_seconds;

constexpr auto run_length = 12s;
constexpr auto quality_run_length = 4s;
constexpr int turns = 3;
constexpr int width = 1920;
constexpr int height = 1080;

struct measurement {
    double cpu = 0;
    long frames = 0;
    double per_frame() const { return frames > 0 ? cpu / frames : 0; }
};

long written_frames(const journal_capture& journal) {
    long total = 0;
    for (const auto& row : journal.rows_with(L"Записано "))
        total += std::stol(row.text.substr(9));
    return total;
}

// One camera screen recording every frame as MJPEG AVI into `folder` for `length`, its pane
// shown, or hidden (the live view then converts nothing).
measurement run_recorder(const std::string& url, const std::string& folder, bool burn_subtitles,
                         std::chrono::milliseconds length, bool shown = true) {
    fs::create_directories(folder);
    const auto settings = make_settings({{"front_camera_rtsp_address", url},
                                         {"write_interval", "0"},
                                         {"write_format", "AVI"},
                                         {"codec", "MJPEG"},
                                         {"hard_subs", burn_subtitles ? "1" : "0"},
                                         {"write_path", folder}});
    coord_client coord;
    journal_capture journal;
    auto* frame = new wxFrame(nullptr, wxID_ANY, "bench");
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    frame->SetSizer(sizer);
    frame->Show(shown);
    const double before = own_cpu_seconds();
    auto* screen = new camera_screen(frame, &coord, settings.get(), wxString::FromUTF8("Котел"));
    screen->SetMinSize(wxSize(640, 480));
    sizer->Add(screen);
    frame->Fit();
    bench_support::run_event_loop_for(length);
    frame->Destroy();
    bench_support::run_event_loop_for(500ms);
    return {own_cpu_seconds() - before, written_frames(journal)};
}

measurement run_ffmpeg(const std::string& url, const std::string& folder) {
    fs::create_directories(folder);
    const std::string output = folder + "/reference.avi";
    measurement result;
    bench_support::with_ffmpeg_retries([&] {
        ffmpeg_run run(bench_support::ffmpeg_mjpeg(url, run_length, output), folder + "/ffmpeg.log",
                       run_length);
        result = {run.finish(), count_video_frames(output)};
    });
    return result;
}

void report(const std::string& what, const measurement& m) {
    std::printf("%-44s cpu %7.2f s  frames %5ld  %.2f ms/frame\n", what.c_str(), m.cpu, m.frames,
                m.per_frame() * 1000);
    std::fflush(stdout);
}

// The luma planes of a video file as ffmpeg decodes it, in video range.
std::vector<cv::Mat> luma_planes(const std::string& file) {
    const std::string command = "ffmpeg -nostdin -loglevel error -i '" + file +
                                "' -vf scale=out_range=tv,format=yuv420p -f rawvideo - ";
    std::vector<cv::Mat> planes;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return planes;
    std::vector<unsigned char> frame(static_cast<size_t>(width) * height * 3 / 2);
    while (std::fread(frame.data(), 1, frame.size(), pipe) == frame.size())
        planes.push_back(cv::Mat(height, width, CV_8UC1, frame.data()).clone());
    pclose(pipe);
    return planes;
}

std::string first_video_file(const std::string& folder) {
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().extension() == ".avi")
            return entry.path().string();
    return {};
}

// The index of the source picture that `picture` was made from: the closest one.
size_t matching_source(const cv::Mat& picture, const std::vector<cv::Mat>& source, size_t from,
                       size_t to) {
    size_t best = from;
    double best_psnr = -1;
    for (size_t i = from; i < std::min(to, source.size()); ++i) {
        const double psnr = cv::PSNR(picture, source[i]);
        if (psnr > best_psnr) {
            best_psnr = psnr;
            best = i;
        }
    }
    return best;
}

// Mean luma PSNR of a recorded file against the source's pictures. The file started somewhere
// in the source: its first picture is matched against every source picture, the rest follow
// it, each allowed a picture or two of slip (a frame the recorder or the network dropped).
double mean_psnr(const std::string& file, const std::vector<cv::Mat>& source) {
    const std::vector<cv::Mat> recorded = luma_planes(file);
    if (recorded.size() < 10 || source.empty())
        return 0;
    size_t at = matching_source(recorded[5], source, 0, source.size());
    double total = 0;
    int counted = 0;
    for (size_t i = 6; i < recorded.size(); i += 3) {
        at = matching_source(recorded[i], source, at, at + 8);
        if (at + 1 >= source.size())
            break;
        total += cv::PSNR(recorded[i], source[at]);
        ++counted;
    }
    return counted > 0 ? total / counted : 0;
}

double bytes_per_frame(const std::string& file) {
    const long frames = count_video_frames(file);
    if (frames <= 0)
        throw std::runtime_error("no frames in " + file);
    return static_cast<double>(fs::file_size(file)) / frames;
}

// Records the same stream with ffmpeg and the recorder at the same time, while a third reader
// keeps the camera's own packets; each file is then compared with those packets decoded.
void record_side_by_side(const std::string& url, const std::string& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    auto copy_arguments = bench_support::ffmpeg_reading(url, quality_run_length + 4s);
    copy_arguments.insert(copy_arguments.end(), {"-c:v", "copy", "-y", folder + "/source.mkv"});
    ffmpeg_run copier(copy_arguments, folder + "/copier.log", quality_run_length + 4s);
    bench_support::run_event_loop_for(1s);
    ffmpeg_run encoder(bench_support::ffmpeg_mjpeg(url, quality_run_length, folder + "/ffmpeg.avi"),
                       folder + "/encoder.log", quality_run_length);
    run_recorder(url, folder + "/recorder", false, quality_run_length);
    encoder.finish();
    copier.finish();
}

void measure_quality(const std::string& url, const std::string& name, const std::string& folder) {
    bench_support::with_ffmpeg_retries([&] { record_side_by_side(url, folder); });
    const std::vector<cv::Mat> source_planes = luma_planes(folder + "/source.mkv");
    const std::string reference = folder + "/ffmpeg.avi";
    const std::string recorded = first_video_file(folder + "/recorder");
    if (recorded.empty())
        throw std::runtime_error("the recorder wrote no file for " + name);
    const double recorded_bytes = bytes_per_frame(recorded);
    const double reference_bytes = bytes_per_frame(reference);
    std::printf("%s: PSNR Y against the camera's stream: recorder %.2f dB, ffmpeg %.2f dB; "
                "bytes per frame: recorder %.0f, ffmpeg %.0f (recorder/ffmpeg %.3f)\n",
                name.c_str(), mean_psnr(recorded, source_planes),
                mean_psnr(reference, source_planes), recorded_bytes, reference_bytes,
                recorded_bytes / reference_bytes);
    std::fflush(stdout);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double bench_picture(const std::string& name, const std::vector<std::string>& pattern,
                     const std::string& folder) {
    std::vector<std::string> options{"--size", "1920x1080", "--fps", "25", "--codec", "h264"};
    options.insert(options.end(), pattern.begin(), pattern.end());
    test_camera camera(options);
    // The two take turns, so whatever else the machine does falls on both alike; the median
    // turn of each counts.
    std::vector<double> ffmpeg_costs;
    std::vector<double> recorder_costs;
    for (int turn = 1; turn <= turns; ++turn) {
        const std::string suffix = " " + std::to_string(turn) + ", " + name;
        const measurement reference = run_ffmpeg(camera.url(), folder + "/ffmpeg");
        report("ffmpeg decode + MJPEG encode" + suffix, reference);
        const measurement one =
            run_recorder(camera.url(), folder + "/one" + std::to_string(turn), true, run_length);
        report("recorder, one screen" + suffix, one);
        ffmpeg_costs.push_back(reference.per_frame());
        recorder_costs.push_back(one.per_frame());
    }
    report("recorder, no subtitle burned in, " + name,
           run_recorder(camera.url(), folder + "/plain", false, run_length));
    // What the live view costs: the same recording with the pane hidden, beside the median turn.
    const measurement hidden =
        run_recorder(camera.url(), folder + "/hidden", true, run_length, false);
    report("recorder, pane hidden, " + name, hidden);
    const double shown_cost = median(recorder_costs);
    const double view_cost = shown_cost - hidden.per_frame();
    std::printf("%s: live view at 640x480: %.2f ms per frame, %.1f %% of the recorder's cost\n",
                name.c_str(), view_cost * 1000,
                shown_cost > 0 ? 100.0 * view_cost / shown_cost : 0.0);
    const double reference = median(ffmpeg_costs);
    const double ratio = reference > 0 ? median(recorder_costs) / reference : 0;
    std::printf("%s: median turn per frame: recorder %.2f ms, ffmpeg %.2f ms; recorder/ffmpeg "
                "%.3f\n",
                name.c_str(), median(recorder_costs) * 1000, reference * 1000, ratio);
    measure_quality(camera.url(), name, folder + "/quality");
    return ratio;
}

} // namespace

int main(int argc, char** argv) {
    const std::string folder = (fs::temp_directory_path() / "kestrel-bench-pipeline").string();
    fs::remove_all(folder);
    double ratio = 0;
    const int status = bench_support::run_under_toolkit(argc, argv, [&] {
        try {
            const double ball = bench_picture("test pattern 1920x1080", {}, folder + "/ball");
            const double camera =
                bench_picture("camera-like 1920x1080", {"--pattern", "camera"}, folder + "/camera");
            std::printf("recorder/ffmpeg CPU per frame: test pattern %.3f, camera-like %.3f\n",
                        ball, camera);
            ratio = camera;
            return 0;
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "no measurement: %s\n", failure.what());
            return 1;
        }
    });
    fs::remove_all(folder);
    if (status != 0)
        return status;
    std::printf("recorder CPU per frame against ffmpeg -c:v mjpeg -q:v 3, camera-like 1920x1080 "
                "ratio=%.3f\n",
                ratio);
    return 0;
}
