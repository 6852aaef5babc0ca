#pragma once
// Codec names of the settings mapped to the four-character codes the video library expects.

#include <wx/string.h>

// The code of a codec name (exact, case-sensitive); 0 for a name that is not in the table.
int codec_fourcc(const wxString& codec);

// Whether frames of this code can be recorded into AVI files here. HEVC cannot: the video
// library warns that AVI has no tag for it, files of a few frames lose their first frame to a
// broken time stamp (so nothing of them can be decoded), and the review pane cannot play it.
bool codec_fits_avi(int fourcc);
