#pragma once
// The mark of a trip that is still being written: the file "recording.lock" in the trip folder,
// locked by whoever writes the trip for as long as they write it. A clean end removes the file.
// The lock dies with its process, so a power cut, a crash or a kill leaves the file without a
// holder: that, and only that, is a trip left by a cut. Every reader tells the three apart with
// state_of_trip().

#include "platform/file_lock.h"

#include <filesystem>
#include <memory>

namespace trip_format {

inline constexpr const char* write_mark_name = "recording.lock";

enum class trip_state { finished, being_written, cut };

trip_state state_of_trip(const std::filesystem::path& trip_folder);

class trip_write_mark {
public:
    // Marks the trip folder as being written; held() tells whether the mark could be made.
    explicit trip_write_mark(const std::filesystem::path& trip_folder);
    // The mark of a cut trip, taken over by whoever repairs it; null when the trip is not cut
    // (finished, or someone else holds its mark).
    static std::unique_ptr<trip_write_mark> take_over(const std::filesystem::path& trip_folder);
    ~trip_write_mark() = default;
    trip_write_mark(const trip_write_mark&) = delete;
    trip_write_mark& operator=(const trip_write_mark&) = delete;

    bool held() const { return lock && lock->held(); }
    // The trip ended cleanly: the mark goes, then its lock. A trip whose writer never gets here
    // keeps a mark nobody holds.
    void finish();

private:
    struct existing_file {};
    trip_write_mark(const std::filesystem::path& trip_folder, existing_file);

    std::filesystem::path folder;
    std::unique_ptr<platform::file_lock> lock;
};

} // namespace trip_format
