#pragma once
// Everything the trip pane shows of one trip, read in one go on a worker thread and then only
// read on the GUI thread: its index, route texts, passes, marks and playback pace. No windows.

#include "archive/trip_index.h"
#include "archive/trip_passes.h"
#include "archive/trip_route.h"
#include "position/track_position.h"
#include "review/playback_timeline.h"
#include "trip_format/trip_marks.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct loaded_trip {
    std::filesystem::path folder;
    std::string camera;  // UTF-8, from the folder's name
    std::string started; // "2024.05.01 12:30:05"
    trip_index index;
    trip_route route;
    std::vector<trip_pass> passes;
    std::vector<trip_mark> marks;
    // Per record, seconds since the epoch (-1 unknown), and the playback pace they give.
    std::vector<int64_t> seconds;
    playback_timeline timeline;

    // Reads the folder's data.idx, route.csv and marks.csv; never throws for a bad or missing
    // file (the index tells its problem).
    static std::shared_ptr<const loaded_trip> read(const std::filesystem::path& trip_folder);

    // The position of a record as its subtitle shows it, with the route texts in force there.
    TrackPosition position_at(size_t record) const;
    // The record nearest to the coordinate among records first..last (inclusive).
    std::optional<size_t> nearest_between(double abs, size_t first, size_t last) const;
    // The record nearest to the coordinate within the pass under way at that moment: where
    // a trip passes a place twice, the one the other camera of the run saw then.
    std::optional<size_t> nearest_at_moment(double abs, int64_t moment) const;
};
