#pragma once
// The folder layout of a recording: one trip folder per writer under write_path, every file
// of the trip directly in it, and names that never overwrite an earlier file of the trip.

#include <filesystem>
#include <set>
#include <wx/datetime.h>
#include <wx/filename.h>
#include <wx/string.h>

// Makes the trip folder under write_path (empty: the current folder) and points `target` at
// it. A name already taken gets " (2)", " (3)", ... Missing parents are not made, so an absent
// removable disk is never replaced by a folder on the system disk. False when the folder could
// not be made; `target` still points at it.
bool make_trip_folder(wxFileName& target, const wxString& write_path, const wxString& camera_name,
                      const wxDateTime& opened);

// Makes a trip folder that could not be made when its writer opened (its disk was not there
// yet), under the name chosen then. Only the trip folder itself is made, never a missing
// parent. True when the folder stands now.
bool make_late_trip_folder(const wxString& trip_folder);

// The expansion of a file-name template with its extension, with every ":", "\" and "/"
// replaced by "_" so that the file lies directly in the trip folder.
wxString clean_file_name(const wxString& name);

// The names a trip has used so far. A name used before gets " (2)", " (3)", ... before its
// extension, so a second pass over the same place keeps both recordings.
class trip_file_names {
public:
    // The first free form of `name` in `folder`; not yet taken.
    wxString free_name(const wxFileName& folder, const wxString& name) const;
    // The file now exists under this name.
    void take(const wxString& name);

private:
    bool used(const wxFileName& folder, const wxString& name) const;

    // Lower case: a removable disk's file system may not tell "A" from "a".
    std::set<wxString> taken;
};

// The journal row for a trip folder that could not be made.
wxString trip_folder_failed_row(const wxString& folder);
