#include "recording/trip_catalogue.h"

#include "recording/trip_index.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace {

// "YYYY.MM.DD HH.MM.SS": digits where the pattern has '9'.
bool date_time_at_start(const std::string& name) {
    static const std::string pattern = "9999.99.99 99.99.99";
    if (name.size() < pattern.size())
        return false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
        if (pattern[i] == '9' ? !digit : name[i] != pattern[i])
            return false;
    }
    return true;
}

trip_summary summarise(const std::filesystem::path& folder, std::string camera,
                       std::string started) {
    trip_summary trip;
    trip.folder = folder;
    trip.camera = std::move(camera);
    trip.started = std::move(started);
    const trip_index index = trip_index::read(folder / "data.idx");
    trip.problem = index.problem();
    trip.index_missing = index.missing();
    trip.frames = index.records().size();
    trip.files = index.files().size();
    if (!index.empty()) {
        trip.first_km = index.records().front().km;
        trip.first_m = index.records().front().m;
        trip.last_km = index.records().back().km;
        trip.last_m = index.records().back().m;
    }
    return trip;
}

} // namespace

bool trip_catalogue::parse_folder_name(const std::string& name, std::string& camera,
                                       std::string& started) {
    constexpr size_t bracket = 19;
    if (!date_time_at_start(name) || name.size() < bracket + 3 || name[bracket] != '[')
        return false;
    const size_t close = name.find(']', bracket + 1);
    if (close == std::string::npos || close == bracket + 1)
        return false;
    const std::string rest = name.substr(close + 1);
    // Nothing after the camera, or a number " (2)" given to a name already taken.
    if (!rest.empty() && (rest.size() < 4 || rest.compare(0, 2, " (") != 0 || rest.back() != ')' ||
                          !std::all_of(rest.begin() + 2, rest.end() - 1, [](char c) {
                              return std::isdigit(static_cast<unsigned char>(c)) != 0;
                          })))
        return false;
    camera = name.substr(bracket + 1, close - bracket - 1);
    started = name.substr(0, 10) + " " + name.substr(11, 2) + ":" + name.substr(14, 2) + ":" +
              name.substr(17, 2);
    return true;
}

std::vector<trip_summary> trip_catalogue::list(const std::filesystem::path& write_path) {
    std::vector<std::pair<std::string, std::filesystem::path>> folders;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(write_path, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code type_error;
        if (entry->is_directory(type_error))
            folders.emplace_back(entry->path().filename().string(), entry->path());
    }
    // The name starts with the date and time: newest first is the names in reverse.
    std::sort(folders.begin(), folders.end(),
              [](const auto& a, const auto& b) { return a.first > b.first; });
    std::vector<trip_summary> trips;
    for (const auto& [name, path] : folders) {
        std::string camera;
        std::string started;
        if (parse_folder_name(name, camera, started))
            trips.push_back(summarise(path, camera, started));
    }
    return trips;
}
