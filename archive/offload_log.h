#pragma once
// What the car's catalogue knows of its trips' copies: for each trip offloaded, where to, the
// manifest the copy was checked against, the stamp of the trip's files then, and when the copy
// was last read back whole. Kept in the catalogue's file (table "offloads"), which the trip
// catalogue leaves alone. Losing it deletes nothing: a trip without a row is simply not counted
// as offloaded until the next offload finds its copy again.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

struct offload_entry {
    std::string trip;        // the trip folder's name
    std::string destination; // the copy's folder
    std::string manifest_sum;
    std::string source_stamp;
    int64_t verified_at = 0; // seconds since 1970, UTC
};

class sqlite_connection;

class offload_log {
public:
    // Opens the catalogue of write_path (platform/database_place.h); a catalogue that cannot be
    // written gives a log in memory, which knows no copy.
    explicit offload_log(const std::filesystem::path& write_path);
    ~offload_log();
    offload_log(const offload_log&) = delete;
    offload_log& operator=(const offload_log&) = delete;

    std::optional<offload_entry> entry(const std::string& trip) const;
    std::map<std::string, offload_entry> entries() const;
    void record(const offload_entry& entry);
    void forget(const std::string& trip);

private:
    std::unique_ptr<sqlite_connection> db;
};
