#include "archive/retention.h"

#include "archive/offload_log.h"
#include "archive/trip_contents.h"
#include "trip_format/trip_write_mark.h"

#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* deleting_suffix = ".deleting";

void remove_leftovers(const fs::path& write_path, retention_result& result) {
    std::error_code error;
    for (fs::directory_iterator entry(write_path, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        const size_t suffix = std::string(deleting_suffix).size();
        if (name.size() > suffix + 1 && name[0] == '.' &&
            name.compare(name.size() - suffix, suffix, deleting_suffix) == 0) {
            std::error_code failed;
            fs::remove_all(entry->path(), failed);
            if (failed)
                result.failures.push_back("cannot remove " + entry->path().string() + ": " +
                                          failed.message());
        }
    }
}

bool deletable(const fs::path& trip, const offload_entry& copy,
               const std::set<std::string>& open_trips, uint64_t& bytes) {
    if (open_trips.count(trip.filename().string()) != 0 ||
        trip_format::state_of_trip(trip) != trip_format::trip_state::finished)
        return false;
    const std::vector<trip_file> files = files_of_trip(trip);
    bytes = total_size(files);
    return stamp_of_files(files) == copy.source_stamp;
}

} // namespace

retention_result make_room(const fs::path& write_path, uint64_t keep_free,
                           const std::set<std::string>& open_trips,
                           const free_space_probe& free_space) {
    retention_result result;
    remove_leftovers(write_path, result);
    std::optional<uint64_t> free_now = free_space(write_path);
    if (!free_now || *free_now >= keep_free)
        return result;
    offload_log log(write_path);
    const std::map<std::string, offload_entry> copies = log.entries();
    for (const fs::path& trip : trip_folders_under(write_path)) {
        if (*free_now >= keep_free)
            break;
        const auto copy = copies.find(trip.filename().string());
        uint64_t bytes = 0;
        try {
            if (copy == copies.end() || !deletable(trip, copy->second, open_trips, bytes))
                continue;
        } catch (const fs::filesystem_error&) {
            continue;
        }
        const fs::path aside = write_path / ("." + trip.filename().string() + deleting_suffix);
        std::error_code error;
        fs::rename(trip, aside, error);
        if (error) {
            result.failures.push_back("cannot delete " + trip.string() + ": " + error.message());
            continue;
        }
        log.forget(trip.filename().string());
        fs::remove_all(aside, error);
        if (error)
            result.failures.push_back("cannot remove " + aside.string() + ": " + error.message());
        result.deleted.push_back({trip, copy->second.destination, bytes});
        free_now = free_space(write_path);
        if (!free_now)
            break;
    }
    return result;
}
