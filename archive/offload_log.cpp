#include "archive/offload_log.h"

#include "archive/sqlite_connection.h"
#include "archive/sqlite_statement.h"
#include "platform/database_place.h"

#include <sqlite3.h>

namespace {

constexpr const char* schema = "CREATE TABLE IF NOT EXISTS offloads ("
                               "trip TEXT PRIMARY KEY, destination TEXT NOT NULL, "
                               "manifest_sum TEXT NOT NULL, source_stamp TEXT NOT NULL, "
                               "verified_at INTEGER NOT NULL)";

offload_entry read_entry(const sqlite_statement& row) {
    offload_entry entry;
    entry.trip = row.text(0);
    entry.destination = row.text(1);
    entry.manifest_sum = row.text(2);
    entry.source_stamp = row.text(3);
    entry.verified_at = row.integer(4);
    return entry;
}

} // namespace

offload_log::offload_log(const std::filesystem::path& write_path) {
    const std::filesystem::path file = platform::database_place(write_path, "catalogue.sqlite");
    try {
        db = std::make_unique<sqlite_connection>(
            file.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
        // The recorder's catalogue keeper writes the same file now and then.
        db->execute("PRAGMA busy_timeout=10000");
        db->execute(schema);
    } catch (const sqlite_error&) {
        db = std::make_unique<sqlite_connection>(
            ":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
        db->execute(schema);
    }
}

offload_log::~offload_log() = default;

std::optional<offload_entry> offload_log::entry(const std::string& trip) const {
    sqlite_statement row = db->prepare("SELECT trip, destination, manifest_sum, source_stamp, "
                                       "verified_at FROM offloads WHERE trip = ?");
    row.bind(1, trip);
    if (!row.step())
        return std::nullopt;
    return read_entry(row);
}

std::map<std::string, offload_entry> offload_log::entries() const {
    std::map<std::string, offload_entry> all;
    sqlite_statement rows = db->prepare(
        "SELECT trip, destination, manifest_sum, source_stamp, verified_at FROM offloads");
    while (rows.step()) {
        offload_entry entry = read_entry(rows);
        all.emplace(entry.trip, std::move(entry));
    }
    return all;
}

void offload_log::record(const offload_entry& entry) {
    db->prepare("INSERT OR REPLACE INTO offloads VALUES (?, ?, ?, ?, ?)")
        .bind(1, entry.trip)
        .bind(2, entry.destination)
        .bind(3, entry.manifest_sum)
        .bind(4, entry.source_stamp)
        .bind(5, entry.verified_at)
        .run();
}

void offload_log::forget(const std::string& trip) {
    db->prepare("DELETE FROM offloads WHERE trip = ?").bind(1, trip).run();
}
