#pragma once
// Everything the trip pane shows of one trip, read in one go on a worker thread and then only
// read on the GUI thread: its index, marks and playback pace. No windows.

#include "app/playback_timeline.h"
#include "position/track_position.h"
#include "recording/trip_index.h"
#include "recording/trip_marks.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

struct loaded_trip {
    std::filesystem::path folder;
    std::string camera;  // UTF-8, from the folder's name
    std::string started; // "2024.05.01 12:30:05"
    trip_index index;
    std::vector<trip_mark> marks;
    playback_timeline timeline;

    // Reads the folder's data.idx and marks.csv; never throws for a bad or missing file (the
    // index tells its problem).
    static std::shared_ptr<const loaded_trip> read(const std::filesystem::path& trip_folder);

    // The position of a record as its subtitle shows it.
    TrackPosition position_at(size_t record) const;

    // Seconds since the epoch of a time as data.idx writes it; -1 when it is no such time.
    static int64_t seconds_of(const std::string& time_text);
};
