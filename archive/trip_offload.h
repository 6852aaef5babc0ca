#pragma once
// Copies a car's finished trips to DEST/<car>/<trip folder>/ so that the office holds a copy
// known to be whole. Each trip is copied into a temporary folder beside its final place, hashed
// (SHA-256) while read from the car's disk, forced to DEST's disk, read back from that disk
// (not from memory) and compared; only then it gets manifest.sha256 and car.identity and is
// renamed to its final name, and the car's catalogue counts it as offloaded. A killed offload
// leaves only temporary folders, which the next one finishes. A trip left by a power cut is
// repaired first; a trip still being written is never copied.

#include "archive/car_identity.h"
#include "archive/trip_manifest.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

// DEST cannot take the offload at all (missing, read-only, full): one line, the run ends.
struct offload_error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class offload_outcome {
    copied,        // copied and read back
    finished,      // an interrupted copy finished and read back
    replaced,      // a missing or damaged copy replaced by a new one
    already_there, // a copy with a matching manifest was there
    would_copy,    // a dry run: would be copied
    being_written, // skipped: a camera is still writing it
    cut,           // skipped: left by a power cut, and its repair did not finish
    refused,       // not copied: the copy at DEST is another car's, or read back wrong
};

struct offload_result {
    std::string trip;
    offload_outcome outcome = offload_outcome::copied;
    uint64_t bytes = 0;
    double seconds = 0.0;
    std::string why;       // for refused and cut trips, one line
    bool repaired = false; // left by a power cut and repaired first (a dry run: would be)
};

// What the offload tells while it works. `progress` gets the bytes done of the current trip
// (copied, then read back: 2 x its size in all).
struct offload_listener {
    std::function<void(const std::string& trip, uint64_t bytes)> trip_started;
    std::function<void(uint64_t done, uint64_t of)> progress;
    std::function<void(const offload_result&)> trip_done;
};

class offload_log;

class trip_offload {
public:
    static constexpr const char* partial_suffix = ".partial";
    static constexpr const char* aside_suffix = ".replaced";
    // Left in a copy's folder by verify: the copy is damaged and gets replaced.
    static constexpr const char* damaged_mark = ".damaged";

    trip_offload(std::filesystem::path write_path, std::filesystem::path destination,
                 car_identity car, offload_log& log, offload_listener listener = {});

    // Every trip folder under write_path, oldest first. Throws offload_error when DEST cannot
    // take it; a trip refused is in the results and the run goes on.
    std::vector<offload_result> run(bool dry_run = false);
    // The folder the car's trips go to: DEST/<car_name made a plain folder name>.
    std::filesystem::path car_folder() const { return cars_folder; }

    // The car's name as a folder name: "/" and other characters a folder cannot have become "_".
    static std::string folder_name_of(const std::string& car_name);

private:
    void check_destination();
    offload_result offload(const std::filesystem::path& trip, bool dry_run);
    // True when the copy at `final_folder` holds what the trip holds now, read back from its
    // disk.
    bool copy_matches(const std::string& name, const std::filesystem::path& final_folder,
                      const trip_manifest& source) const;
    trip_manifest copy_into(const std::filesystem::path& trip, const std::filesystem::path& temp,
                            uint64_t bytes);
    std::string read_back(const std::filesystem::path& temp, const trip_manifest& expected,
                          uint64_t bytes);
    void put_in_place(const std::filesystem::path& temp, const std::filesystem::path& final_folder);
    void check_identity(const std::filesystem::path& folder, const std::string& trip) const;

    std::filesystem::path write_path;
    std::filesystem::path destination;
    std::filesystem::path cars_folder;
    car_identity car;
    offload_log& log;
    offload_listener listener;
};

// Hashes every file named in the manifest in `folder`, reading past the page cache. One line
// per file that is missing or does not match; empty when the copy is whole.
std::vector<std::string> check_copy(const std::filesystem::path& folder,
                                    const trip_manifest& manifest);
