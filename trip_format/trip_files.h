#pragma once
// The names inside the recordings folder that the recorder writes and every reader looks for:
// one folder per trip, named after its start and camera, and the fixed files in it.

#include <filesystem>
#include <string>
#include <wx/datetime.h>
#include <wx/string.h>

namespace trip_files {

// The frame index: every recorded frame with its file, place in the file and position.
constexpr const char* index = "data.idx";
// The route texts in force from each frame on.
constexpr const char* route = "route.csv";
// The operator's marks.
constexpr const char* marks = "marks.csv";

} // namespace trip_files

// "2024.05.01 12.30.05[Котел]": when the writer was opened, and for which camera.
wxString trip_folder_name(const wxDateTime& opened, const wxString& camera_name);
// The camera and start ("2024.05.01 12:30:05") of such a name, also with the " (2)" that a
// name already taken gets; false for any other name.
bool parse_trip_folder_name(const std::string& name, std::string& camera, std::string& started);
// The name of the trip folder at `folder`, whether or not the path ends with a separator.
std::string trip_folder_name_of(const std::filesystem::path& folder);
