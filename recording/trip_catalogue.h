#pragma once
// The trips recorded under a folder: every trip folder "<date time>[<camera>]" (or with " (2)",
// ...) with what its frame index says about it, newest first.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct trip_summary {
    std::filesystem::path folder;
    std::string camera;  // UTF-8, from the folder's name
    std::string started; // "2024.05.01 12:30:05"
    size_t frames = 0;
    size_t files = 0;
    int32_t first_km = 0;
    double first_m = 0.0;
    int32_t last_km = 0;
    double last_m = 0.0;
    // Why the index could not be read (whole or in part); empty when it was.
    std::string problem;
    bool index_missing = false;
};

class trip_catalogue {
public:
    // Never throws for a missing or unreadable folder: it then lists nothing.
    static std::vector<trip_summary> list(const std::filesystem::path& write_path);

    // The camera and start of a trip folder's name; false for any other name.
    static bool parse_folder_name(const std::string& name, std::string& camera,
                                  std::string& started);
};
