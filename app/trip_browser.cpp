#include "app/trip_browser.h"

#include "app/frame_view.h"
#include "journal/journal.h"
#include "recording/index_csv_export.h"
#include "recording/track_place.h"
#include "recording/trip_folder.h"
#include "settings/settings_store.h"

#include <wx/button.h>
#include <wx/filefn.h>
#include <wx/listbox.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

namespace {

// PgUp and PgDn move by this much travel.
constexpr double page_metres = 100.0;

wxString utf8(const char* text) {
    return wxString::FromUTF8(text);
}

wxString utf8(const std::string& text) {
    return wxString::FromUTF8(text.c_str());
}

wxString place_text(int32_t km, double m) {
    return wxString::Format("%d+%.0f", km, m);
}

wxString trip_note(const trip_summary& trip) {
    if (trip.index_missing)
        return utf8("нет файла data.idx");
    if (trip.problem.empty())
        return {};
    const wxString detail = utf8(trip.problem);
    if (trip.frames == 0)
        return wxString::Format(utf8("data.idx не читается: %s"), detail);
    return wxString::Format(utf8("data.idx прочитан не весь: %s"), detail);
}

// What the subtitle shows for a recorded frame: the index keeps the numbers, not the texts of
// direction, track, distance and section, so those stay empty.
TrackPosition position_of(const index_record& record) {
    TrackPosition position(record.frame);
    position.abs = record.abs;
    position.km = record.km;
    position.m = record.m;
    position.dir.clear();
    position.way.clear();
    position.pch.clear();
    position.peregon.clear();
    return position;
}

} // namespace

trip_browser::trip_browser(wxWindow* parent, const wxConfigBase& config)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER),
      write_path(read_text(config, "write_path")), format_subs(read_text(config, "format_subs")) {
    // The recorder makes trip folders in the current folder when write_path is empty.
    if (write_path.empty())
        write_path = wxGetCwd();

    trip_rows = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxSize(-1, 150),
                               wxLC_REPORT | wxLC_SINGLE_SEL);
    const char* const columns[] = {"Поездка", "Камера", "Начало", "Кадров",
                                   "От",      "До",     "Файлов", "Примечание"};
    for (const char* column : columns)
        trip_rows->AppendColumn(utf8(column));
    trip_rows->Bind(wxEVT_LIST_ITEM_SELECTED, &trip_browser::on_trip_selected, this);

    auto* const lower = new wxBoxSizer(wxHORIZONTAL);
    lower->Add(build_picture_side(), 1, wxEXPAND);
    lower->Add(build_marks_side(), 0, wxEXPAND | wxLEFT, 5);

    auto* const sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(trip_rows, 0, wxEXPAND | wxALL, 2);
    sizer->Add(lower, 1, wxEXPAND | wxALL, 2);
    SetSizer(sizer);

    Bind(wxEVT_CHAR_HOOK, &trip_browser::on_char_hook, this);
    refresh_trips();
}

wxSizer* trip_browser::build_picture_side() {
    view = new frame_view(this);
    slider = new wxSlider(this, wxID_ANY, 0, 0, 1);
    slider->Bind(wxEVT_SLIDER, &trip_browser::on_slider, this);
    subtitle_line = new wxStaticText(this, wxID_ANY, wxString());
    note_line = new wxStaticText(this, wxID_ANY, wxString());
    note_line->SetForegroundColour(*wxRED);
    place = new wxTextCtrl(this, wxID_ANY, wxString(), wxDefaultPosition, wxDefaultSize,
                           wxTE_PROCESS_ENTER);
    place->SetHint(utf8("км+м или координата"));
    place->Bind(wxEVT_TEXT_ENTER, &trip_browser::on_place_entered, this);
    auto* const go = new wxButton(this, wxID_ANY, utf8("Перейти"));
    go->Bind(wxEVT_BUTTON, &trip_browser::on_place_entered, this);

    auto* const place_row = new wxBoxSizer(wxHORIZONTAL);
    place_row->Add(new wxStaticText(this, wxID_ANY, utf8("Место:")), 0,
                   wxALIGN_CENTER_VERTICAL | wxRIGHT, 5);
    place_row->Add(place, 1, wxALIGN_CENTER_VERTICAL);
    place_row->Add(go, 0, wxLEFT, 5);

    auto* const side = new wxBoxSizer(wxVERTICAL);
    side->Add(view, 1, wxEXPAND);
    side->Add(slider, 0, wxEXPAND | wxTOP, 2);
    side->Add(subtitle_line, 0, wxEXPAND | wxTOP, 2);
    side->Add(note_line, 0, wxEXPAND | wxTOP, 2);
    side->Add(place_row, 0, wxEXPAND | wxTOP, 2);
    return side;
}

wxSizer* trip_browser::build_marks_side() {
    mark_rows = new wxListBox(this, wxID_ANY, wxDefaultPosition, wxSize(260, -1));
    mark_rows->Bind(wxEVT_LISTBOX, &trip_browser::on_mark_chosen, this);
    export_button = new wxButton(this, wxID_ANY, utf8("Экспорт CSV"));
    export_button->Disable();
    export_button->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { export_csv(); });
    auto* const refresh = new wxButton(this, wxID_ANY, utf8("Обновить список"));
    refresh->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { refresh_trips(); });

    auto* const side = new wxBoxSizer(wxVERTICAL);
    side->Add(new wxStaticText(this, wxID_ANY, utf8("Отметки:")), 0);
    side->Add(mark_rows, 1, wxEXPAND | wxTOP, 2);
    side->Add(export_button, 0, wxEXPAND | wxTOP, 5);
    side->Add(refresh, 0, wxEXPAND | wxTOP, 2);
    return side;
}

void trip_browser::refresh_trips() {
    listed = trip_catalogue::list(native_path(write_path));
    trip_rows->DeleteAllItems();
    for (size_t row = 0; row < listed.size(); ++row)
        fill_trip_row(static_cast<long>(row), listed[row]);
    for (int column = 0; column < trip_rows->GetColumnCount(); ++column)
        trip_rows->SetColumnWidth(column, wxLIST_AUTOSIZE_USEHEADER);
}

void trip_browser::fill_trip_row(long row, const trip_summary& trip) {
    trip_rows->InsertItem(row, utf8(trip.folder.filename().string()));
    trip_rows->SetItem(row, 1, utf8(trip.camera));
    trip_rows->SetItem(row, 2, utf8(trip.started));
    trip_rows->SetItem(row, 3, wxString::Format("%zu", trip.frames));
    if (trip.frames > 0) {
        trip_rows->SetItem(row, 4, place_text(trip.first_km, trip.first_m));
        trip_rows->SetItem(row, 5, place_text(trip.last_km, trip.last_m));
    }
    trip_rows->SetItem(row, 6, wxString::Format("%zu", trip.files));
    const wxString note = trip_note(trip);
    trip_rows->SetItem(row, 7, note);
    if (!note.empty())
        trip_rows->SetItemTextColour(row, *wxRED);
}

void trip_browser::open_trip(size_t row) {
    if (row >= listed.size())
        return;
    open_row = row;
    const trip_summary& trip = listed[row];
    opened = trip_index::read(trip.folder / "data.idx");
    frames = std::make_unique<trip_frame_source>(trip.folder);
    trip_marks_list = trip_marks::read(trip.folder);
    fill_marks();
    current.reset();
    export_button->Enable(!opened.empty());
    if (opened.empty()) {
        slider->SetRange(0, 1);
        slider->SetValue(0);
        subtitle_line->SetLabel(wxString());
        show_note(trip_note(trip).empty() ? utf8("В поездке нет записанных кадров")
                                          : trip_note(trip));
        return;
    }
    slider->SetRange(0, std::max(1, static_cast<int>(opened.records().size()) - 1));
    show_record(0);
}

void trip_browser::fill_marks() {
    mark_rows->Clear();
    for (const trip_mark& mark : trip_marks_list)
        mark_rows->Append(wxString::Format("%s  %s", place_text(mark.km, mark.m), utf8(mark.text)));
}

void trip_browser::show_record(size_t record) {
    if (record >= opened.records().size())
        return;
    current = record;
    const index_record& frame = opened.records()[record];
    slider->SetValue(static_cast<int>(record));
    subtitle_line->SetLabel(position_of(frame).expand(format_subs));
    const std::string& file = opened.file_of(frame);
    try {
        view->show_picture(frames->read(file, frame.frame_in_file));
        note_line->SetLabel(wxString());
    } catch (const std::exception& failure) {
        show_note(wxString::Format(utf8("Кадр %d не показать: %s"), frame.frame,
                                   wxString::FromUTF8(failure.what())));
    }
}

void trip_browser::show_note(const wxString& text) {
    view->show_note(text);
    note_line->SetLabel(text);
}

bool trip_browser::go_to_place(const wxString& text) {
    const std::optional<track_place> wanted = track_place::parse(text.utf8_string());
    if (!wanted) {
        note_line->SetLabel(wxString::Format(utf8("Место не распознано: %s"), text));
        return false;
    }
    const std::optional<size_t> found = wanted->absolute
                                            ? opened.nearest_to_abs(wanted->abs)
                                            : opened.nearest_to_place(wanted->km, wanted->m);
    if (found)
        show_record(*found);
    return found.has_value();
}

bool trip_browser::handle_key(int key_code) {
    if (!current)
        return false;
    const size_t last = opened.records().size() - 1;
    switch (key_code) {
    case WXK_LEFT:
        show_record(*current == 0 ? 0 : *current - 1);
        return true;
    case WXK_RIGHT:
        show_record(std::min(last, *current + 1));
        return true;
    case WXK_PAGEUP:
        show_record(opened.step_by_distance(*current, -page_metres));
        return true;
    case WXK_PAGEDOWN:
        show_record(opened.step_by_distance(*current, page_metres));
        return true;
    case WXK_HOME:
        show_record(0);
        return true;
    case WXK_END:
        show_record(last);
        return true;
    default:
        return false;
    }
}

void trip_browser::go_to_mark(size_t row) {
    if (row >= trip_marks_list.size())
        return;
    if (const std::optional<size_t> found = opened.nearest_to_frame(trip_marks_list[row].frame))
        show_record(*found);
}

bool trip_browser::export_csv() {
    if (!open_row || opened.empty())
        return false;
    const std::filesystem::path target = listed[*open_row].folder / index_csv_export::file_name;
    const wxString shown = utf8(target.string());
    if (!index_csv_export::write(opened, target)) {
        log_error(wxString::Format(utf8("Не удается выгрузить индекс поездки в [%s]"), shown));
        return false;
    }
    log_info(wxString::Format(utf8("Индекс поездки выгружен: %s"), shown));
    return true;
}

wxString trip_browser::subtitle() const {
    return subtitle_line->GetLabel();
}

wxString trip_browser::note() const {
    return note_line->GetLabel();
}

void trip_browser::on_trip_selected(wxListEvent& event) {
    open_trip(static_cast<size_t>(event.GetIndex()));
}

void trip_browser::on_slider(wxCommandEvent&) {
    show_record(static_cast<size_t>(slider->GetValue()));
}

void trip_browser::on_place_entered(wxCommandEvent&) {
    go_to_place(place->GetValue());
}

void trip_browser::on_mark_chosen(wxCommandEvent& event) {
    if (event.GetSelection() >= 0)
        go_to_mark(static_cast<size_t>(event.GetSelection()));
}

void trip_browser::on_char_hook(wxKeyEvent& event) {
    // Typing a place keeps the text field's own keys.
    if (wxWindow::FindFocus() == place || !handle_key(event.GetKeyCode()))
        event.Skip();
}
