#include "archive/archive_verify.h"

#include "archive/trip_contents.h"
#include "archive/trip_manifest.h"
#include "archive/trip_offload.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> folders_in(const fs::path& folder) {
    std::vector<fs::path> folders;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (!name.empty() && name[0] != '.' && entry->is_directory(error))
            folders.push_back(entry->path());
    }
    std::sort(folders.begin(), folders.end());
    return folders;
}

void note_damage(const copy_check& check) {
    std::ofstream note(check.folder / trip_offload::damaged_mark, std::ios::trunc);
    for (const std::string& problem : check.problems)
        note << problem << "\n";
}

} // namespace

std::vector<copy_check> verify_archive(const fs::path& destination,
                                       const std::function<void(const copy_check&)>& checked) {
    std::vector<copy_check> checks;
    for (const fs::path& car : folders_in(destination)) {
        for (const fs::path& trip : folders_in(car)) {
            std::error_code error;
            const bool has_identity = fs::exists(trip / car_identity::file_name, error);
            const bool has_manifest = fs::exists(trip / trip_manifest::file_name, error);
            // Folders that are no offloaded trip (an office's own notes) are left alone.
            if (!has_identity && !has_manifest)
                continue;
            copy_check check;
            check.folder = trip;
            check.car_folder = car.filename().string();
            check.trip = trip.filename().string();
            check.identity = car_identity::parse(small_file_text(trip / car_identity::file_name));
            const std::optional<trip_manifest> manifest =
                trip_manifest::parse(small_file_text(trip / trip_manifest::file_name));
            if (!has_manifest)
                check.problems.push_back(std::string(trip_manifest::file_name) + " is missing");
            else if (!manifest)
                check.problems.push_back(std::string(trip_manifest::file_name) + " cannot be read");
            else
                check.problems = check_copy(trip, *manifest);
            if (!check.problems.empty())
                note_damage(check);
            else
                fs::remove(trip / trip_offload::damaged_mark, error);
            if (checked)
                checked(check);
            checks.push_back(std::move(check));
        }
    }
    return checks;
}
