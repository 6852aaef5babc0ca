// bench_soak: resident memory of the recorder while two camera screens record every frame of
// two 1920x1080 25 fps test cameras as MJPEG AVI. Prints the resident set every 30 s; memory
// that keeps growing with recorded frames ends a real trip within hours.
// Run under an X display: scripts/headless.sh build/<dir>/bench/soak/bench_soak [seconds]
// The last line is "... ratio=<resident memory at the end / at minute 1>" (5 minutes unless
// told otherwise).

#include "bench_toolkit.h"
#include "camera/camera_screen.h"
#include "pipeline_fixtures.h"
#include "position/coord_client.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <wx/frame.h>
#include <wx/sizer.h>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto report_every = 30s;
constexpr auto baseline_at = 60s;

// VmRSS of this process in kilobytes, as the kernel counts it.
long resident_kb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

double soak(std::chrono::seconds length, const std::string& folder) {
    test_camera front({"--size", "1920x1080", "--fps", "25", "--codec", "h264"});
    test_camera back({"--size", "1920x1080", "--fps", "25", "--codec", "h264"});
    fs::create_directories(folder);
    const auto settings = make_settings({{"front_camera_rtsp_address", front.url()},
                                         {"back_camera_rtsp_address", back.url()},
                                         {"write_interval", "0"},
                                         {"write_format", "AVI"},
                                         {"codec", "MJPEG"},
                                         {"write_path", folder}});
    coord_client coord;
    journal_capture journal;
    auto* frame = new wxFrame(nullptr, wxID_ANY, "soak");
    auto* sizer = new wxBoxSizer(wxHORIZONTAL);
    frame->SetSizer(sizer);
    frame->Show();
    for (const char* camera : {"Котел", "Дизель"}) {
        auto* screen = new camera_screen(frame, &coord, settings.get(), wxString::FromUTF8(camera));
        screen->SetMinSize(wxSize(640, 480));
        sizer->Add(screen);
    }
    frame->Fit();

    long at_baseline = 0;
    long last = 0;
    for (auto elapsed = 0s; elapsed < length;) {
        bench_support::run_event_loop_for(report_every);
        elapsed += report_every;
        last = resident_kb();
        if (elapsed == baseline_at)
            at_baseline = last;
        std::printf("%4lld s  VmRSS %8ld kB\n", static_cast<long long>(elapsed.count()), last);
        std::fflush(stdout);
    }
    frame->Destroy();
    bench_support::run_event_loop_for(1s);
    return at_baseline > 0 ? static_cast<double>(last) / at_baseline : 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::chrono::seconds length(argc > 1 ? std::atoi(argv[1]) : 300);
    const std::string folder = (fs::temp_directory_path() / "kestrel-bench-soak").string();
    fs::remove_all(folder);
    double ratio = 0;
    const int status = bench_support::run_under_toolkit(argc, argv, [&] {
        ratio = soak(length, folder);
        return 0;
    });
    fs::remove_all(folder);
    if (status != 0)
        return status;
    std::printf("two 1920x1080 cameras recording MJPEG AVI, resident memory at the end / at "
                "minute 1 ratio=%.3f\n",
                ratio);
    return 0;
}
