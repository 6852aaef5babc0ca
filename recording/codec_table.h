#pragma once
// Codec names of the settings mapped to the four-character codes the video library expects.

#include <wx/string.h>

// The code of a codec name (exact, case-sensitive); 0 for a name that is not in the table.
int codec_fourcc(const wxString& codec);
