#pragma once
// The run's journal file name and the clean-up of old journals in the log folder.

#include <ctime>
#include <wx/filename.h>
#include <wx/string.h>

// Journals of earlier runs are kept this long.
constexpr double journal_keep_seconds = 7 * 24 * 60 * 60;

// The journal file of this run in the folder: "kestrel[<seconds since 1970><process id>].html",
// so two runs started in the same second still get files of their own.
wxFileName journal_file_name(const wxString& folder, std::time_t now, unsigned long process_id);

// Deletes the files (not folders, not hidden files, not in sub-folders) of the folder that match
// the mask and were last modified more than journal_keep_seconds before now. A file that cannot
// be deleted stays.
void remove_old_journals(const wxString& folder, const wxString& mask, std::time_t now);
