#pragma once
// "route.csv" of a trip read back: the route texts in force at every frame of the trip.

#include "trip_format/route_texts.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct route_line {
    int32_t frame = 0;
    double abs = 0.0;
    int32_t km = 0;
    double m = 0.0;
    route_texts texts;
};

class trip_route {
public:
    // Never throws: a missing file gives no lines (missing()), lines that do not parse are
    // skipped (a line cut off by a crash costs only itself).
    static trip_route read(const std::filesystem::path& trip_folder);

    const std::vector<route_line>& lines() const { return changes; }
    bool missing() const { return file_missing; }

    // The texts of the last line at or before this frame number; empty texts before the first.
    route_texts at_frame(int32_t frame) const;

private:
    std::vector<route_line> changes;
    bool file_missing = false;
};
