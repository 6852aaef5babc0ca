#pragma once
// Checks the copies under an office archive DEST/<car>/<trip>/ against their manifests,
// reading every file past the page cache. A damaged copy gets a ".damaged" note in its folder
// (where DEST can be written), so the car's next offload replaces it.

#include "archive/car_identity.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct copy_check {
    std::filesystem::path folder; // DEST/<car>/<trip>
    std::string car_folder;       // <car>
    std::string trip;             // <trip>
    std::optional<car_identity> identity;
    std::vector<std::string> problems; // empty: the copy is whole
};

// Every trip copy under `destination`, car by car, trip by trip; `checked` hears of each one
// as it is done. Temporary folders of an offload under way are left out.
std::vector<copy_check> verify_archive(const std::filesystem::path& destination,
                                       const std::function<void(const copy_check&)>& checked = {});
