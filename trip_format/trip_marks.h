#pragma once
// The operator's marks of a trip, "marks.csv" in the trip folder: one line per mark, appended
// while the trip records, never touching the frame index.

#include "position/track_position.h"

#include <filesystem>
#include <string>
#include <vector>

struct trip_mark {
    int32_t frame = 0;
    double abs = 0.0;
    int32_t km = 0;
    double m = 0.0;
    std::string time; // as the frame index writes it
    std::string text; // UTF-8: the camera's subtitle at that moment
};

class trip_marks {
public:
    // Appends one mark to the folder's marks.csv, writing the header first when the file is
    // new. False when the line could not be written whole.
    static bool append(const std::filesystem::path& trip_folder, const TrackPosition& position,
                       const std::string& text);
    // The marks of the folder in the order made; lines that do not parse are skipped, so a line
    // cut off by a crash costs only itself.
    static std::vector<trip_mark> read(const std::filesystem::path& trip_folder);
};
