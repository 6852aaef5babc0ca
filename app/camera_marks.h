#pragma once
// A mark at the current place of every open camera: one journal row per camera and one line in
// that camera's trip folder's marks.csv. GUI thread.

#include <vector>
#include <wx/string.h>

class camera_screen;

struct camera_to_mark {
    wxString name;
    const camera_screen* screen;
};

void mark_cameras(const std::vector<camera_to_mark>& cameras);
