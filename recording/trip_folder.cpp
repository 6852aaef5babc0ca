#include "recording/trip_folder.h"

#include "platform/text.h"
#include "trip_format/trip_files.h"

#include <system_error>

namespace {

wxString with_number(const wxString& name, unsigned number) {
    return number < 2 ? name : wxString::Format("%s (%u)", name, number);
}

} // namespace

bool make_trip_folder(wxFileName& target, const wxString& write_path, const wxString& camera_name,
                      const wxDateTime& opened) {
    const wxString base = trip_folder_name(opened, camera_name);
    for (unsigned number = 1;; ++number) {
        target.SetPath(write_path, wxPATH_NATIVE);
        target.AppendDir(with_number(base, number));
        std::error_code error;
        // create_directory makes the last level only and reports a taken name as false
        // without an error; it is atomic, so two writers never share a folder.
        if (std::filesystem::create_directory(platform::native_path(target.GetPath()), error))
            return true;
        if (error)
            return false;
    }
}

bool make_late_trip_folder(const wxString& trip_folder) {
    std::error_code error;
    std::filesystem::create_directory(platform::native_path(trip_folder), error);
    return !error && std::filesystem::is_directory(platform::native_path(trip_folder), error);
}

wxString clean_file_name(const wxString& name) {
    wxString cleaned = name;
    cleaned.Replace(":", "_");
    cleaned.Replace("\\", "_");
    cleaned.Replace("/", "_");
    return cleaned;
}

wxString trip_file_names::free_name(const wxFileName& folder, const wxString& name) const {
    // The number goes before the extension, so the file keeps its type.
    const size_t dot_at = name.rfind('.');
    const wxString stem = dot_at == wxString::npos ? name : name.substr(0, dot_at);
    const wxString dot = dot_at == wxString::npos ? wxString() : name.substr(dot_at);
    for (unsigned number = 1;; ++number) {
        const wxString candidate = with_number(stem, number) + dot;
        if (!used(folder, candidate))
            return candidate;
    }
}

void trip_file_names::take(const wxString& name) {
    taken.insert(name.Lower());
}

bool trip_file_names::used(const wxFileName& folder, const wxString& name) const {
    if (taken.count(name.Lower()) != 0)
        return true;
    wxFileName file(folder);
    file.SetFullName(name);
    std::error_code error;
    return std::filesystem::exists(platform::native_path(file.GetFullPath()), error);
}

wxString trip_folder_failed_row(const wxString& folder) {
    return wxString::Format(wxString::FromUTF8("Не удается создать папку записи [%s]"), folder);
}
