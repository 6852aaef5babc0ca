// bench_pipeline: CPU seconds per captured frame of the recorder (one camera screen, live view
// at 640x480, every frame recorded as MJPEG AVI) beside ffmpeg decoding the same test camera
// stream and encoding it to MJPEG AVI at quantiser 3, measured in the same run, for two pictures
// at 1920x1080: the test pattern (a ball on black) and a camera-like picture (noisy texture,
// about 6 Mbit/s). The two take three turns each and their median turns are compared. Then both
// record the same stream at the same time, and the picture quality of each file is measured as
// PSNR of luma against the camera's own stream, decoded.
// Run under an X display: scripts/headless.sh build/<dir>/bench/pipeline/bench_pipeline
// The last line is "... ratio=<the larger of the two recorder/ffmpeg ratios>".

#include "bench_toolkit.h"
#include "camera/camera_screen.h"
#include "pipeline_fixtures.h"
#include "position/coord_client.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <opencv2/core.hpp>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>
#include <wx/frame.h>
#include <wx/sizer.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto run_length = 12s;
constexpr auto quality_run_length = 4s;
constexpr int turns = 3;
constexpr int width = 1920;
constexpr int height = 1080;

double cpu_seconds(const rusage& usage) {
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double own_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return cpu_seconds(usage);
}

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

// One camera screen recording every frame as MJPEG AVI into `folder` for `length`.
measurement run_recorder(const std::string& url, const std::string& folder, bool burn_subtitles,
                         std::chrono::milliseconds length) {
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
    frame->Show();
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

pid_t spawn(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return -1;
    return pid;
}

struct ended_process {
    bool succeeded = false;
    double cpu = 0;
};

ended_process wait_for(pid_t pid) {
    if (pid < 0)
        return {};
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return {};
    return {WIFEXITED(status) && WEXITSTATUS(status) == 0, cpu_seconds(usage)};
}

std::vector<std::string> ffmpeg_reading(const std::string& url, std::chrono::seconds length) {
    return {"ffmpeg", "-nostdin", "-loglevel", "error", "-rtsp_transport",
            "tcp",    "-i",       url,         "-t",    std::to_string(length.count()),
            "-an"};
}

pid_t start_ffmpeg_mjpeg(const std::string& url, std::chrono::seconds length,
                         const std::string& output) {
    auto arguments = ffmpeg_reading(url, length);
    // Every picture of the stream encoded once, none repeated or dropped for a constant rate.
    arguments.insert(arguments.end(),
                     {"-fps_mode", "passthrough", "-c:v", "mjpeg", "-q:v", "3", "-y", output});
    return spawn(arguments);
}

// ffmpeg now and then gives up at once on a stream it joins in the middle ("Invalid pts"); such
// a run measures nothing and is made again.
measurement run_ffmpeg(const std::string& url, const std::string& folder) {
    fs::create_directories(folder);
    const std::string output = folder + "/reference.avi";
    constexpr int attempts = 3;
    for (int attempt = 1;; ++attempt) {
        const ended_process run = wait_for(start_ffmpeg_mjpeg(url, run_length, output));
        if (run.succeeded)
            return {run.cpu, count_video_frames(output)};
        if (attempt == attempts)
            throw std::runtime_error("ffmpeg failed " + std::to_string(attempts) + " times");
        std::printf("ffmpeg failed; once more\n");
    }
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

// Records the same stream with ffmpeg and the recorder at the same time, while a third reader
// keeps the camera's own packets; each file is then compared with those packets decoded.
void measure_quality(const std::string& url, const std::string& name, const std::string& folder) {
    fs::create_directories(folder);
    const std::string source = folder + "/source.mkv";
    const std::string reference = folder + "/ffmpeg.avi";
    auto copy_arguments = ffmpeg_reading(url, quality_run_length + 4s);
    copy_arguments.insert(copy_arguments.end(), {"-c:v", "copy", "-y", source});
    const pid_t copier = spawn(copy_arguments);
    bench_support::run_event_loop_for(1s);
    const pid_t encoder = start_ffmpeg_mjpeg(url, quality_run_length, reference);
    run_recorder(url, folder + "/recorder", false, quality_run_length);
    wait_for(encoder);
    wait_for(copier);
    const std::vector<cv::Mat> source_planes = luma_planes(source);
    const std::string recorded = first_video_file(folder + "/recorder");
    std::printf("%s: PSNR Y against the camera's stream: recorder %.2f dB, ffmpeg %.2f dB; "
                "file bytes per frame: recorder %.0f, ffmpeg %.0f\n",
                name.c_str(), mean_psnr(recorded, source_planes),
                mean_psnr(reference, source_planes),
                static_cast<double>(fs::file_size(recorded)) / count_video_frames(recorded),
                static_cast<double>(fs::file_size(reference)) / count_video_frames(reference));
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
            ratio = std::max(ball, camera);
            return 0;
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "no measurement: %s\n", failure.what());
            return 1;
        }
    });
    fs::remove_all(folder);
    if (status != 0)
        return status;
    std::printf("recorder CPU per frame against ffmpeg, 1920x1080, worse of both pictures "
                "ratio=%.3f\n",
                ratio);
    return 0;
}
