#include "trip_commands.h"

#include "archive/offload_log.h"
#include "archive/track_place.h"
#include "archive/trip_catalogue.h"
#include "archive/trip_contents.h"
#include "archive/trip_export.h"
#include "archive/trip_index.h"
#include "trip_format/csv_line.h"
#include "trip_format/field_text.h"
#include "trip_format/trip_files.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <ostream>

namespace fs = std::filesystem;

namespace {

std::string short_number(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// "126+740.25": metres without trailing zeros.
std::string km_m(int32_t km, double m) {
    char text[64];
    std::snprintf(text, sizeof text, "%.2f", m);
    std::string metres = text;
    metres.erase(metres.find_last_not_of('0') + 1);
    if (metres.back() == '.')
        metres.pop_back();
    return std::to_string(km) + "+" + metres;
}

std::string local_time(int64_t seconds) {
    const auto moment = static_cast<std::time_t>(seconds);
    std::tm fields{};
    localtime_r(&moment, &fields);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
    return text;
}

track_place parsed_place(const std::string& text) {
    const std::optional<track_place> place = track_place::parse(text);
    if (!place)
        throw trip_command_error("cannot read the place \"" + text +
                                 "\" (write 126+740, 126 740 or an absolute coordinate)");
    return *place;
}

double record_value(const track_place& place, const index_record& record) {
    return place.absolute ? record.abs : record.place();
}

trip_index readable_index(const fs::path& folder) {
    trip_index index = trip_index::read(folder / trip_files::index);
    if (index.missing())
        throw trip_command_error("trip " + folder.string() + " has no data.idx");
    if (!index.problem().empty())
        throw trip_command_error("data.idx of trip " + folder.string() +
                                 " is broken: " + index.problem());
    if (index.empty())
        throw trip_command_error("trip " + folder.string() + " has no frames");
    return index;
}

// A CSV line of the output and the start of the trip it tells of.
struct dated_row {
    int64_t start;
    std::string text;
};

// Newest trip first across the cars; a car's own order (newest first) stays for equal starts.
void write_newest_first(std::ostream& out, std::vector<dated_row> rows, const std::string& header) {
    std::stable_sort(rows.begin(), rows.end(),
                     [](const dated_row& a, const dated_row& b) { return a.start > b.start; });
    out << header << "\n";
    for (const dated_row& row : rows)
        out << row.text << "\n";
}

} // namespace

trip_commands::trip_commands(fs::path root, double within, std::ostream& out, std::ostream& notes)
    : root(std::move(root)), within(within), out(out), notes(notes) {}

namespace {

// One car's trips under the root: the root itself on a car, each car's folder in an office
// archive (DEST/<car>/<trip>).
struct archive_part {
    std::string car; // empty on a car
    fs::path folder;
};

std::vector<archive_part> parts_of(const fs::path& root) {
    if (!trip_folders_under(root).empty())
        return {{"", root}};
    std::vector<archive_part> cars;
    std::error_code error;
    for (fs::directory_iterator entry(root, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name[0] != '.' && entry->is_directory(error) &&
            !trip_folders_under(entry->path()).empty())
            cars.push_back({name, entry->path()});
    }
    std::sort(cars.begin(), cars.end(),
              [](const archive_part& a, const archive_part& b) { return a.car < b.car; });
    if (cars.empty())
        return {{"", root}};
    return cars;
}

bool office_archive(const std::vector<archive_part>& parts) {
    return !parts.front().car.empty();
}

} // namespace

std::unique_ptr<trip_catalogue> trip_commands::synced_catalogue(const fs::path& folder) const {
    auto catalogue = std::make_unique<trip_catalogue>(folder);
    if (catalogue->in_memory())
        notes << catalogue->notice() << "\n";
    catalogue->sync();
    return catalogue;
}

void trip_commands::list() {
    const std::vector<archive_part> parts = parts_of(root);
    const bool cars = office_archive(parts);
    std::vector<dated_row> rows;
    for (const archive_part& part : parts) {
        const std::unique_ptr<trip_catalogue> catalogue = synced_catalogue(part.folder);
        const std::map<std::string, offload_entry> offloaded = offload_log(part.folder).entries();
        for (const trip_summary& trip : catalogue->trips()) {
            const auto copy = offloaded.find(trip.folder.filename().string());
            const bool has_copy = copy != offloaded.end();
            csv_line line;
            if (cars)
                line.add(part.car);
            line.add(trip.folder.filename().string())
                .add(trip.camera)
                .add(local_time(trip.start_time))
                .add(local_time(trip.end_time))
                .add(std::to_string(trip.frames))
                .add(trip.frames > 0 ? km_m(trip.first_km, trip.first_m) : std::string())
                .add(trip.frames > 0 ? km_m(trip.last_km, trip.last_m) : std::string())
                .add(has_copy ? copy->second.destination : std::string())
                .add(has_copy ? local_time(copy->second.verified_at) : std::string());
            rows.push_back({trip.start_time, line.text()});
        }
    }
    write_newest_first(out, std::move(rows),
                       std::string(cars ? "car," : "") +
                           "folder,camera,start,end,frames,first,last,offloaded,verified");
}

void trip_commands::place(const std::string& place_text) {
    const track_place wanted = parsed_place(place_text);
    const std::vector<archive_part> parts = parts_of(root);
    const bool cars = office_archive(parts);
    std::vector<dated_row> rows;
    for (const archive_part& part : parts) {
        const std::unique_ptr<trip_catalogue> catalogue = synced_catalogue(part.folder);
        for (const pass_at_place& pass : catalogue->passes_at(wanted, within)) {
            csv_line line;
            if (cars)
                line.add(part.car);
            line.add(pass.trip.folder.filename().string())
                .add(pass.trip.camera)
                .add(pass.file)
                .add(std::to_string(pass.frame_in_file))
                .add(std::to_string(pass.frame))
                .add(six_decimals(pass.abs))
                .add(std::to_string(pass.km))
                .add(six_decimals(pass.m))
                .add(pass.time)
                .add(pass.texts.dir)
                .add(pass.texts.way);
            rows.push_back({pass.trip.start_time, line.text()});
        }
    }
    if (rows.empty())
        throw trip_command_error("no trip passed within " + short_number(within) + " m of " +
                                 place_text);
    write_newest_first(out, std::move(rows),
                       std::string(cars ? "car," : "") +
                           "folder,camera,file,frame_in_file,frame,abs,km,m,time,dir,way");
}

void trip_commands::frame(const std::string& trip, const std::string& place_text,
                          const fs::path& output) {
    const track_place wanted = parsed_place(place_text);
    const fs::path folder = trip_folder(trip);
    const trip_index index = readable_index(folder);
    const size_t record = *(wanted.absolute ? index.nearest_to_abs(wanted.abs)
                                            : index.nearest_to_place(wanted.km, wanted.m));
    nearest_within(index, record, wanted, place_text, folder);
    try {
        trip_export::frame_png(folder, index, record, output);
    } catch (const std::exception& error) {
        throw trip_command_error(error.what());
    }
}

void trip_commands::clip(const std::string& trip, const std::string& from_text,
                         const std::string& to_text, const fs::path& output) {
    const track_place from = parsed_place(from_text);
    const track_place to = parsed_place(to_text);
    const fs::path folder = trip_folder(trip);
    const trip_index index = readable_index(folder);
    const auto nearest = [&](const track_place& place) {
        return *(place.absolute ? index.nearest_to_abs(place.abs)
                                : index.nearest_to_place(place.km, place.m));
    };
    const size_t first = nearest(from);
    const size_t last = nearest(to);
    nearest_within(index, first, from, from_text, folder);
    nearest_within(index, last, to, to_text, folder);
    clip_taken taken;
    try {
        taken = trip_export::clip(folder, index, first, last, output);
    } catch (const std::exception& error) {
        throw trip_command_error(error.what());
    }
    out << "records " << taken.first_record << "-" << taken.last_record << ", frames "
        << taken.first_frame << "-" << taken.last_frame << ", " << taken.frames
        << " frames written to " << output.string() << "\n";
}

void trip_commands::nearest_within(const trip_index& index, size_t record, const track_place& place,
                                   const std::string& place_text, const fs::path& folder) const {
    const index_record& found = index.records()[record];
    const double distance = std::fabs(record_value(place, found) - place.along());
    if (distance > within)
        throw trip_command_error("trip " + folder.filename().string() + " has no frame within " +
                                 short_number(within) + " m of " + place_text +
                                 " (nearest: " + km_m(found.km, found.m) + ")");
}

fs::path trip_commands::trip_folder(const std::string& trip) const {
    std::error_code error;
    const fs::path given(trip);
    if (fs::is_directory(given, error) && given.has_parent_path())
        return given;
    if (fs::is_directory(root / given, error))
        return root / given;
    throw trip_command_error("no trip folder " + trip + " under " + root.string());
}
