// bench_pipeline: CPU seconds per captured frame of the recorder (one and two camera screens,
// live view at 640x480, every frame recorded as MJPEG AVI) beside ffmpeg decoding the same
// test camera stream and encoding it to MJPEG AVI, measured in the same run.
// Run under an X display: scripts/headless.sh build/<dir>/bench/pipeline/bench_pipeline
// The last line is "... ratio=<recorder one screen / ffmpeg>" at 1920x1080.

#include "camera/camera_screen.h"
#include "pipeline_fixtures.h"
#include "position/coord_client.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/sizer.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto run_length = 12s;

double cpu_seconds(const rusage& usage) {
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double own_cpu_seconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return cpu_seconds(usage);
}

void pump_for(std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    wxEventLoopBase* const loop = wxEventLoopBase::GetActive();
    while (std::chrono::steady_clock::now() < deadline) {
        while (loop->Pending())
            loop->Dispatch();
        wxTheApp->ProcessPendingEvents();
        loop->ProcessIdle();
        loop->DispatchTimeout(5);
    }
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

measurement run_recorder(const std::string& url, int screens, const std::string& folder) {
    fs::create_directories(folder);
    const auto settings = make_settings({{"front_camera_rtsp_address", url},
                                         {"write_interval", "0"},
                                         {"write_format", "AVI"},
                                         {"codec", "MJPEG"},
                                         {"write_path", folder}});
    coord_client coord;
    journal_capture journal;
    auto* frame = new wxFrame(nullptr, wxID_ANY, "bench");
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    frame->SetSizer(sizer);
    frame->Show();
    const double before = own_cpu_seconds();
    for (int i = 0; i < screens; ++i) {
        auto* screen =
            new camera_screen(frame, &coord, settings.get(), wxString::FromUTF8("Котел"));
        screen->SetMinSize(wxSize(640, 480));
        sizer->Add(screen);
    }
    frame->Fit();
    pump_for(run_length);
    frame->Destroy();
    pump_for(500ms);
    return {own_cpu_seconds() - before, written_frames(journal)};
}

measurement run_ffmpeg(const std::string& url, const std::string& folder) {
    fs::create_directories(folder);
    const std::string output = folder + "/reference.avi";
    const std::string seconds = std::to_string(run_length.count());
    std::vector<std::string> arguments{"ffmpeg", "-nostdin", "-loglevel", "error", "-i",
                                       url,      "-t",       seconds,     "-an",   "-c:v",
                                       "mjpeg",  "-q:v",     "3",         "-y",    output};
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0)
        return {};
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    return {cpu_seconds(usage), count_video_frames(output)};
}

void report(const char* what, const measurement& m) {
    std::printf("%-40s cpu %7.2f s  frames %5ld  %.2f ms/frame\n", what, m.cpu, m.frames,
                m.per_frame() * 1000);
    std::fflush(stdout);
}

class bench_app : public wxApp {
public:
    bool OnInit() override { return true; }
};

double bench_size(const std::string& size, const std::string& folder) {
    test_camera camera({"--size", size, "--fps", "25", "--codec", "h264"});
    const measurement reference = run_ffmpeg(camera.url(), folder + "/ffmpeg");
    const measurement one = run_recorder(camera.url(), 1, folder + "/one");
    const measurement two = run_recorder(camera.url(), 2, folder + "/two");
    report(("ffmpeg decode + MJPEG encode " + size).c_str(), reference);
    report(("recorder, one screen " + size).c_str(), one);
    report(("recorder, two screens " + size).c_str(), two);
    const double ratio = reference.per_frame() > 0 ? one.per_frame() / reference.per_frame() : 0;
    std::printf("%s: recorder/ffmpeg per frame %.2f (two screens %.2f)\n", size.c_str(), ratio,
                reference.per_frame() > 0 ? two.per_frame() / reference.per_frame() : 0);
    return ratio;
}

} // namespace

int main(int argc, char** argv) {
    wxApp::SetInstance(new bench_app);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "cannot initialise wxWidgets (is there a display?)\n");
        return 2;
    }
    delete wxLog::SetActiveTarget(new wxLogStderr);
    const std::string folder = (fs::temp_directory_path() / "kestrel-bench-pipeline").string();
    fs::remove_all(folder);
    double ratio = 0;
    {
        auto loop = std::make_unique<wxGUIEventLoop>();
        wxEventLoopActivator activate(loop.get());
        bench_size("1280x720", folder + "/720");
        ratio = bench_size("1920x1080", folder + "/1080");
    }
    fs::remove_all(folder);
    wxTheApp->OnExit();
    wxEntryCleanup();
    std::printf("recorder CPU per frame against ffmpeg, one screen, 1920x1080 ratio=%.3f\n", ratio);
    return 0;
}
