#pragma once
// The pane "Поездки": the trips recorded under write_path, and the frames of the chosen trip
// with a slider, the subtitle line, a place field ("126+740", "126 740" or an absolute
// coordinate), the trip's marks and an export of its index.

#include "app/trip_frame_source.h"
#include "recording/trip_catalogue.h"
#include "recording/trip_index.h"
#include "recording/trip_marks.h"

#include <memory>
#include <optional>
#include <vector>
#include <wx/config.h>
#include <wx/panel.h>

class frame_view;
class wxButton;
class wxListBox;
class wxListCtrl;
class wxListEvent;
class wxSlider;
class wxStaticText;
class wxTextCtrl;

class trip_browser : public wxPanel {
public:
    // Reads write_path and format_subs now; lists the trips.
    trip_browser(wxWindow* parent, const wxConfigBase& config);

    // Reads the trip folders again.
    void refresh_trips();
    // Opens the trip at that row of the list (newest first).
    void open_trip(size_t row);
    // Shows the nearest recorded frame to the typed place; false (and a note) when the text is
    // no place.
    bool go_to_place(const wxString& text);
    // The browser's keys: Left/Right one frame, PgUp/PgDn 100 m, Home/End; false for others.
    bool handle_key(int key_code);
    // Shows the frame of the mark at that row of the marks list.
    void go_to_mark(size_t row);
    // Writes data.csv beside data.idx and journals the outcome.
    bool export_csv();

    const std::vector<trip_summary>& trips() const { return listed; }
    const trip_index& index() const { return opened; }
    const std::vector<trip_mark>& marks() const { return trip_marks_list; }
    std::optional<size_t> current_record() const { return current; }
    const frame_view& picture() const { return *view; }
    wxString subtitle() const;
    wxString note() const;
    wxListCtrl* trip_list() const { return trip_rows; }
    wxTextCtrl* place_field() const { return place; }
    wxListBox* mark_list() const { return mark_rows; }
    wxButton* export_button_control() const { return export_button; }

private:
    wxSizer* build_picture_side();
    wxSizer* build_marks_side();
    void show_record(size_t record);
    void show_note(const wxString& text);
    void fill_trip_row(long row, const trip_summary& trip);
    void fill_marks();

    void on_trip_selected(wxListEvent& event);
    void on_slider(wxCommandEvent& event);
    void on_place_entered(wxCommandEvent& event);
    void on_mark_chosen(wxCommandEvent& event);
    void on_char_hook(wxKeyEvent& event);

    wxString write_path;
    wxString format_subs;
    std::vector<trip_summary> listed;
    std::optional<size_t> open_row;
    trip_index opened;
    std::unique_ptr<trip_frame_source> frames;
    std::vector<trip_mark> trip_marks_list;
    std::optional<size_t> current;

    wxListCtrl* trip_rows = nullptr;
    frame_view* view = nullptr;
    wxSlider* slider = nullptr;
    wxStaticText* subtitle_line = nullptr;
    wxStaticText* note_line = nullptr;
    wxTextCtrl* place = nullptr;
    wxListBox* mark_rows = nullptr;
    wxButton* export_button = nullptr;
};
