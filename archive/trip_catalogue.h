#pragma once
// The catalogue of the trips recorded under write_path, "<write_path>/catalogue.sqlite" (on a
// network share or a user-space file system: in the user's cache folder, where SQLite's locks
// hold; platform/database_place.h): a
// cache of what the trip folders hold (trips, their passes, and every 128th record's place and
// byte offset in data.idx, so a place is found without reading whole indexes). Deleting it
// loses nothing: it is made again from the folders.
//
// One object is one connection: use it on one thread at a time, and give each thread its own.
// The file is in WAL mode, so readers read while the recorder adds a trip. Where the folder
// cannot be written (an archive on a read-only share) the catalogue lives in memory, one per
// object. A failure of the catalogue's file while in use throws sqlite_error
// (archive/sqlite_connection.h).

#include "archive/track_place.h"
#include "archive/trip_passes.h"
#include "trip_format/route_texts.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct trip_summary {
    std::filesystem::path folder;
    std::string camera;  // UTF-8, from the folder's name
    std::string started; // "2024.05.01 12:30:05", from the folder's name
    // Seconds since 1970 (UTC) of the first and last record; the folder's time when the index
    // holds none.
    int64_t start_time = 0;
    int64_t end_time = 0;
    size_t frames = 0;
    size_t files = 0;
    size_t marks = 0;
    int32_t first_km = 0;
    double first_m = 0.0;
    int32_t last_km = 0;
    double last_m = 0.0;
    double first_abs = 0.0;
    double last_abs = 0.0;
    // Why the index could not be read (whole or in part); empty when it was.
    std::string problem;
    bool index_missing = false;
};

// One pass of one trip at a place, with the pass's frame nearest to it.
struct pass_at_place {
    trip_summary trip;
    trip_pass pass;
    size_t record = 0; // position of the nearest frame in the trip's index
    std::string file;  // its video or image file, without folder
    int64_t frame_in_file = 0;
    int32_t frame = 0;
    double abs = 0.0;
    int32_t km = 0;
    double m = 0.0;
    std::string time;      // as data.idx writes it
    route_texts texts;     // in force at that frame
    double distance = 0.0; // metres from the place asked for
};

class sqlite_connection;

class trip_catalogue {
public:
    static constexpr const char* file_name = "catalogue.sqlite";

    // Opens the catalogue of write_path, making it when missing and making it anew when broken
    // or of an older layout. Reads no trip folder: sync() does. Where the file cannot be made
    // or written, the catalogue is in memory and notice() says so.
    explicit trip_catalogue(const std::filesystem::path& write_path);
    ~trip_catalogue();
    trip_catalogue(const trip_catalogue&) = delete;
    trip_catalogue& operator=(const trip_catalogue&) = delete;

    const std::filesystem::path& root() const { return write_path; }
    bool in_memory() const { return memory_only; }
    // One line for the operator when the catalogue is in memory (say it once); else empty.
    const std::string& notice() const { return memory_notice; }

    // Called between two trips of a long sync or rebuild; returning false stops it there.
    using keep_going = std::function<bool()>;
    // Brings the catalogue up to the folders: adds trips not listed yet (those a crash left
    // too), reads stale ones again (data.idx, route.csv or marks.csv changed since) and drops
    // those whose folder is gone. Returns how many trips it added, read again or dropped.
    size_t sync(const keep_going& go_on = {});
    // Forgets everything and reads every trip folder again.
    size_t rebuild(const keep_going& go_on = {});
    // Adds one trip folder or reads it again; false when the folder is not a trip folder
    // under write_path. Throws sqlite_error when the catalogue could not be written.
    bool add_trip(const std::filesystem::path& folder);

    // Every trip, newest first.
    std::vector<trip_summary> trips() const;
    std::optional<trip_summary> trip(const std::filesystem::path& folder) const;
    std::vector<trip_pass> passes(const std::filesystem::path& folder) const;
    // The other camera's trip of the same run: the trip of the other camera whose time span
    // overlaps this trip's most. Nothing when there is none.
    std::optional<trip_summary> paired_trip(const std::filesystem::path& folder) const;

    // Every pass of every trip within `within` metres of the place (kilometre + metres against
    // the records' kilometre and metres, an absolute place against their coordinate), newest
    // trip first, a trip's passes in their order. With nearest frames, each row also gets its
    // pass's frame nearest to the place (a few hundred records of its data.idx are read).
    std::vector<pass_at_place> passes_at(const track_place& place, double within,
                                         bool with_nearest_frames = true) const;
    // Then and now: for record `record` (at coordinate `abs`) of the trip in `folder`, every
    // pass of every other trip within `within` metres of it, on the same direction code and
    // track where both are known, seen by the camera that looked the same way (this camera
    // running the same sense, the other camera running the other sense), never the paired
    // trip of this run; newest first, one row per pass.
    std::vector<pass_at_place> then_and_now(const std::filesystem::path& folder, size_t record,
                                            double abs, double within = 25.0) const;

    // The trips of write_path as the catalogue has them after a sync (the trip pane's list).
    static std::vector<trip_summary> list(const std::filesystem::path& write_path);

private:
    void open_file();
    void check_whole();
    void use_write_ahead_log();
    void open_memory(const std::string& why);
    void make_tables();
    bool store_trip(const std::filesystem::path& folder, const std::string& name);
    void drop_trip(int64_t id);
    void find_nearest_frame(pass_at_place& row, const track_place& place) const;
    // Every trip by its key, read again only when the catalogue changed.
    const std::map<int64_t, trip_summary>& trips_by_id() const;

    std::filesystem::path write_path;
    std::unique_ptr<sqlite_connection> db;
    bool memory_only = false;
    std::string memory_notice;
    mutable std::map<int64_t, trip_summary> trip_cache;
    mutable int64_t cached_version = -1;
    mutable int64_t cached_changes = -1;
};
