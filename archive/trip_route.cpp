#include "archive/trip_route.h"

#include "trip_format/csv_line.h"
#include "trip_format/field_text.h"
#include "trip_format/trip_files.h"

#include <algorithm>
#include <fstream>

trip_route trip_route::read(const std::filesystem::path& trip_folder) {
    trip_route route;
    std::ifstream file(trip_folder / trip_files::route, std::ios::binary);
    if (!file) {
        route.file_missing = true;
        return route;
    }
    std::string line;
    while (std::getline(file, line)) {
        const std::vector<std::string> fields = csv_line::split(line);
        route_line parsed;
        if (fields.size() != 8 || !parse_field(fields[0], parsed.frame) ||
            !parse_field(fields[1], parsed.abs) || !parse_field(fields[2], parsed.km) ||
            !parse_field(fields[3], parsed.m))
            continue;
        parsed.texts = {fields[4], fields[5], fields[6], fields[7]};
        route.changes.push_back(std::move(parsed));
    }
    return route;
}

route_texts trip_route::at_frame(int32_t frame) const {
    // Lines come in the order written, so their frame numbers never fall.
    const auto after = std::upper_bound(
        changes.begin(), changes.end(), frame,
        [](int32_t wanted, const route_line& line) { return wanted < line.frame; });
    return after == changes.begin() ? route_texts() : std::prev(after)->texts;
}
