#pragma once
// kestrel-trips offload and verify: the car's trips copied to an office archive and checked
// there. Lines go to `out`; a terminal gets a progress line that is rewritten in place.

#include "archive/car_identity.h"

#include <filesystem>
#include <iosfwd>

class offload_commands {
public:
    // `root` is the car's write_path; `terminal` says whether `out` is a terminal.
    offload_commands(std::filesystem::path root, car_identity car, std::ostream& out,
                     bool terminal);

    // Copies every finished trip to DEST/<car>/; returns the exit status (1 when a trip was
    // refused). Throws offload_error when DEST cannot take it.
    int offload(const std::filesystem::path& destination, bool dry_run);
    // Checks every copy under DEST; returns 1 when one is missing or damaged.
    int verify(const std::filesystem::path& destination);

private:
    std::filesystem::path root;
    car_identity car;
    std::ostream& out;
    bool terminal;
};
