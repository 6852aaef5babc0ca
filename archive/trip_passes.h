#pragma once
// A trip cut into passes: runs of frames in one sense of travel on one track (the same
// direction code and track number), each with its range of coordinates and frames. Frames
// without a fix (coordinate, kilometre and metres all zero) belong to no pass.

#include "trip_format/route_texts.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class trip_index;
class trip_route;

struct trip_pass {
    int number = 0; // 0-based, in the order of the trip
    // +1 while the coordinate grows, -1 while it falls, 0 for a car that never moved.
    int sense = 0;
    // Direction code and track of the pass; empty where the trip has no route.csv.
    std::string dir;
    std::string way;
    // Positions in the trip's index (0-based, inclusive) and their frame numbers.
    size_t first_record = 0;
    size_t last_record = 0;
    int32_t first_frame = 0;
    int32_t last_frame = 0;
    // Ranges covered: absolute coordinate, and kilometre * 1000 + metres.
    double abs_low = 0.0;
    double abs_high = 0.0;
    double place_low = 0.0;
    double place_high = 0.0;
};

class trip_passes {
public:
    static std::vector<trip_pass> of(const trip_index& index, const trip_route& route);
};
