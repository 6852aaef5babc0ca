// Offload of about 2 GB of trips (eight trips of one 250 MB video file and a small index)
// against the same work done by standard tools in the same run: cp -r, sync, sha256sum of
// the source, and sha256sum of the copy read past the page cache with dd iflag=direct. The
// page cache is emptied before each turn (as root) so both read the car's disk. The last line
// is the offload's time over the tools' time.

#include "tests/support/child_process.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/test_media.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int trips = 8;
constexpr size_t video_bytes = 250u << 20;

std::string shell_arg(const std::string& text) {
    return test_support::shell_quoted(text);
}

void forget_cached_pages() {
    std::system("sync; echo 3 > /proc/sys/vm/drop_caches 2>/dev/null");
}

double seconds_of(const std::string& command) {
    forget_cached_pages();
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (status != 0)
        std::fprintf(stderr, "failed (%d): %s\n", status, command.c_str());
    return seconds;
}

} // namespace

int main() {
    test_support::scratch_folder scratch("kestrel-bench-offload");
    const fs::path source = scratch.file("recordings");
    const fs::path ours = scratch.file("office-offload");
    const fs::path tools = scratch.file("office-tools");
    const fs::path home = scratch.file("home");
    fs::create_directories(home / "Meridian5" / "config");
    std::ofstream(home / "Meridian5" / "config" / ".kestrel") << "car_name=bench\n";
    for (const fs::path& folder : {source, ours, tools})
        fs::create_directories(folder);
    uint64_t total = 0;
    for (int i = 0; i < trips; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "2026.05.01 12.%02d.00[Котел]", i);
        const fs::path trip = source / name;
        fs::create_directories(trip);
        test_support::write_noise(trip / "126_км.avi", video_bytes, static_cast<unsigned>(i + 1));
        std::ofstream(trip / "data.idx") << "<?xml version=\"1.0\"?>\n<section/>\n";
        total += video_bytes;
    }
    std::printf("trips: %d, %.1f MB\n", trips, static_cast<double>(total) / 1e6);

    const double offload = seconds_of("HOME=" + shell_arg(home.string()) + " " +
                                      shell_arg(test_support::tool_path("trips/kestrel-trips")) +
                                      " --root " + shell_arg(source.string()) + " offload " +
                                      shell_arg(ours.string()) + " >/dev/null");
    const std::string files = shell_arg(source.string()) + "/*/*";
    const double standard = seconds_of(
        "cp -r " + shell_arg(source.string()) + "/. " + shell_arg(tools.string()) +
        " && sync && sha256sum " + files + " >/dev/null && for f in " + shell_arg(tools.string()) +
        "/*/*; do dd if=\"$f\" iflag=direct bs=1M "
        "status=none | sha256sum >/dev/null; done");
    std::printf("kestrel-trips offload: %.2f s, %.1f MB/s\n", offload,
                static_cast<double>(total) / 1e6 / offload);
    std::printf("cp -r + sync + sha256sum + dd iflag=direct | sha256sum: %.2f s, %.1f MB/s\n",
                standard, static_cast<double>(total) / 1e6 / standard);
    std::printf("ratio=%.4f\n", offload / standard);
    return 0;
}
