#include "app/journal_files.h"

#include <wx/dir.h>
#include <wx/filefn.h>
#include <wx/log.h>

wxFileName journal_file_name(const wxString& folder, std::time_t now, unsigned long process_id) {
    wxFileName name;
    name.AssignDir(folder);
    name.SetFullName(
        wxString::Format("kestrel[%u%lu].html", static_cast<unsigned>(now), process_id));
    return name;
}

void remove_old_journals(const wxString& folder, const wxString& mask, std::time_t now) {
    // A failure here must not show the toolkit's log window: old journals are a nicety.
    wxLogNull quiet;
    wxArrayString files;
    wxDir::GetAllFiles(folder, &files, mask, wxDIR_FILES);
    for (const wxString& file : files) {
        const std::time_t modified = wxFileModificationTime(file);
        if (modified != static_cast<std::time_t>(-1) &&
            std::difftime(now, modified) > journal_keep_seconds)
            wxRemoveFile(file);
    }
}
