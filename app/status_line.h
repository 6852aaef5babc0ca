#pragma once
// The text of the main window's recording status field: per open camera its name, its place
// and its written frames (or what is wrong instead), then the free space of the recording
// disk and how long it lasts. Free of windows; the main window refreshes it once a second.

#include "camera/camera_progress.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>
#include <wx/string.h>

struct camera_line {
    wxString name;
    camera_progress progress;
};

// No picture for this long: the camera counts as silent.
constexpr std::chrono::seconds frames_missing_after{3};
// No fix for this long: the coordinates count as missing.
constexpr std::chrono::seconds fix_missing_after{5};

// "Котел 126+740 · 12 345", or "Котел нет кадров · 12 345" and the like.
wxString camera_status_text(const camera_line& camera, camera_progress::clock::time_point now);

// "41,2 ГБ", "850 МБ": binary units, a decimal comma.
wxString free_space_text(std::uintmax_t bytes);
// "5 ч 10 мин", "42 мин".
wxString duration_text(std::chrono::seconds left);
// "12 345": thousands set apart by spaces.
wxString grouped_number(int64_t number);

// The whole field: the cameras, then "Свободно 41,2 ГБ ≈ 5 ч 10 мин" (without the forecast
// while there is none; without either when the disk cannot be asked).
wxString status_line_text(const std::vector<camera_line>& cameras,
                          camera_progress::clock::time_point now,
                          std::optional<std::uintmax_t> free_bytes,
                          std::optional<std::chrono::seconds> time_left);
