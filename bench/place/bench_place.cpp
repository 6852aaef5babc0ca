// Finding a place over a whole archive: 1,000 trips of 20,000 records each (both directions,
// two tracks, both cameras). Eight trips are written by the recorder's own frame index with
// route texts; the others are copies of them in folders of their own times and cameras. The
// catalogue is built once (its time and size are printed); then every pass of every trip at a
// place is found from the catalogue, against reading one trip's 20,000-record data.idx, the
// least a search without a catalogue costs per trip. Also the time of `kestrel-trips place`
// over the archive, nearest frames included.

#include "archive/trip_catalogue.h"
#include "archive/trip_index.h"
#include "recording/frame_index.h"
#include "tests/support/child_process.h"
#include "tests/support/scratch_folder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>
#include <wx/init.h>

namespace {

namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

constexpr int trips = 1000;
constexpr int records = 20000;
constexpr double spacing = 5.0; // metres between records: 100 km a trip
constexpr double line_start = 100000.0;
// Up and down the line, on track 1 and 2, on two sets of metres.
constexpr int kinds = 8;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

template <typename Work> double median_seconds(int turns, Work work) {
    std::vector<double> times;
    for (int i = 0; i < turns; ++i) {
        const auto start = clock_type::now();
        work(i);
        times.push_back(seconds_since(start));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// One trip of the recorder: up or down the line on track 1 or 2, with a little jitter so that
// trips do not stand on the very same metres.
void write_trip(const fs::path& folder, int number) {
    fs::create_directories(folder);
    FrameIndex index;
    index.set_path(wxString::FromUTF8((folder / "data.idx").string()));
    const bool up = number % 2 == 0;
    const std::string way = number % 4 < 2 ? "1" : "2";
    const double offset = (number % 8) < 4 ? 0.0 : 2.5;
    const int64_t started = 1700000000 + static_cast<int64_t>(number) * 7200;
    for (int i = 0; i < records; ++i) {
        TrackPosition p(i);
        p.has_fix = true;
        p.abs = line_start + offset + spacing * (up ? i : records - 1 - i);
        p.km = static_cast<int32_t>(p.abs / 1000.0);
        p.m = p.abs - p.km * 1000.0;
        p.time = started + i / 5;
        p.dir = "240100";
        p.way = way;
        p.pch = "12";
        p.peregon = std::to_string(static_cast<int>(p.abs / 8000.0));
        index.add(wxString::Format("%d.avi", p.km), static_cast<uint64_t>(i % 200), p);
    }
}

std::string trip_name(int number) {
    const auto moment = static_cast<std::time_t>(1700000000 + static_cast<int64_t>(number) * 7200);
    std::tm fields{};
    localtime_r(&moment, &fields);
    char name[32];
    std::strftime(name, sizeof name, "%Y.%m.%d %H.%M.%S", &fields);
    return std::string(name) + (number % 3 == 0 ? "[Дизель]" : "[Котел]");
}

} // namespace

int main() {
    const wxInitializer toolkit;
    test_support::scratch_folder archive("kestrel-bench-place");
    const fs::path root = archive.path();

    const auto written = clock_type::now();
    for (int number = 0; number < trips; ++number) {
        const fs::path folder = root / trip_name(number);
        if (number < kinds) {
            write_trip(folder, number);
            continue;
        }
        fs::create_directories(folder);
        for (const char* file : {"data.idx", "route.csv"})
            fs::copy_file(root / trip_name(number % kinds) / file, folder / file);
    }
    std::printf("archive: %d trips of %d records written in %.1f s\n", trips, records,
                seconds_since(written));

    const auto built = clock_type::now();
    size_t added = 0;
    {
        trip_catalogue catalogue(root);
        added = catalogue.sync();
    }
    const double build_seconds = seconds_since(built);
    std::printf("catalogue build: %.1f s for %zu trips (%.1f ms a trip)\n", build_seconds, added,
                build_seconds * 1000.0 / static_cast<double>(added));
    std::error_code ignored;
    const double size_mb =
        static_cast<double>(fs::file_size(root / trip_catalogue::file_name, ignored)) / 1e6;
    std::printf("catalogue size: %.2f MB per 1000 trips\n", size_mb * 1000.0 / trips);

    trip_catalogue catalogue(root);
    size_t passes_found = 0;
    const auto place_at = [](int turn) {
        track_place place;
        place.km = 110 + turn * 7;
        place.m = 333.0 + turn;
        return place;
    };
    const double find_seconds = median_seconds(15, [&](int turn) {
        passes_found = catalogue.passes_at(place_at(turn), 25.0, false).size();
    });
    const double nearest_seconds = median_seconds(5, [&](int turn) {
        passes_found = catalogue.passes_at(place_at(turn), 25.0, true).size();
    });
    size_t records_read = 0;
    const double index_seconds = median_seconds(15, [&](int turn) {
        records_read = trip_index::read(root / trip_name(turn * 37) / "data.idx").records().size();
    });
    std::printf("every pass at a place from the catalogue: %.2f ms (%zu passes)\n",
                find_seconds * 1000.0, passes_found);
    std::printf("with each pass's nearest frame: %.1f ms\n", nearest_seconds * 1000.0);
    std::printf("one data.idx of %zu records read: %.2f ms\n", records_read,
                index_seconds * 1000.0);

    const std::string command =
        test_support::shell_quoted(test_support::tool_path("trips/kestrel-trips")) + " --root " +
        test_support::shell_quoted(root.string()) + " place 126+740 | wc -l";
    std::string rows;
    const double tool_seconds =
        median_seconds(3, [&](int) { rows = test_support::run_command(command); });
    std::printf("kestrel-trips place over the archive: %.2f s (%d rows with the header)\n",
                tool_seconds, std::atoi(rows.c_str()));
    std::printf("ratio=%.4f\n", find_seconds / index_seconds);
    return 0;
}
