#pragma once
// One picture of the trip pane: a caption naming the trip, camera and frame time, the recorded
// frame fitted into the panel, the frame's subtitle line and a red note when the frame cannot
// be shown. The trip pane shows one per camera of a run and one for an earlier trip.

#include "review/loaded_trip.h"
#include "review/trip_frame_source.h"

#include <memory>
#include <optional>
#include <wx/panel.h>

class frame_view;
class wxStaticText;

class trip_picture_panel : public wxPanel {
public:
    trip_picture_panel(wxWindow* parent, const wxString& format_subs);

    // Shows the trip's first record (or a note when it has none).
    void set_trip(std::shared_ptr<const loaded_trip> trip);
    // Forgets the trip and shows nothing.
    void clear();
    // Shows one record of the trip; out of range does nothing.
    void show_record(size_t record);

    const std::shared_ptr<const loaded_trip>& trip() const { return shown_trip; }
    std::optional<size_t> current_record() const { return current; }
    const frame_view& picture() const { return *view; }
    wxString caption() const;
    wxString subtitle() const;
    wxString note() const;
    // Shows a note in place of the picture, e.g. why the trip could not be read.
    void show_note(const wxString& text);

private:
    wxString caption_of(size_t record) const;

    wxString format_subs;
    std::shared_ptr<const loaded_trip> shown_trip;
    std::unique_ptr<trip_frame_source> frames;
    std::optional<size_t> current;

    wxStaticText* caption_line = nullptr;
    frame_view* view = nullptr;
    wxStaticText* subtitle_line = nullptr;
    wxStaticText* note_line = nullptr;
};
