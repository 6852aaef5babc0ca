#include "recording/route_log.h"

#include "platform/durable_file.h"
#include "platform/text.h"
#include "trip_format/csv_line.h"
#include "trip_format/field_text.h"

#include <wx/string.h>

namespace {

std::string utf8_of_server_text(const std::string& bytes) {
    return platform::decode_server_text(bytes).utf8_string();
}

// Missing counts as empty: either way the header comes first.
bool file_is_empty(const std::filesystem::path& path) {
    std::error_code missing;
    const auto size = std::filesystem::file_size(path, missing);
    return missing || size == 0;
}

} // namespace

void route_log::set_path(const std::filesystem::path& route_file) {
    path = route_file;
}

void route_log::note(const TrackPosition& position) {
    if (!position.has_fix)
        return;
    route_texts texts{utf8_of_server_text(position.dir), utf8_of_server_text(position.way),
                      utf8_of_server_text(position.pch), utf8_of_server_text(position.peregon)};
    if (last && *last == texts)
        return;
    csv_line line;
    line.add(std::to_string(position.frame))
        .add(six_decimals(position.abs))
        .add(std::to_string(position.km))
        .add(six_decimals(position.m))
        .add(texts.dir)
        .add(texts.way)
        .add(texts.pch)
        .add(texts.peregon);
    waiting += line.text() + "\n";
    last = std::move(texts);
}

bool route_log::flush() {
    if (waiting.empty())
        return true;
    if (path.empty())
        return false;
    const bool fresh = !header_written && file_is_empty(path);
    const std::string bytes = (fresh ? std::string(header) + "\n" : std::string()) + waiting;
    if (!platform::append_durably(path, bytes))
        return false;
    header_written = true;
    waiting.clear();
    return true;
}
