#pragma once
// The repair of trips a power cut (or a crash, or a kill) left behind: trips whose write mark is
// there and held by nobody. Each video file is finished so players can seek in it, holding every
// whole frame it had; data.idx then lists exactly the frames the files hold (a record past a
// file's frames goes, a frame written after the last save of the index gets a record with the
// last place and time known before it) and route.csv loses lines past the last frame; the mark
// goes and the catalogue reads the trip again. A repaired trip is a finished one: repairing again
// changes nothing.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace archive {

struct trip_repair_report {
    std::filesystem::path folder;
    // Frames the trip's index lists now (all of them decodable).
    std::size_t frames = 0;
    std::size_t files_finished = 0;  // video files rewritten finished
    std::size_t files_removed = 0;   // video files that held no whole frame
    std::size_t files_set_aside = 0; // video files that cannot be read: now <name>.damaged
    std::size_t files_left = 0;      // video files left as they were: no room, or a failed copy
    std::size_t records_dropped = 0; // index records that named a frame no file holds
    std::size_t records_added = 0;   // frames on the disk that the index did not list yet
    bool no_room = false;            // a copy did not fit on the disk
    bool index_saved = true;
    // Why the catalogue could not take the repaired trip (it catches up at its next sync).
    std::string catalogue_problem;

    // Whether the trip is whole now; a trip that is not keeps its mark for the next start.
    bool complete() const { return files_left == 0 && index_saved; }
    // One journal row (UTF-8) telling what was done.
    std::string row() const;
};

// Called between two files of a long repair; false stops it there (the trip stays cut).
using keep_going = std::function<bool()>;

// Repairs one trip folder if it is cut; nothing (an empty folder path in the report) when it is
// finished or being written.
trip_repair_report repair_trip(const std::filesystem::path& trip_folder,
                               const keep_going& go_on = {});

// Every cut trip directly under write_path, oldest first; a report for each one repaired.
// `on_report` hears of each as it is done.
std::vector<trip_repair_report>
repair_cut_trips(const std::filesystem::path& write_path, const keep_going& go_on = {},
                 const std::function<void(const trip_repair_report&)>& on_report = {});

} // namespace archive
