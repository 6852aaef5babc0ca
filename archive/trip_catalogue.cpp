#include "archive/trip_catalogue.h"

#include "archive/sqlite_connection.h"
#include "archive/sqlite_statement.h"
#include "archive/sqlite_transaction.h"
#include "archive/trip_index.h"
#include "archive/trip_route.h"
#include "platform/database_place.h"
#include "trip_format/field_text.h"
#include "trip_format/trip_files.h"
#include "trip_format/trip_marks.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <map>
#include <sqlite3.h>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace {

// Raised when the tables change, so that an older catalogue is made anew from the folders.
constexpr long long layout_version = 1;
// Every this many records of a trip the catalogue keeps the record's place and byte offset.
constexpr size_t waypoint_step = 128;

const char schema[] = R"(
CREATE TABLE trips(
    id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, camera TEXT NOT NULL,
    started TEXT NOT NULL, start_time INTEGER NOT NULL, end_time INTEGER NOT NULL,
    frames INTEGER NOT NULL, files INTEGER NOT NULL, marks INTEGER NOT NULL,
    first_km INTEGER NOT NULL, first_m REAL NOT NULL, last_km INTEGER NOT NULL,
    last_m REAL NOT NULL, first_abs REAL NOT NULL, last_abs REAL NOT NULL,
    problem TEXT NOT NULL, index_missing INTEGER NOT NULL,
    stamp TEXT NOT NULL);
CREATE TABLE passes(
    trip INTEGER NOT NULL REFERENCES trips(id) ON DELETE CASCADE, number INTEGER NOT NULL,
    sense INTEGER NOT NULL, dir TEXT NOT NULL, way TEXT NOT NULL,
    first_record INTEGER NOT NULL, last_record INTEGER NOT NULL,
    first_frame INTEGER NOT NULL, last_frame INTEGER NOT NULL,
    abs_low REAL NOT NULL, abs_high REAL NOT NULL, place_low REAL NOT NULL,
    place_high REAL NOT NULL,
    PRIMARY KEY(trip, number)) WITHOUT ROWID;
CREATE INDEX passes_by_abs ON passes(abs_low, abs_high);
CREATE INDEX passes_by_place ON passes(place_low, place_high);
CREATE TABLE waypoints(
    trip INTEGER NOT NULL REFERENCES trips(id) ON DELETE CASCADE, record INTEGER NOT NULL,
    abs REAL NOT NULL, place REAL NOT NULL, offset INTEGER NOT NULL,
    PRIMARY KEY(trip, record)) WITHOUT ROWID;
)";

const char trip_columns[] =
    "t.id, t.name, t.camera, t.started, t.start_time, t.end_time, t.frames, t.files, t.marks, "
    "t.first_km, t.first_m, t.last_km, t.last_m, t.first_abs, t.last_abs, t.problem, "
    "t.index_missing";

const char pass_columns[] = "p.number, p.sense, p.dir, p.way, p.first_record, p.last_record, "
                            "p.first_frame, p.last_frame, p.abs_low, p.abs_high, p.place_low, "
                            "p.place_high";

trip_summary trip_of(const sqlite_statement& row, const fs::path& root) {
    trip_summary trip;
    trip.folder = root / row.text(1);
    trip.camera = row.text(2);
    trip.started = row.text(3);
    trip.start_time = row.integer(4);
    trip.end_time = row.integer(5);
    trip.frames = static_cast<size_t>(row.integer(6));
    trip.files = static_cast<size_t>(row.integer(7));
    trip.marks = static_cast<size_t>(row.integer(8));
    trip.first_km = static_cast<int32_t>(row.integer(9));
    trip.first_m = row.real(10);
    trip.last_km = static_cast<int32_t>(row.integer(11));
    trip.last_m = row.real(12);
    trip.first_abs = row.real(13);
    trip.last_abs = row.real(14);
    trip.problem = row.text(15);
    trip.index_missing = row.integer(16) != 0;
    return trip;
}

trip_pass pass_of(const sqlite_statement& row, int first) {
    trip_pass pass;
    pass.number = static_cast<int>(row.integer(first));
    pass.sense = static_cast<int>(row.integer(first + 1));
    pass.dir = row.text(first + 2);
    pass.way = row.text(first + 3);
    pass.first_record = static_cast<size_t>(row.integer(first + 4));
    pass.last_record = static_cast<size_t>(row.integer(first + 5));
    pass.first_frame = static_cast<int32_t>(row.integer(first + 6));
    pass.last_frame = static_cast<int32_t>(row.integer(first + 7));
    pass.abs_low = row.real(first + 8);
    pass.abs_high = row.real(first + 9);
    pass.place_low = row.real(first + 10);
    pass.place_high = row.real(first + 11);
    return pass;
}

int64_t local_seconds(std::tm fields) {
    fields.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&fields));
}

// "2024.05.01 12:30:05" of a folder's name, as seconds since 1970.
int64_t started_seconds(const std::string& started) {
    std::tm fields{};
    if (strptime(started.c_str(), "%Y.%m.%d %H:%M:%S", &fields) == nullptr)
        return 0;
    return local_seconds(fields);
}

// Size and modification time of the files a trip's entry is made from: a change of any of
// them makes the entry stale.
std::string stamp_of(const fs::path& folder) {
    std::string stamp;
    // An offloaded copy in an office archive also changes when its manifest does.
    for (const char* name :
         {trip_files::index, trip_files::route, trip_files::marks, "manifest.sha256"}) {
        std::error_code error;
        const auto size = fs::file_size(folder / name, error);
        const auto changed = fs::last_write_time(folder / name, error);
        stamp +=
            error ? std::string("-")
                  : std::to_string(size) + "@" + std::to_string(changed.time_since_epoch().count());
        stamp += ';';
    }
    return stamp;
}

// The folder names of trips directly under root, with their camera and start.
struct folder_name_parts {
    std::string camera;
    std::string started;
};
std::map<std::string, folder_name_parts> trip_folders(const fs::path& root) {
    std::map<std::string, folder_name_parts> folders;
    std::error_code error;
    for (fs::directory_iterator entry(root, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code type_error;
        folder_name_parts parsed;
        if (entry->is_directory(type_error) &&
            parse_trip_folder_name(entry->path().filename().string(), parsed.camera,
                                   parsed.started))
            folders.emplace(entry->path().filename().string(), parsed);
    }
    return folders;
}

// The folder's own name, also when the path ends with a separator.
std::string trip_name(const fs::path& folder) {
    const fs::path clean = folder.lexically_normal();
    return (clean.has_filename() ? clean.filename() : clean.parent_path().filename()).string();
}

struct waypoint {
    size_t record = 0;
    double abs = 0.0;
    double place = 0.0;
    uint64_t offset = 0;
};

} // namespace

trip_catalogue::trip_catalogue(const fs::path& write_path)
    // The recorder makes trip folders in the current folder when write_path is empty.
    : write_path(write_path.empty() ? fs::path(".") : write_path) {
    open_file();
}

trip_catalogue::~trip_catalogue() = default;

void trip_catalogue::open_file() {
    const fs::path file = platform::database_place(write_path, file_name);
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            // One connection per thread: SQLite need not lock it for us.
            db = std::make_unique<sqlite_connection>(
                file.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
            check_whole();
            use_write_ahead_log();
            db->execute("PRAGMA synchronous=NORMAL");
            db->execute("PRAGMA foreign_keys=ON");
            make_tables();
            return;
        } catch (const sqlite_error& error) {
            db.reset();
            const bool broken = error.code == SQLITE_CORRUPT || error.code == SQLITE_NOTADB;
            if (!broken || attempt > 0) {
                open_memory(error.what());
                return;
            }
            // A cache that does not open is made again from the folders.
            std::error_code ignored;
            for (const char* suffix : {"", "-wal", "-shm"})
                fs::remove(file.string() + suffix, ignored);
        }
    }
}

// Switching a new file to WAL needs it alone for a moment, and SQLite answers "locked" at once
// instead of waiting: two first openers (the recorder's keeper and a browser) take turns here.
void trip_catalogue::use_write_ahead_log() {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        try {
            db->execute("PRAGMA journal_mode=WAL");
            return;
        } catch (const sqlite_error& error) {
            if (error.code != SQLITE_BUSY || std::chrono::steady_clock::now() > give_up)
                throw;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void trip_catalogue::check_whole() {
    sqlite_statement check = db->prepare("PRAGMA quick_check");
    if (check.step() && check.text(0) != "ok")
        throw sqlite_error("damaged: " + check.text(0), SQLITE_CORRUPT);
}

void trip_catalogue::open_memory(const std::string& why) {
    db = std::make_unique<sqlite_connection>(
        ":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
    db->execute("PRAGMA foreign_keys=ON");
    make_tables();
    memory_only = true;
    memory_notice = "trip catalogue kept in memory: " +
                    platform::database_place(write_path, file_name).string() +
                    " cannot be written (" + why + ")";
}

void trip_catalogue::make_tables() {
    sqlite_transaction transaction(*db);
    if (db->single_integer("PRAGMA user_version") == layout_version)
        return;
    db->execute("DROP TABLE IF EXISTS waypoints; DROP TABLE IF EXISTS passes; "
                "DROP TABLE IF EXISTS trips;");
    db->execute(schema);
    db->execute("PRAGMA user_version=" + std::to_string(layout_version));
    transaction.commit();
}

size_t trip_catalogue::sync(const keep_going& go_on) {
    const std::map<std::string, folder_name_parts> folders = trip_folders(write_path);
    std::map<std::string, std::pair<int64_t, std::string>> listed;
    {
        sqlite_statement rows = db->prepare("SELECT id, name, stamp FROM trips");
        while (rows.step())
            listed.emplace(rows.text(1), std::make_pair(rows.integer(0), rows.text(2)));
    }
    size_t changed = 0;
    for (const auto& [name, entry] : listed) {
        if (folders.count(name) != 0)
            continue;
        drop_trip(entry.first);
        ++changed;
    }
    for (const auto& [name, parsed] : folders) {
        if (go_on && !go_on())
            break;
        const auto known = listed.find(name);
        if (known != listed.end() && known->second.second == stamp_of(write_path / name))
            continue;
        if (store_trip(write_path / name, name))
            ++changed;
    }
    return changed;
}

size_t trip_catalogue::rebuild(const keep_going& go_on) {
    db->execute("DELETE FROM trips");
    return sync(go_on);
}

bool trip_catalogue::add_trip(const fs::path& folder) {
    const std::string name = trip_name(folder);
    std::error_code error;
    const bool here = fs::equivalent(write_path / name, folder, error) && !error;
    return here && fs::is_directory(folder, error) && store_trip(write_path / name, name);
}

bool trip_catalogue::store_trip(const fs::path& folder, const std::string& name) {
    trip_summary trip;
    if (!parse_trip_folder_name(name, trip.camera, trip.started))
        return false;
    // Taken before reading: a file that changes meanwhile leaves the entry stale.
    const std::string stamp = stamp_of(folder);
    const trip_index index = trip_index::read(folder / trip_files::index);
    const trip_route route = trip_route::read(folder);
    const std::vector<trip_pass> passes = trip_passes::of(index, route);
    trip.problem = index.problem();
    trip.index_missing = index.missing();
    trip.frames = index.records().size();
    trip.files = index.files().size();
    trip.marks = trip_marks::read(folder).size();
    trip.start_time = trip.end_time = started_seconds(trip.started);
    if (!index.empty()) {
        const index_record& first = index.records().front();
        const index_record& last = index.records().back();
        trip.first_km = first.km;
        trip.first_m = first.m;
        trip.last_km = last.km;
        trip.last_m = last.m;
        trip.first_abs = first.abs;
        trip.last_abs = last.abs;
        trip.start_time = record_time_seconds(first.time_text).value_or(trip.start_time);
        trip.end_time = std::max(trip.start_time, record_time_seconds(last.time_text).value_or(0));
    }
    // A failure here is the catalogue's, not the trip's: the caller hears of it.
    sqlite_transaction transaction(*db);
    db->prepare("DELETE FROM trips WHERE name = ?").bind(1, name).run();
    sqlite_statement insert_trip = db->prepare(
        "INSERT INTO trips (name, camera, started, start_time, end_time, frames, files, "
        "marks, first_km, first_m, last_km, last_m, first_abs, last_abs, problem, "
        "index_missing, stamp) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    insert_trip.bind(1, name)
        .bind(2, trip.camera)
        .bind(3, trip.started)
        .bind(4, trip.start_time)
        .bind(5, trip.end_time)
        .bind(6, static_cast<int64_t>(trip.frames))
        .bind(7, static_cast<int64_t>(trip.files))
        .bind(8, static_cast<int64_t>(trip.marks))
        .bind(9, static_cast<int64_t>(trip.first_km))
        .bind(10, trip.first_m)
        .bind(11, static_cast<int64_t>(trip.last_km))
        .bind(12, trip.last_m)
        .bind(13, trip.first_abs)
        .bind(14, trip.last_abs)
        .bind(15, trip.problem)
        .bind(16, static_cast<int64_t>(trip.index_missing))
        .bind(17, stamp)
        .run();
    const int64_t id = sqlite3_last_insert_rowid(db->handle());
    sqlite_statement insert_pass =
        db->prepare("INSERT INTO passes VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)");
    for (const trip_pass& pass : passes)
        insert_pass.bind(1, id)
            .bind(2, static_cast<int64_t>(pass.number))
            .bind(3, static_cast<int64_t>(pass.sense))
            .bind(4, pass.dir)
            .bind(5, pass.way)
            .bind(6, static_cast<int64_t>(pass.first_record))
            .bind(7, static_cast<int64_t>(pass.last_record))
            .bind(8, static_cast<int64_t>(pass.first_frame))
            .bind(9, static_cast<int64_t>(pass.last_frame))
            .bind(10, pass.abs_low)
            .bind(11, pass.abs_high)
            .bind(12, pass.place_low)
            .bind(13, pass.place_high)
            .run();
    sqlite_statement insert_waypoint =
        db->prepare("INSERT OR IGNORE INTO waypoints VALUES (?,?,?,?,?)");
    const auto add_waypoint = [&](size_t position) {
        const index_record& record = index.records()[position];
        insert_waypoint.bind(1, id)
            .bind(2, static_cast<int64_t>(position))
            .bind(3, record.abs)
            .bind(4, record.place())
            .bind(5, static_cast<int64_t>(record.offset))
            .run();
    };
    for (size_t i = 0; i < index.records().size(); i += waypoint_step)
        if (!index.records()[i].without_fix())
            add_waypoint(i);
    for (const trip_pass& pass : passes) {
        add_waypoint(pass.first_record);
        add_waypoint(pass.last_record);
    }
    transaction.commit();
    return true;
}

void trip_catalogue::drop_trip(int64_t id) {
    db->prepare("DELETE FROM trips WHERE id = ?").bind(1, id).run();
}

std::vector<trip_summary> trip_catalogue::trips() const {
    std::vector<trip_summary> found;
    sqlite_statement rows =
        db->prepare(std::string("SELECT ") + trip_columns + " FROM trips t ORDER BY t.name DESC");
    while (rows.step())
        found.push_back(trip_of(rows, write_path));
    return found;
}

std::optional<trip_summary> trip_catalogue::trip(const fs::path& folder) const {
    sqlite_statement row =
        db->prepare(std::string("SELECT ") + trip_columns + " FROM trips t WHERE t.name = ?");
    row.bind(1, trip_name(folder));
    if (!row.step())
        return std::nullopt;
    return trip_of(row, write_path);
}

std::vector<trip_pass> trip_catalogue::passes(const fs::path& folder) const {
    std::vector<trip_pass> found;
    sqlite_statement rows =
        db->prepare(std::string("SELECT ") + pass_columns +
                    " FROM passes p JOIN trips t ON t.id = p.trip WHERE t.name = ? "
                    "ORDER BY p.number");
    rows.bind(1, trip_name(folder));
    while (rows.step())
        found.push_back(pass_of(rows, 0));
    return found;
}

std::optional<trip_summary> trip_catalogue::paired_trip(const fs::path& folder) const {
    const std::optional<trip_summary> own = trip(folder);
    if (!own)
        return std::nullopt;
    sqlite_statement row = db->prepare(
        std::string("SELECT ") + trip_columns +
        " FROM trips t WHERE t.camera <> ?1 AND t.name <> ?2 AND t.start_time <= ?4 AND "
        "t.end_time >= ?3 ORDER BY min(t.end_time, ?4) - max(t.start_time, ?3) DESC, "
        "abs(t.start_time - ?3) LIMIT 1");
    row.bind(1, own->camera)
        .bind(2, trip_name(folder))
        .bind(3, own->start_time)
        .bind(4, own->end_time);
    if (!row.step())
        return std::nullopt;
    return trip_of(row, write_path);
}

std::vector<pass_at_place> trip_catalogue::passes_at(const track_place& place, double within,
                                                     bool with_nearest_frames) const {
    const double centre = place.along();
    const std::string range = place.absolute ? "abs_low <= ?2 AND abs_high >= ?1"
                                             : "place_low <= ?2 AND place_high >= ?1";
    const std::map<int64_t, trip_summary>& known = trips_by_id();
    sqlite_statement rows = db->prepare(std::string("SELECT p.trip, ") + pass_columns +
                                        " FROM passes p WHERE " + range);
    rows.bind(1, centre - within).bind(2, centre + within);
    // Newest first: the folder's name starts with the date and time.
    std::vector<std::pair<std::string, pass_at_place>> named;
    while (rows.step()) {
        const auto trip = known.find(rows.integer(0));
        if (trip == known.end())
            continue;
        pass_at_place row;
        row.trip = trip->second;
        row.pass = pass_of(rows, 1);
        named.emplace_back(row.trip.folder.filename().string(), std::move(row));
    }
    std::sort(named.begin(), named.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second.pass.number < b.second.pass.number;
    });
    std::vector<pass_at_place> found;
    found.reserve(named.size());
    for (auto& [name, row] : named)
        found.push_back(std::move(row));
    if (with_nearest_frames)
        for (pass_at_place& row : found)
            find_nearest_frame(row, place);
    return found;
}

const std::map<int64_t, trip_summary>& trip_catalogue::trips_by_id() const {
    // data_version tells of other connections' changes, the change count of this one's.
    const int64_t version = db->single_integer("PRAGMA data_version");
    const int64_t changes = sqlite3_total_changes64(db->handle());
    if (version == cached_version && changes == cached_changes)
        return trip_cache;
    trip_cache.clear();
    sqlite_statement rows = db->prepare(std::string("SELECT ") + trip_columns + " FROM trips t");
    while (rows.step())
        trip_cache.emplace(rows.integer(0), trip_of(rows, write_path));
    cached_version = version;
    cached_changes = changes;
    return trip_cache;
}

void trip_catalogue::find_nearest_frame(pass_at_place& row, const track_place& place) const {
    const double wanted = place.along();
    const auto distance = [&](const index_record& record) {
        return std::fabs((place.absolute ? record.abs : record.place()) - wanted);
    };
    std::vector<waypoint> points;
    {
        sqlite_statement rows = db->prepare(
            "SELECT record, abs, place, offset FROM waypoints WHERE trip = "
            "(SELECT id FROM trips WHERE name = ?) AND record BETWEEN ? AND ? ORDER BY record");
        rows.bind(1, row.trip.folder.filename().string())
            .bind(2, static_cast<int64_t>(row.pass.first_record))
            .bind(3, static_cast<int64_t>(row.pass.last_record));
        while (rows.step())
            points.push_back({static_cast<size_t>(rows.integer(0)), rows.real(1), rows.real(2),
                              static_cast<uint64_t>(rows.integer(3))});
    }
    const fs::path index_file = row.trip.folder / trip_files::index;
    trip_index part;
    size_t first_position = row.pass.first_record;
    if (!points.empty()) {
        // Within a pass the coordinate runs one way: the nearest frame lies between the
        // waypoints on either side of the nearest waypoint.
        const auto nearest_point =
            std::min_element(points.begin(), points.end(), [&](const auto& a, const auto& b) {
                return std::fabs((place.absolute ? a.abs : a.place) - wanted) <
                       std::fabs((place.absolute ? b.abs : b.place) - wanted);
            });
        const size_t at = static_cast<size_t>(nearest_point - points.begin());
        const waypoint& from = points[at > 0 ? at - 1 : at];
        const waypoint& to = points[at + 1 < points.size() ? at + 1 : at];
        part = trip_index::read_part(index_file, from.offset, to.record - from.record + 1);
        first_position = from.record;
        // An index changed since the catalogue read it is read whole.
        if (part.empty() || part.records().front().abs != from.abs)
            part = trip_index();
    }
    if (part.empty()) {
        part = trip_index::read(index_file);
        first_position = 0;
    }
    std::optional<size_t> best;
    for (size_t i = 0; i < part.records().size(); ++i) {
        const size_t position = first_position + i;
        const index_record& record = part.records()[i];
        if (position < row.pass.first_record || position > row.pass.last_record ||
            record.without_fix())
            continue;
        if (!best || distance(record) < distance(part.records()[*best]))
            best = i;
    }
    if (!best)
        return;
    const index_record& record = part.records()[*best];
    row.record = first_position + *best;
    row.file = part.file_of(record);
    row.frame_in_file = record.frame_in_file;
    row.frame = record.frame;
    row.abs = record.abs;
    row.km = record.km;
    row.m = record.m;
    row.time = record.time_text;
    row.distance = distance(record);
    row.texts = trip_route::read(row.trip.folder).at_frame(record.frame);
}

std::vector<pass_at_place> trip_catalogue::then_and_now(const fs::path& folder, size_t record,
                                                        double abs, double within) const {
    const std::optional<trip_summary> own = trip(folder);
    if (!own)
        return {};
    const std::vector<trip_pass> own_passes = passes(folder);
    const auto here = std::find_if(own_passes.begin(), own_passes.end(), [&](const trip_pass& p) {
        return p.first_record <= record && record <= p.last_record;
    });
    const trip_pass current = here != own_passes.end() ? *here : trip_pass();
    const std::optional<trip_summary> pair = paired_trip(folder);
    track_place place;
    place.absolute = true;
    place.abs = abs;
    std::vector<pass_at_place> rows = passes_at(place, within, false);
    const auto unknown_or_same = [](const std::string& a, const std::string& b) {
        return a.empty() || b.empty() || a == b;
    };
    const auto excluded = [&](const pass_at_place& row) {
        if (row.trip.folder == own->folder || (pair && row.trip.folder == pair->folder))
            return true;
        if (!unknown_or_same(row.pass.dir, current.dir) ||
            !unknown_or_same(row.pass.way, current.way))
            return true;
        const bool same_camera = row.trip.camera == own->camera;
        if (current.sense == 0 || row.pass.sense == 0)
            return !same_camera;
        return same_camera != (row.pass.sense == current.sense);
    };
    rows.erase(std::remove_if(rows.begin(), rows.end(), excluded), rows.end());
    for (pass_at_place& row : rows)
        find_nearest_frame(row, place);
    return rows;
}

std::vector<trip_summary> trip_catalogue::list(const fs::path& write_path) {
    trip_catalogue catalogue(write_path);
    catalogue.sync();
    return catalogue.trips();
}
