#include "trip_commands.h"

#include "archive/track_place.h"
#include "archive/trip_catalogue.h"
#include "archive/trip_export.h"
#include "archive/trip_index.h"
#include "trip_format/csv_line.h"
#include "trip_format/trip_files.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <ostream>

namespace fs = std::filesystem;

namespace {

std::string six_decimals(double value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6f", value);
    return text;
}

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

double place_value(const track_place& place) {
    return place.absolute ? place.abs : place.km * 1000.0 + place.m;
}

double record_value(const track_place& place, const index_record& record) {
    return place.absolute ? record.abs : record.km * 1000.0 + record.m;
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

} // namespace

trip_commands::trip_commands(fs::path root, double within, std::ostream& out, std::ostream& notes)
    : root(std::move(root)), within(within), out(out), notes(notes) {}

void trip_commands::list() {
    trip_catalogue catalogue(root);
    if (catalogue.in_memory())
        notes << catalogue.notice() << "\n";
    catalogue.sync();
    out << "folder,camera,start,end,frames,first,last\n";
    for (const trip_summary& trip : catalogue.trips()) {
        csv_line line;
        line.add(trip.folder.filename().string())
            .add(trip.camera)
            .add(local_time(trip.start_time))
            .add(local_time(trip.end_time))
            .add(std::to_string(trip.frames))
            .add(trip.frames > 0 ? km_m(trip.first_km, trip.first_m) : std::string())
            .add(trip.frames > 0 ? km_m(trip.last_km, trip.last_m) : std::string());
        out << line.text() << "\n";
    }
}

void trip_commands::place(const std::string& place_text) {
    const track_place wanted = parsed_place(place_text);
    trip_catalogue catalogue(root);
    if (catalogue.in_memory())
        notes << catalogue.notice() << "\n";
    catalogue.sync();
    const std::vector<pass_at_place> rows = catalogue.passes_at(wanted, within);
    if (rows.empty())
        throw trip_command_error("no trip passed within " + short_number(within) + " m of " +
                                 place_text);
    out << "folder,camera,file,frame_in_file,frame,abs,km,m,time,dir,way\n";
    for (const pass_at_place& row : rows) {
        csv_line line;
        line.add(row.trip.folder.filename().string())
            .add(row.trip.camera)
            .add(row.file)
            .add(std::to_string(row.frame_in_file))
            .add(std::to_string(row.frame))
            .add(six_decimals(row.abs))
            .add(std::to_string(row.km))
            .add(six_decimals(row.m))
            .add(row.time)
            .add(row.texts.dir)
            .add(row.texts.way);
        out << line.text() << "\n";
    }
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
    const double distance = std::fabs(record_value(place, found) - place_value(place));
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
