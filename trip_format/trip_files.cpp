#include "trip_format/trip_files.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

// "YYYY.MM.DD HH.MM.SS": digits where the pattern has '9'.
bool date_time_at_start(const std::string& name) {
    constexpr std::string_view pattern = "9999.99.99 99.99.99";
    if (name.size() < pattern.size())
        return false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const bool digit = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
        if (pattern[i] == '9' ? !digit : name[i] != pattern[i])
            return false;
    }
    return true;
}

bool all_digits(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

} // namespace

wxString trip_folder_name(const wxDateTime& opened, const wxString& camera_name) {
    return wxString::Format("%s[%s]", opened.Format("%Y.%m.%d %H.%M.%S"), camera_name);
}

bool parse_trip_folder_name(const std::string& name, std::string& camera, std::string& started) {
    constexpr size_t bracket = 19;
    if (!date_time_at_start(name) || name.size() < bracket + 3 || name[bracket] != '[')
        return false;
    const size_t close = name.find(']', bracket + 1);
    if (close == std::string::npos || close == bracket + 1)
        return false;
    const std::string_view rest = std::string_view(name).substr(close + 1);
    // Nothing after the camera, or a number " (2)" given to a name already taken.
    if (!rest.empty() && (rest.size() < 4 || rest.substr(0, 2) != " (" || rest.back() != ')' ||
                          !all_digits(rest.substr(2, rest.size() - 3))))
        return false;
    camera = name.substr(bracket + 1, close - bracket - 1);
    started = name.substr(0, 10) + " " + name.substr(11, 2) + ":" + name.substr(14, 2) + ":" +
              name.substr(17, 2);
    return true;
}

std::string trip_folder_name_of(const std::filesystem::path& folder) {
    const std::filesystem::path normal = folder.lexically_normal();
    return (normal.has_filename() ? normal : normal.parent_path()).filename().string();
}
