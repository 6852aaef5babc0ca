#include "trip_format/trip_marks.h"

#include "trip_format/csv_line.h"
#include "trip_format/field_text.h"
#include "trip_format/trip_files.h"

#include <cstdio>
#include <fstream>
#include <memory>

namespace {

const char header[] = "frame,abs,km,m,time,text";

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

} // namespace

bool trip_marks::append(const std::filesystem::path& trip_folder, const TrackPosition& position,
                        const std::string& text) {
    const std::filesystem::path path = trip_folder / trip_files::marks;
    std::error_code ignored;
    const bool fresh = !std::filesystem::exists(path, ignored);
    csv_line line;
    line.add(std::to_string(position.frame))
        .add(six_decimals(position.abs))
        .add(std::to_string(position.km))
        .add(six_decimals(position.m))
        .add(record_time_text(position.time))
        .add(text);
    const std::string bytes =
        (fresh ? std::string(header) + "\n" : std::string()) + line.text() + "\n";
    // Appending never creates the trip folder: a mark for a folder that is gone is an error.
    if (!std::filesystem::is_directory(trip_folder, ignored))
        return false;
    std::unique_ptr<std::FILE, file_closer> file(std::fopen(path.c_str(), "ab"));
    if (!file)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    return std::fclose(file.release()) == 0 && written;
}

std::vector<trip_mark> trip_marks::read(const std::filesystem::path& trip_folder) {
    std::vector<trip_mark> marks;
    std::ifstream file(trip_folder / trip_files::marks, std::ios::binary);
    std::string line;
    while (std::getline(file, line)) {
        const std::vector<std::string> fields = csv_line::split(line);
        trip_mark mark;
        if (fields.size() != 6 || !parse_field(fields[0], mark.frame) ||
            !parse_field(fields[1], mark.abs) || !parse_field(fields[2], mark.km) ||
            !parse_field(fields[3], mark.m))
            continue;
        mark.time = fields[4];
        mark.text = fields[5];
        marks.push_back(std::move(mark));
    }
    return marks;
}
