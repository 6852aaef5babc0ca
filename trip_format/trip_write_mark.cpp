#include "trip_format/trip_write_mark.h"

#include "platform/durable_file.h"

#include <system_error>

namespace trip_format {

namespace {

std::filesystem::path mark_path(const std::filesystem::path& trip_folder) {
    return trip_folder / write_mark_name;
}

} // namespace

trip_state state_of_trip(const std::filesystem::path& trip_folder) {
    switch (platform::probe_lock(mark_path(trip_folder))) {
    case platform::lock_probe::no_file:
        return trip_state::finished;
    case platform::lock_probe::unlocked:
        return trip_state::cut;
    case platform::lock_probe::locked_elsewhere:
        break;
    }
    return trip_state::being_written;
}

trip_write_mark::trip_write_mark(const std::filesystem::path& trip_folder) : folder(trip_folder) {
    // The file is locked under another name and then renamed: a reader never finds the mark
    // without its lock, which would look like a cut.
    std::filesystem::path unnamed = mark_path(folder);
    unnamed += ".new";
    lock = std::make_unique<platform::file_lock>(unnamed);
    std::error_code error;
    if (lock->held())
        std::filesystem::rename(unnamed, mark_path(folder), error);
    if (!lock->held() || error) {
        lock.reset();
        std::filesystem::remove(unnamed, error);
        return;
    }
    // The mark, and the trip folder's own name, must outlive a cut that comes a moment later.
    platform::sync_folder(folder);
    platform::sync_folder(folder.parent_path());
}

trip_write_mark::trip_write_mark(const std::filesystem::path& trip_folder, existing_file)
    : folder(trip_folder), lock(std::make_unique<platform::file_lock>(
                               mark_path(trip_folder), platform::file_lock::opening::existing)) {}

std::unique_ptr<trip_write_mark>
trip_write_mark::take_over(const std::filesystem::path& trip_folder) {
    if (state_of_trip(trip_folder) != trip_state::cut)
        return nullptr;
    std::unique_ptr<trip_write_mark> mark(new trip_write_mark(trip_folder, existing_file{}));
    if (!mark->held())
        return nullptr;
    // Between the test and the lock another repairer may have finished the trip and removed the
    // mark: the lock is then on a file that no longer has a name.
    if (state_of_trip(trip_folder) != trip_state::being_written)
        return nullptr;
    return mark;
}

void trip_write_mark::finish() {
    if (!lock)
        return;
    std::error_code error;
    if (lock->held()) {
        std::filesystem::remove(mark_path(folder), error);
        platform::sync_folder(folder);
    }
    lock.reset();
}

} // namespace trip_format
