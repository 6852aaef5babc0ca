#pragma once
// The two ways to write a row into the run's journal. GUI thread only: worker threads send
// their texts to the GUI thread as events.

#include <wx/string.h>

// One blue information row with the local time.
void log_info(const wxString& message);
// One red error row with the local time.
void log_error(const wxString& message);
