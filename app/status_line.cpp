#include "app/status_line.h"

#include "platform/text.h"

#include <cstdlib>

using platform::utf8;

namespace {

bool missing_since(const std::optional<camera_progress::clock::time_point>& last,
                   camera_progress::clock::time_point opened,
                   camera_progress::clock::time_point now, std::chrono::seconds limit) {
    return now - last.value_or(opened) >= limit;
}

// The place, or what stands in for it.
wxString camera_state_text(const camera_progress& progress,
                           camera_progress::clock::time_point now) {
    if (progress.recording_stopped)
        return utf8("запись остановлена");
    if (missing_since(progress.last_frame, progress.opened, now, frames_missing_after))
        return utf8("нет кадров");
    if (missing_since(progress.last_fix, progress.opened, now, fix_missing_after))
        return utf8("нет координат");
    if (!progress.last_fix)
        return "...";
    return wxString::Format("%d+%.0f", progress.km, progress.m);
}

} // namespace

wxString camera_status_text(const camera_line& camera, camera_progress::clock::time_point now) {
    return camera.name + " " + camera_state_text(camera.progress, now) + utf8(" · ") +
           grouped_number(camera.progress.written);
}

wxString free_space_text(std::uintmax_t bytes) {
    constexpr double mebibyte = 1024.0 * 1024.0;
    constexpr double gibibyte = 1024.0 * mebibyte;
    const auto value = static_cast<double>(bytes);
    // The numeric locale stays "C": the decimal comma is put in by hand.
    wxString text = value >= gibibyte ? wxString::Format(utf8("%.1f ГБ"), value / gibibyte)
                                      : wxString::Format(utf8("%.0f МБ"), value / mebibyte);
    text.Replace(".", ",");
    return text;
}

wxString duration_text(std::chrono::seconds left) {
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(left).count();
    if (minutes < 60)
        return wxString::Format(utf8("%lld мин"), static_cast<long long>(minutes));
    return wxString::Format(utf8("%lld ч %lld мин"), static_cast<long long>(minutes / 60),
                            static_cast<long long>(minutes % 60));
}

wxString grouped_number(int64_t number) {
    const wxString digits = wxString::Format("%lld", static_cast<long long>(std::llabs(number)));
    wxString grouped;
    for (size_t i = 0; i < digits.length(); ++i) {
        if (i > 0 && (digits.length() - i) % 3 == 0)
            grouped += ' ';
        grouped += digits[i];
    }
    return number < 0 ? "-" + grouped : grouped;
}

wxString status_line_text(const std::vector<camera_line>& cameras,
                          camera_progress::clock::time_point now,
                          std::optional<std::uintmax_t> free_bytes,
                          std::optional<std::chrono::seconds> time_left) {
    wxString text;
    for (const camera_line& camera : cameras) {
        if (!text.empty())
            text += "   ";
        text += camera_status_text(camera, now);
    }
    if (!free_bytes)
        return text;
    if (!text.empty())
        text += "   ";
    text += utf8("Свободно ") + free_space_text(*free_bytes);
    if (time_left)
        text += utf8(" ≈ ") + duration_text(*time_left);
    return text;
}
