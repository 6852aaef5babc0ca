#include "app/camera_marks.h"

#include "camera/camera_screen.h"
#include "journal/journal.h"
#include "platform/text.h"
#include "trip_format/trip_marks.h"

using platform::utf8;

namespace {

void mark_camera(const wxString& camera, const camera_screen& screen) {
    const std::optional<TrackPosition> position = screen.displayed_position();
    if (!position) {
        log_error(wxString::Format(utf8("Отметка не записана: камера %s не дала ни одного кадра"),
                                   camera));
        return;
    }
    const wxString text = position->expand(screen.subtitle_format());
    log_info(wxString::Format(utf8("Отметка: %s"), text));
    if (!trip_marks::append(platform::native_path(screen.trip_folder()), *position,
                            text.utf8_string()))
        log_error(
            wxString::Format(utf8("Не удается записать отметку в [%s]"), screen.trip_folder()));
}

} // namespace

void mark_cameras(const std::vector<camera_to_mark>& cameras) {
    if (cameras.empty()) {
        log_error(utf8("Отметка не записана: ни одна камера не открыта"));
        return;
    }
    for (const camera_to_mark& camera : cameras)
        mark_camera(camera.name, *camera.screen);
}
