#pragma once
// The writing side of "route.csv" in a trip folder: one line at the trip's first frame with a
// fix and one whenever any of the four route texts of a fixed frame changes; frames without a
// fix add nothing. The frame index keeps one, so every write format gets it.

#include "position/track_position.h"
#include "trip_format/route_texts.h"

#include <filesystem>
#include <optional>
#include <string>

class route_log {
public:
    static constexpr const char* header = "frame,abs,km,m,dir,way,pch,peregon";

    // Where route.csv goes; nothing is written before it is set.
    void set_path(const std::filesystem::path& route_file);

    // Notes the position of a written frame. The line it makes waits for the next flush: the
    // index flushes when it saves, so route.csv never runs ahead of the frames on the disk, and a
    // full disk loses no change of texts.
    void note(const TrackPosition& position);
    // Writes the lines still waiting and forces them to the disk; false when they could not be
    // written.
    bool flush();

    bool pending() const { return !waiting.empty(); }

private:
    std::filesystem::path path;
    std::optional<route_texts> last;
    // Lines due, with the header first when the file is new.
    std::string waiting;
    bool header_written = false;
};
