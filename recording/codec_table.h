#pragma once
// Codec names of the settings mapped to the four-character codes their AVI files carry.

#include <cstdint>
#include <wx/string.h>

// What an unknown codec name records with.
extern const wxString default_codec;

// The code of a codec name (exact, case-sensitive); 0 for a name that is not in the table.
uint32_t codec_fourcc(const wxString& codec);

// Whether frames of this code can be recorded into AVI files here. HEVC cannot: AVI has no
// tag for it and the review pane cannot play it.
bool codec_fits_avi(uint32_t fourcc);
