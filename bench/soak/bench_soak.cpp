// bench_soak: the field run. Two camera screens with their live views record every frame of two
// 1920x1080 25 fps cameras as MJPEG AVI with the subtitle burned in, one file per kilometre of a
// car running at 60 km/h, for 10 minutes. The cameras cost next to nothing: the test camera's
// camera-like picture is recorded once as H.264 and two test cameras serve that recording again
// in a loop, so the machine's cores are left to the recorder.
//
// Prints resident memory regularly, the cores the recorder used (its processor seconds over the
// wall-clock seconds), frames received, written, indexed and decoded per camera, and then the
// same two streams decoded and encoded by `ffmpeg -c:v mjpeg -q:v 3` (a shorter turn each) with
// the recorder's processor time per frame against ffmpeg's.
// Run under an X display: scripts/headless.sh build/<dir>/bench/soak/bench_soak [--seconds N]
// The last line is "... ratio=<resident memory at the end / at the second report>"; the report
// comes every minute (every tenth of the run for runs shorter than 10 minutes), so in the full
// run the baseline is minute 2, once queues and picture pools have reached their working size.

#include "bench_toolkit.h"
#include "camera/camera_screen.h"
#include "ffmpeg_run.h"
#include "pipeline_fixtures.h"
#include "position/coord_client.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>
#include <wx/frame.h>
#include <wx/sizer.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using bench_support::ffmpeg_run;
using clock_type = std::chrono::steady_clock;

constexpr auto recorded_length = 30s;
constexpr auto ffmpeg_turn_length = 30s;
const char* const camera_names[] = {"Котел", "Дизель"};

// VmRSS of this process in kilobytes, as the kernel counts it.
long resident_kb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

double seconds_between(clock_type::time_point from, clock_type::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// The camera-like picture of a live test camera as an H.264 elementary stream, the way a car's
// camera sends it; made once, then replayed.
void record_camera_like_stream(const std::string& file, const std::string& folder) {
    test_camera live({"--size", "1920x1080", "--fps", "25", "--pattern", "camera"});
    bench_support::with_ffmpeg_retries([&] {
        auto arguments = bench_support::ffmpeg_reading(live.url(), recorded_length);
        arguments.insert(arguments.end(),
                         {"-c:v", "copy", "-bsf:v", "h264_mp4toannexb", "-f", "h264", "-y", file});
        ffmpeg_run(arguments, folder + "/record.log", recorded_length).finish();
    });
    std::printf("camera-like 1920x1080 H.264 recorded for replay: %ld frames, %.0f kbit/s\n",
                count_video_frames(file),
                static_cast<double>(fs::file_size(file)) * 8 / 1000 / recorded_length.count());
    std::fflush(stdout);
}

struct camera_totals {
    long received = 0;
    long written = 0;
    long indexed = 0;
    long decoded = 0;
    std::size_t files = 0;
    // The writer's syncs while recording, and the most the writer's queue held.
    double seconds_syncing = 0;
    uint64_t syncs = 0;
    std::size_t queue_peak_bytes = 0;
};

long number_after(const std::wstring& text, const std::wstring& prefix) {
    return std::stol(text.substr(text.find(prefix) + prefix.size()));
}

// Closes the screen and reads its rows of frames received and written.
void close_screen(camera_screen* screen, const journal_capture& journal, camera_totals& totals) {
    const std::size_t before = journal.rows_with(L"Записано ").size();
    screen->Destroy();
    for (int waited = 0; journal.rows_with(L"Записано ").size() == before && waited < 120; ++waited)
        bench_support::run_event_loop_for(500ms);
    const auto received = journal.rows_with(L"Принято ");
    const auto written = journal.rows_with(L"Записано ");
    if (written.size() == before || received.size() != written.size())
        throw std::runtime_error("a closed screen did not report its frames");
    totals.received = number_after(received.back().text, L"Принято ");
    totals.written = number_after(written.back().text, L"Записано ");
}

// What is on disk for one camera: index records, and frames as ffprobe decodes them.
void count_recorded(const std::string& folder, const std::string& camera, camera_totals& totals) {
    for (const auto& trip : folders_in(folder)) {
        if (trip.find("[" + camera + "]") == std::string::npos)
            continue;
        totals.indexed += static_cast<long>(read_index(trip + "/data.idx").size());
        for (const auto& file : test_support::files_with_extension(trip, ".avi")) {
            totals.decoded += std::max(0L, count_video_frames(file));
            ++totals.files;
        }
    }
}

struct field_run {
    // While both screens recorded, and up to the end of closing them (their writers finish
    // what is queued).
    double recording_cpu = 0;
    double recording_wall = 0;
    double cpu = 0;
    double wall = 0;
    long baseline_kb = 0;
    long end_kb = 0;
    camera_totals cameras[2];
};

field_run record_both(const std::vector<std::string>& urls, std::chrono::seconds length,
                      const std::string& folder) {
    coordinate_simulator simulator({"--speed", "60"});
    coord_client coord;
    if (!coord.connect("127.0.0.1", simulator.port()))
        throw std::runtime_error("no coordinate simulator");
    const auto settings = make_settings({{"front_camera_rtsp_address", urls[0]},
                                         {"back_camera_rtsp_address", urls[1]},
                                         {"write_interval", "0"},
                                         {"write_format", "AVI"},
                                         {"codec", "MJPEG"},
                                         {"hard_subs", "1"},
                                         {"video_write_policy", "1 километр"},
                                         {"write_path", folder}});
    journal_capture journal;
    auto* frame = new wxFrame(nullptr, wxID_ANY, "field run");
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    frame->SetSizer(sizer);
    frame->Show();

    field_run run;
    const double cpu_before = bench_support::own_cpu_seconds();
    const auto started = clock_type::now();
    std::vector<camera_screen*> screens;
    for (const char* camera : camera_names) {
        auto* screen = new camera_screen(frame, &coord, settings.get(), wxString::FromUTF8(camera));
        screen->SetMinSize(wxSize(640, 480));
        sizer->Add(screen);
        screens.push_back(screen);
    }
    frame->Fit();

    const auto report_every = std::min<std::chrono::seconds>(60s, length / 10);
    int reports = 0;
    for (auto elapsed = 0s; elapsed + report_every <= length; elapsed += report_every) {
        bench_support::run_event_loop_for(report_every);
        run.end_kb = resident_kb();
        if (++reports == 2)
            run.baseline_kb = run.end_kb;
        std::printf("%5lld s  VmRSS %8ld kB  frames received %6d %6d\n",
                    static_cast<long long>((elapsed + report_every).count()), run.end_kb,
                    screens[0]->received_count(), screens[1]->received_count());
        std::fflush(stdout);
    }
    run.recording_wall = seconds_between(started, clock_type::now());
    run.recording_cpu = bench_support::own_cpu_seconds() - cpu_before;
    for (std::size_t camera = 0; camera < screens.size(); ++camera) {
        run.cameras[camera].seconds_syncing =
            std::chrono::duration<double>(screens[camera]->time_syncing()).count();
        run.cameras[camera].syncs = screens[camera]->sync_count();
        run.cameras[camera].queue_peak_bytes = screens[camera]->queue_peak_bytes();
    }
    // Closing writes what is still queued: that is the recorder's work too.
    for (std::size_t camera = 0; camera < screens.size(); ++camera)
        close_screen(screens[camera], journal, run.cameras[camera]);
    run.wall = seconds_between(started, clock_type::now());
    run.cpu = bench_support::own_cpu_seconds() - cpu_before;
    frame->Destroy();
    bench_support::run_event_loop_for(500ms);
    for (const auto& row : journal.rows())
        if (row.error)
            std::printf("journal error row: %s\n", wxString(row.text).utf8_string().c_str());
    return run;
}

// ffmpeg decoding the replayed stream and encoding every picture as MJPEG at quantiser 3:
// processor seconds per frame. Each turn has a camera of its own: a replaying camera whose
// client left at a bad moment may send nothing more to the next one.
double ffmpeg_cost_per_frame(const std::string& stream, const std::string& folder) {
    const std::string output = folder + "/ffmpeg.avi";
    double cost = 0;
    bench_support::with_ffmpeg_retries([&] {
        test_camera camera({"--replay", stream});
        ffmpeg_run run(bench_support::ffmpeg_mjpeg(camera.url(), ffmpeg_turn_length, output),
                       folder + "/ffmpeg.log", ffmpeg_turn_length);
        const double cpu = run.finish();
        const long frames = count_video_frames(output);
        if (frames <= 0)
            throw std::runtime_error("ffmpeg wrote no frames");
        cost = cpu / frames;
    });
    fs::remove(output);
    return cost;
}

double field_run_ratio(std::chrono::seconds length, const std::string& folder) {
    const std::string stream = folder + "/camera-like.h264";
    record_camera_like_stream(stream, folder);
    const std::string recordings = folder + "/recordings";
    fs::create_directories(recordings);
    const field_run run = [&] {
        test_camera front({"--replay", stream});
        test_camera back({"--replay", stream});
        return record_both({front.url(), back.url()}, length, recordings);
    }();

    long written = 0;
    for (int camera = 0; camera < 2; ++camera) {
        camera_totals totals = run.cameras[camera];
        count_recorded(recordings, camera_names[camera], totals);
        written += totals.written;
        std::printf("%s: frames received %ld, written %ld, indexed %ld, decoded %ld, in %zu "
                    "files\n",
                    camera_names[camera], totals.received, totals.written, totals.indexed,
                    totals.decoded, totals.files);
        std::printf("%s: %llu syncs (%.2f a second), %.1f ms syncing per second of recording, "
                    "writer queue peak %.1f MB, frames dropped %ld\n",
                    camera_names[camera], static_cast<unsigned long long>(totals.syncs),
                    totals.syncs / run.recording_wall,
                    totals.seconds_syncing * 1000 / run.recording_wall,
                    totals.queue_peak_bytes / 1e6, totals.received - totals.written);
        std::fflush(stdout);
    }
    const double recorder_per_frame = written > 0 ? run.cpu / written : 0;
    std::uintmax_t recorded_bytes = 0;
    for (const auto& entry : fs::recursive_directory_iterator(recordings))
        if (entry.is_regular_file())
            recorded_bytes += entry.file_size();
    std::printf("recorded %.0f MB an hour (both cameras)\n",
                recorded_bytes / 1e6 / run.wall * 3600);
    std::printf("recorder while recording: %.1f s of processor time in %.1f s: %.2f cores\n",
                run.recording_cpu, run.recording_wall, run.recording_cpu / run.recording_wall);
    std::printf("recorder up to its files closed: %.1f s of processor time in %.1f s: %.2f cores; "
                "%.2f ms per written frame\n",
                run.cpu, run.wall, run.cpu / run.wall, recorder_per_frame * 1000);
    std::fflush(stdout);

    std::vector<double> ffmpeg_costs;
    for (int camera = 0; camera < 2; ++camera) {
        ffmpeg_costs.push_back(ffmpeg_cost_per_frame(stream, folder));
        std::printf("ffmpeg -c:v mjpeg -q:v 3, %s's stream for %lld s: %.2f ms per frame\n",
                    camera_names[camera], static_cast<long long>(ffmpeg_turn_length.count()),
                    ffmpeg_costs.back() * 1000);
        std::fflush(stdout);
    }
    const double ffmpeg_per_frame = (ffmpeg_costs[0] + ffmpeg_costs[1]) / 2;
    std::printf("processor time per frame, recorder (burn-in, live views, index) / ffmpeg: %.3f\n",
                ffmpeg_per_frame > 0 ? recorder_per_frame / ffmpeg_per_frame : 0.0);
    std::printf("resident memory: %ld kB at the second report, %ld kB at the end\n",
                run.baseline_kb, run.end_kb);
    return run.baseline_kb > 0 ? static_cast<double>(run.end_kb) / run.baseline_kb : 0;
}

bool parse_length(int argc, char** argv, std::chrono::seconds& length) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") != 0 || i + 1 >= argc)
            return false;
        length = std::chrono::seconds(std::atoi(argv[++i]));
    }
    return length >= 20s;
}

} // namespace

int main(int argc, char** argv) {
    std::chrono::seconds length = 600s;
    if (!parse_length(argc, argv, length)) {
        std::fprintf(stderr, "usage: bench_soak [--seconds N]   (N at least 20, default 600)\n");
        return 2;
    }
    const std::string folder = (fs::temp_directory_path() / "kestrel-bench-soak").string();
    fs::remove_all(folder);
    fs::create_directories(folder);
    double ratio = 0;
    const int status = bench_support::run_under_toolkit(argc, argv, [&] {
        try {
            ratio = field_run_ratio(length, folder);
            return 0;
        } catch (const std::exception& failure) {
            std::fprintf(stderr, "no measurement: %s\n", failure.what());
            return 1;
        }
    });
    fs::remove_all(folder);
    if (status != 0)
        return status;
    std::printf("two 1920x1080 cameras recording MJPEG AVI, resident memory at the end / at the "
                "second report ratio=%.3f\n",
                ratio);
    return 0;
}
