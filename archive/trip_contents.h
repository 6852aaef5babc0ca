#pragma once
// The files of one trip folder that an offload copies, and a stamp of them that changes when
// any of them changes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct trip_file {
    std::string name; // UTF-8, directly in the trip folder
    uint64_t size = 0;
    int64_t modified_ns = 0;
};

// Every regular file directly in the folder, by name. Throws std::filesystem::filesystem_error
// when the folder cannot be read.
std::vector<trip_file> files_of_trip(const std::filesystem::path& folder);

// "name size mtime" of every file, one per line.
std::string stamp_of_files(const std::vector<trip_file>& files);

uint64_t total_size(const std::vector<trip_file>& files);

// A small file's bytes (a manifest, an identity); empty when it cannot be read.
std::string small_file_text(const std::filesystem::path& path);

// The trip folders directly under a folder (names the recorder gives), oldest first.
std::vector<std::filesystem::path> trip_folders_under(const std::filesystem::path& folder);
