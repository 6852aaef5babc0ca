// Cost of one save of the frame index as the trip grows. Records come in batches of 750 (half
// a minute of one camera at 25 frames a second, the save interval), each batch followed by a
// save, as the writer does. The wall time of one save, disk included, after 10,000 records and
// after 500,000 records (about five and a half hours of one camera recording every frame), the
// two trips taking turns. Also the process's resident memory, which must not grow with the
// records saved.

#include "recording/frame_index.h"
#include "tests/support/scratch_folder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>
#include <wx/init.h>

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

constexpr int batch = 750;
constexpr int samples = 15;

long resident_kib() {
    std::ifstream status("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    status >> pages >> resident;
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// A record like the video writer's: a file per kilometre, coordinates, the time.
void add_records(FrameIndex& index, int& frame, int count) {
    for (int i = 0; i < count; ++i, ++frame) {
        TrackPosition position(frame);
        position.has_fix = true;
        position.abs = 100000.0 + frame * 1.5;
        position.km = static_cast<int32_t>(position.abs / 1000);
        position.m = position.abs - position.km * 1000.0;
        const wxString file =
            wxString::Format(wxString::FromUTF8("123456-1_%04d_км.avi"), position.km);
        index.add(file, static_cast<uint64_t>(frame % 666), position);
    }
}

// One trip's index, grown to a number of records by batches, each followed by a save.
struct trip {
    trip(const std::string& path, int records) {
        index.set_path(wxString::FromUTF8(path));
        index.set_save_interval(std::chrono::hours(1));
        while (frame < records) {
            add_records(index, frame, std::min(batch, records - frame));
            if (!index.save())
                std::exit(3);
        }
    }

    // Wall time of the save of one more batch.
    double timed_save() {
        add_records(index, frame, batch);
        const auto start = clock_type::now();
        if (!index.save())
            std::exit(3);
        return std::chrono::duration<double>(clock_type::now() - start).count();
    }

    FrameIndex index;
    int frame = 0;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main() {
    const wxInitializer toolkit;
    if (!toolkit.IsOk())
        return 2;
    const test_support::scratch_folder folder("kestrel-bench-index");
    const long memory_before = resident_kib();
    trip short_trip(folder.path() + "/short.idx", 10000);
    trip long_trip(folder.path() + "/long.idx", 500000);
    const long memory_after = resident_kib();

    // The two trips take turns, so that the disk's and the machine's changing load falls on
    // both sides of each pair; the ratio is the median of the pairs' ratios.
    std::vector<double> short_saves;
    std::vector<double> long_saves;
    std::vector<double> ratios;
    for (int i = 0; i < samples; ++i) {
        short_saves.push_back(short_trip.timed_save());
        long_saves.push_back(long_trip.timed_save());
        ratios.push_back(long_saves.back() / short_saves.back());
    }
    std::printf("one save of %d records after %d records: %.2f ms (median of %d)\n", batch, 10000,
                median(short_saves) * 1e3, samples);
    std::printf("one save of %d records after %d records: %.2f ms, data.idx %.1f MB\n", batch,
                500000, median(long_saves) * 1e3,
                static_cast<double>(fs::file_size(folder.path() + "/long.idx")) / 1e6);
    std::printf("resident memory %ld KiB before the trips, %ld KiB with both trips saved\n",
                memory_before, memory_after);
    std::printf("save after 500,000 records against after 10,000: ratio=%.3f\n", median(ratios));
    return 0;
}
