#pragma once
// Room on the car's disk: when free space at write_path falls below the limit, the oldest trips
// that have a verified copy at the office are deleted until it is above again. A trip without a
// verified copy, a trip whose files changed since they were copied, and a trip being written
// are never deleted.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct deleted_trip {
    std::filesystem::path folder;
    std::string copy; // where its verified copy is
    uint64_t bytes = 0;
};

struct retention_result {
    std::vector<deleted_trip> deleted;
    std::vector<std::string> failures; // one line each
};

// The free bytes of the disk that holds a folder; nothing when it cannot be asked.
using free_space_probe = std::function<std::optional<uint64_t>(const std::filesystem::path&)>;

// One pass over write_path: deletes oldest offloaded trips while free space is below
// `keep_free`, never one named in `open_trips` (the folders cameras write now). A trip folder is
// first renamed aside (".<name>.deleting") and then removed, so a power cut in between never leaves
// a trip half deleted under its own name; such leftovers are removed by the next pass.
retention_result make_room(const std::filesystem::path& write_path, uint64_t keep_free,
                           const std::set<std::string>& open_trips,
                           const free_space_probe& free_space);
