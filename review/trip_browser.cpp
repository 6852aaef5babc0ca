#include "review/trip_browser.h"

#include "archive/index_csv_export.h"
#include "archive/offload_log.h"
#include "archive/track_place.h"
#include "journal/journal.h"
#include "platform/text.h"
#include "review/frame_view.h"
#include "review/pane_snapshot.h"
#include "review/pane_worker.h"
#include "review/trip_picture_panel.h"
#include "settings/settings_store.h"
#include "trip_format/trip_files.h"

#include <algorithm>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/filefn.h>
#include <wx/fswatcher.h>
#include <wx/listbox.h>
#include <wx/listctrl.h>
#include <wx/log.h>
#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

using platform::utf8;

namespace {

// PgUp and PgDn move by this much travel.
constexpr double page_metres = 100.0;
// Earlier passes closer than this to the shown place are listed.
constexpr double earlier_pass_reach = 25.0;
// The shown place must rest this long before the earlier passes are looked up again.
constexpr int earlier_lookup_delay_ms = 300;
constexpr int fast_factor = 4;

bool same_pass(const pass_at_place& one, const pass_at_place& other) {
    return one.trip.folder == other.trip.folder && one.pass.number == other.pass.number;
}

wxString place_text(int32_t km, double m) {
    return wxString::Format("%d+%.0f", km, m);
}

wxString trip_note(const trip_index& index) {
    if (index.missing())
        return utf8("нет файла data.idx");
    if (index.problem().empty())
        return {};
    const wxString detail = utf8(index.problem());
    if (index.empty())
        return wxString::Format(utf8("data.idx не читается: %s"), detail);
    return wxString::Format(utf8("data.idx прочитан не весь: %s"), detail);
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

// "проверена 09.12.2026 01:58": when the trip's office copy was last read back whole.
wxString copy_text(const offload_entry& copy) {
    return wxDateTime(static_cast<time_t>(copy.verified_at))
        .Format(utf8("проверена %d.%m.%Y %H:%M"));
}

wxString direction_text(const trip_pass& pass) {
    const wxString sense = pass.sense > 0 ? utf8("↑") : pass.sense < 0 ? utf8("↓") : wxString();
    return (utf8(pass.dir) + " " + sense).Strip(wxString::both);
}

// The recorder makes trip folders in the current folder when write_path is empty.
std::filesystem::path recordings_root(const wxConfigBase& config) {
    const wxString write_path = read_text(config, "write_path");
    return platform::native_path(write_path.empty() ? wxGetCwd() : write_path);
}

const trip_index& no_index() {
    static const trip_index empty;
    return empty;
}

} // namespace

trip_browser::trip_browser(wxWindow* parent, const wxConfigBase& config)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER),
      root(recordings_root(config)), format_subs(read_text(config, "format_subs")) {

    trip_rows = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxSize(-1, 150),
                               wxLC_REPORT | wxLC_SINGLE_SEL);
    const char* const columns[] = {"Поездка", "Камера", "Начало",     "Кадров", "От",
                                   "До",      "Файлов", "Примечание", "Копия"};
    for (const char* column : columns)
        trip_rows->AppendColumn(utf8(column));
    trip_rows->Bind(wxEVT_LIST_ITEM_SELECTED, &trip_browser::on_trip_selected, this);

    auto* const lower = new wxBoxSizer(wxHORIZONTAL);
    lower->Add(build_picture_side(), 1, wxEXPAND);
    lower->Add(build_side_lists(), 0, wxEXPAND | wxLEFT, 5);

    auto* const sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(trip_rows, 0, wxEXPAND | wxALL, 2);
    sizer->Add(lower, 1, wxEXPAND | wxALL, 2);
    SetSizer(sizer);

    Bind(wxEVT_CHAR_HOOK, &trip_browser::on_char_hook, this);
    Bind(wxEVT_FSWATCHER, &trip_browser::on_folder_changed, this);
    // Owner-less timers deliver to themselves.
    play_timer.Bind(wxEVT_TIMER, &trip_browser::on_play_timer, this);
    then_timer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { ask_for_earlier_passes(); });
    worker = std::make_unique<pane_worker>(this);
    refresh_trips();
}

trip_browser::~trip_browser() {
    play_timer.Stop();
    then_timer.Stop();
    // A long catalogue build stops at the next trip; nothing of the worker reaches this window
    // from here on.
    closing = true;
    worker.reset();
}

wxSizer* trip_browser::build_picture_side() {
    lead = new trip_picture_panel(this, format_subs);
    paired = new trip_picture_panel(this, format_subs);
    earlier = new trip_picture_panel(this, format_subs);
    pictures = new wxBoxSizer(wxHORIZONTAL);
    pictures->Add(lead, 1, wxEXPAND);
    pictures->Add(paired, 1, wxEXPAND | wxLEFT, 4);
    pictures->Add(earlier, 1, wxEXPAND | wxLEFT, 4);
    pictures->Show(paired, false);
    pictures->Show(earlier, false);

    slider = new wxSlider(this, wxID_ANY, 0, 0, 1);
    slider->Bind(wxEVT_SLIDER, &trip_browser::on_slider, this);
    status_line = new wxStaticText(this, wxID_ANY, wxString());
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
    side->Add(pictures, 1, wxEXPAND);
    side->Add(slider, 0, wxEXPAND | wxTOP, 2);
    side->Add(status_line, 0, wxEXPAND | wxTOP, 2);
    side->Add(place_row, 0, wxEXPAND | wxTOP, 2);
    side->Add(build_playback_row(), 0, wxEXPAND | wxTOP, 2);
    return side;
}

wxSizer* trip_browser::build_playback_row() {
    auto* const back = new wxButton(this, wxID_ANY, utf8("◀ Назад"));
    back->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { play(-1); });
    auto* const pause = new wxButton(this, wxID_ANY, utf8("Пауза"));
    pause->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { stop(); });
    auto* const forward = new wxButton(this, wxID_ANY, utf8("Вперёд ▶"));
    forward->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { play(1); });
    four_times = new wxCheckBox(this, wxID_ANY, utf8("×4"));
    four_times->Bind(wxEVT_CHECKBOX,
                     [this](wxCommandEvent& event) { set_fast(event.IsChecked()); });
    snapshot_button = new wxButton(this, wxID_ANY, utf8("Снимок"));
    snapshot_button->Disable();
    snapshot_button->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { take_snapshot(); });

    auto* const row = new wxBoxSizer(wxHORIZONTAL);
    row->Add(back, 0);
    row->Add(pause, 0, wxLEFT, 2);
    row->Add(forward, 0, wxLEFT, 2);
    row->Add(four_times, 0, wxALIGN_CENTER_VERTICAL | wxLEFT, 8);
    row->AddStretchSpacer();
    row->Add(snapshot_button, 0, wxLEFT, 5);
    return row;
}

wxSizer* trip_browser::build_side_lists() {
    mark_rows = new wxListBox(this, wxID_ANY, wxDefaultPosition, wxSize(300, -1));
    mark_rows->Bind(wxEVT_LISTBOX, &trip_browser::on_mark_chosen, this);
    then_list = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxSize(300, -1),
                               wxLC_REPORT | wxLC_SINGLE_SEL);
    for (const char* column : {"Дата", "Камера", "Направление", "Путь"})
        then_list->AppendColumn(utf8(column));
    then_list->Bind(wxEVT_LIST_ITEM_SELECTED, &trip_browser::on_earlier_chosen, this);
    export_button = new wxButton(this, wxID_ANY, utf8("Экспорт CSV"));
    export_button->Disable();
    export_button->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { export_csv(); });
    auto* const refresh = new wxButton(this, wxID_ANY, utf8("Обновить список"));
    refresh->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { refresh_trips(); });

    auto* const side = new wxBoxSizer(wxVERTICAL);
    side->Add(new wxStaticText(this, wxID_ANY, utf8("Отметки:")), 0);
    side->Add(mark_rows, 1, wxEXPAND | wxTOP, 2);
    side->Add(new wxStaticText(this, wxID_ANY, utf8("Тогда и сейчас:")), 0, wxTOP, 5);
    side->Add(then_list, 1, wxEXPAND | wxTOP, 2);
    side->Add(export_button, 0, wxEXPAND | wxTOP, 5);
    side->Add(refresh, 0, wxEXPAND | wxTOP, 2);
    return side;
}

template <typename Result>
void trip_browser::in_background(std::function<Result()> read, std::function<void(Result)> apply) {
    ++pending_jobs;
    worker->run(
        [this, read = std::move(read), apply = std::move(apply)]() -> pane_worker::gui_step {
            try {
                auto result = std::make_shared<Result>(read());
                return [this, apply, result] {
                    --pending_jobs;
                    apply(std::move(*result));
                };
            } catch (const std::exception& failure) {
                const wxString why = wxString::Format(utf8("Каталог поездок не читается: %s"),
                                                      wxString::FromUTF8(failure.what()));
                return [this, why] {
                    --pending_jobs;
                    set_status(why);
                };
            }
        });
}

trip_catalogue& trip_browser::catalogue() {
    if (!worker_catalogue)
        worker_catalogue = std::make_unique<trip_catalogue>(root);
    return *worker_catalogue;
}

void trip_browser::refresh_trips() {
    // The first listing brings the catalogue up to the folders; the button rebuilds it whole.
    const bool rebuild = trips_listed_once;
    trips_listed_once = true;
    struct listing {
        std::vector<trip_summary> trips;
        std::string notice;
        std::map<std::string, offload_entry> copies;
    };
    in_background<listing>(
        [this, rebuild] {
            trip_catalogue& trips = catalogue();
            const auto go_on = [this] { return !closing; };
            if (rebuild)
                trips.rebuild(go_on);
            else
                trips.sync(go_on);
            return listing{trips.trips(), trips.notice(), offload_log(root).entries()};
        },
        [this](listing result) {
            copies = std::move(result.copies);
            show_trips(std::move(result.trips), std::move(result.notice));
        });
}

void trip_browser::show_trips(std::vector<trip_summary> trips, std::string notice) {
    if (!notice.empty() && !notice_told) {
        notice_told = true;
        log_error(utf8(notice));
    }
    const std::optional<std::filesystem::path> open_folder =
        open_row ? std::optional<std::filesystem::path>(listed[*open_row].folder) : std::nullopt;
    listed = std::move(trips);
    open_row.reset();
    trip_rows->DeleteAllItems();
    for (size_t row = 0; row < listed.size(); ++row) {
        fill_trip_row(static_cast<long>(row), listed[row]);
        if (open_folder && listed[row].folder == *open_folder)
            open_row = row;
    }
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
    const auto copy = copies.find(trip.folder.filename().string());
    if (copy != copies.end())
        trip_rows->SetItem(row, 8, copy_text(copy->second));
}

void trip_browser::open_trip(size_t row) {
    if (row >= listed.size())
        return;
    stop();
    open_row = row;
    const unsigned generation = ++open_generation;
    // Earlier passes still sought or loaded for the trip shown so far are of no use any more.
    ++then_generation;
    ++earlier_generation;
    const std::filesystem::path folder = listed[row].folder;
    set_status(utf8("Поездка читается…"), false);
    struct opened {
        std::shared_ptr<const loaded_trip> trip;
        std::shared_ptr<const loaded_trip> pair;
        wxString pairing_problem;
    };
    in_background<opened>(
        [this, folder] {
            opened result{loaded_trip::read(folder), nullptr, wxString()};
            // A catalogue that fails costs the other camera's picture, not the trip.
            try {
                if (const std::optional<trip_summary> other = catalogue().paired_trip(folder))
                    result.pair = loaded_trip::read(other->folder);
            } catch (const std::exception& failure) {
                result.pairing_problem = wxString::FromUTF8(failure.what());
            }
            return result;
        },
        [this, generation](opened result) {
            if (generation != open_generation)
                return;
            show_opened(std::move(result.trip), std::move(result.pair));
            if (!result.pairing_problem.empty())
                set_status(
                    wxString::Format(utf8("Вторая камера не найдена: %s"), result.pairing_problem));
        });
}

void trip_browser::show_opened(std::shared_ptr<const loaded_trip> trip,
                               std::shared_ptr<const loaded_trip> pair) {
    set_status(wxString(), false);
    trip_marks_list = trip->marks;
    fill_marks();
    then_rows.clear();
    then_row.reset();
    fill_earlier_rows();
    earlier->clear();
    earlier_pass.reset();
    watch_marks(trip->folder);
    const bool has_frames = !trip->index.empty();
    export_button->Enable(has_frames);
    snapshot_button->Enable(has_frames);
    slider->SetRange(0, std::max(1, static_cast<int>(trip->index.records().size()) - 1));
    slider->SetValue(0);
    const wxString problem = trip_note(trip->index);
    lead->set_trip(trip);
    if (!has_frames && !problem.empty())
        lead->show_note(problem);
    if (pair)
        paired->set_trip(std::move(pair));
    else
        paired->clear();
    show_pictures(paired->trip() != nullptr, false);
    if (has_frames)
        follow_lead();
}

void trip_browser::show_pictures(bool with_pair, bool with_earlier) {
    pictures->Show(paired, with_pair);
    pictures->Show(earlier, with_earlier);
    Layout();
}

void trip_browser::watch_marks(const std::filesystem::path& folder) {
    // Marks made while the trip records appear in the list as they are written.
    marks_watcher = std::make_unique<wxFileSystemWatcher>();
    marks_watcher->SetOwner(this);
    wxLogNull quiet; // a folder that cannot be watched only loses the live marks
    marks_watcher->Add(wxFileName::DirName(utf8(folder.string())),
                       wxFSW_EVENT_CREATE | wxFSW_EVENT_MODIFY);
}

void trip_browser::on_folder_changed(wxFileSystemWatcherEvent& event) {
    if (event.GetPath().GetFullName() == trip_files::marks)
        reload_marks();
}

void trip_browser::reload_marks() {
    if (!lead->trip())
        return;
    trip_marks_list = trip_marks::read(lead->trip()->folder);
    fill_marks();
}

void trip_browser::fill_marks() {
    mark_rows->Clear();
    for (const trip_mark& mark : trip_marks_list)
        mark_rows->Append(wxString::Format("%s  %s", place_text(mark.km, mark.m), utf8(mark.text)));
}

void trip_browser::show_lead(size_t record) {
    const std::shared_ptr<const loaded_trip>& trip = lead->trip();
    if (!trip || record >= trip->index.records().size())
        return;
    set_status(wxString(), false);
    slider->SetValue(static_cast<int>(record));
    lead->show_record(record);
    follow_lead();
    if (playing()) {
        anchor_time = clock::now();
        anchor_position = trip->timeline.position_of(record);
        schedule_next_frame(record);
    }
}

void trip_browser::follow_lead() {
    const std::shared_ptr<const loaded_trip>& trip = lead->trip();
    if (!trip || !lead->current_record())
        return;
    const size_t record = *lead->current_record();
    const double abs = trip->index.records()[record].abs;
    if (paired->trip())
        if (const auto found = paired->trip()->nearest_at_moment(abs, trip->seconds[record]))
            paired->show_record(*found);
    if (earlier->trip() && earlier_pass) {
        const trip_pass& pass = earlier_pass->pass;
        if (const auto found =
                earlier->trip()->nearest_between(abs, pass.first_record, pass.last_record))
            earlier->show_record(*found);
    }
    then_timer.StartOnce(earlier_lookup_delay_ms);
}

void trip_browser::ask_for_earlier_passes() {
    const std::shared_ptr<const loaded_trip> trip = lead->trip();
    if (!trip || !lead->current_record())
        return;
    const size_t record = *lead->current_record();
    const double abs = trip->index.records()[record].abs;
    const unsigned generation = ++then_generation;
    const std::filesystem::path folder = trip->folder;
    in_background<std::vector<pass_at_place>>(
        [this, folder, record, abs] {
            return catalogue().then_and_now(folder, record, abs, earlier_pass_reach);
        },
        [this, generation](std::vector<pass_at_place> rows) {
            if (generation != then_generation)
                return;
            // The chosen pass stays chosen while it still passes the shown place.
            std::optional<size_t> kept;
            if (then_row && *then_row < then_rows.size())
                for (size_t row = 0; row < rows.size(); ++row)
                    if (same_pass(rows[row], then_rows[*then_row]))
                        kept = row;
            then_rows = std::move(rows);
            then_row = kept;
            fill_earlier_rows();
        });
}

void trip_browser::fill_earlier_rows() {
    then_list->DeleteAllItems();
    for (size_t row = 0; row < then_rows.size(); ++row) {
        const pass_at_place& pass = then_rows[row];
        const auto item = static_cast<long>(row);
        then_list->InsertItem(item, utf8(pass.trip.started));
        then_list->SetItem(item, 1, utf8(pass.trip.camera));
        then_list->SetItem(item, 2, direction_text(pass.pass));
        then_list->SetItem(item, 3, utf8(pass.pass.way));
    }
    for (int column = 0; column < then_list->GetColumnCount(); ++column)
        then_list->SetColumnWidth(column, wxLIST_AUTOSIZE_USEHEADER);
    if (then_row)
        then_list->SetItemState(static_cast<long>(*then_row), wxLIST_STATE_SELECTED,
                                wxLIST_STATE_SELECTED);
}

void trip_browser::choose_earlier_pass(size_t row) {
    if (row >= then_rows.size())
        return;
    then_row = row;
    const pass_at_place chosen = then_rows[row];
    const unsigned generation = ++earlier_generation;
    // The pass already shown needs no reading; one still loading is superseded all the same.
    if (earlier->trip() && earlier_pass && same_pass(*earlier_pass, chosen))
        return;
    in_background<std::shared_ptr<const loaded_trip>>(
        [folder = chosen.trip.folder] { return loaded_trip::read(folder); },
        [this, generation, chosen](std::shared_ptr<const loaded_trip> trip) {
            if (generation == earlier_generation)
                show_earlier(std::move(trip), chosen);
        });
}

void trip_browser::show_earlier(std::shared_ptr<const loaded_trip> trip,
                                const pass_at_place& pass) {
    earlier->set_trip(std::move(trip));
    earlier_pass = pass;
    earlier->show_record(pass.record);
    show_pictures(paired->trip() != nullptr, true);
    follow_lead();
}

void trip_browser::set_status(const wxString& text, bool problem) {
    status_line->SetForegroundColour(problem ? *wxRED : GetForegroundColour());
    status_line->SetLabel(text);
}

bool trip_browser::go_to_place(const wxString& text) {
    const std::optional<track_place> wanted = track_place::parse(text.utf8_string());
    if (!wanted) {
        set_status(wxString::Format(utf8("Место не распознано: %s"), text));
        return false;
    }
    const trip_index& opened = index();
    const std::optional<size_t> found = wanted->absolute
                                            ? opened.nearest_to_abs(wanted->abs)
                                            : opened.nearest_to_place(wanted->km, wanted->m);
    if (found)
        show_lead(*found);
    return found.has_value();
}

bool trip_browser::handle_key(int key_code) {
    const std::optional<size_t> shown = current_record();
    if (!shown)
        return false;
    const trip_index& opened = index();
    const size_t last = opened.records().size() - 1;
    switch (key_code) {
    case WXK_SPACE:
        if (playing())
            stop();
        else
            play(1);
        return true;
    case WXK_LEFT:
        show_lead(*shown == 0 ? 0 : *shown - 1);
        return true;
    case WXK_RIGHT:
        show_lead(std::min(last, *shown + 1));
        return true;
    case WXK_PAGEUP:
        show_lead(opened.step_by_distance(*shown, -page_metres));
        return true;
    case WXK_PAGEDOWN:
        show_lead(opened.step_by_distance(*shown, page_metres));
        return true;
    case WXK_HOME:
        show_lead(0);
        return true;
    case WXK_END:
        show_lead(last);
        return true;
    default:
        return false;
    }
}

void trip_browser::go_to_mark(size_t row) {
    if (row >= trip_marks_list.size())
        return;
    if (const std::optional<size_t> found = index().nearest_to_frame(trip_marks_list[row].frame))
        show_lead(*found);
}

bool trip_browser::export_csv() {
    if (!lead->trip() || lead->trip()->index.empty())
        return false;
    const std::filesystem::path target = lead->trip()->folder / index_csv_export::file_name;
    const wxString shown = utf8(target.string());
    if (!index_csv_export::write(lead->trip()->index, target)) {
        log_error(wxString::Format(utf8("Не удается выгрузить индекс поездки в [%s]"), shown));
        return false;
    }
    log_info(wxString::Format(utf8("Индекс поездки выгружен: %s"), shown));
    return true;
}

void trip_browser::play(int direction) {
    const std::optional<size_t> shown = current_record();
    if (!shown || direction == 0)
        return;
    play_direction = direction > 0 ? 1 : -1;
    anchor_time = clock::now();
    anchor_position = lead->trip()->timeline.position_of(*shown);
    schedule_next_frame(*shown);
}

void trip_browser::stop() {
    play_direction = 0;
    play_timer.Stop();
}

void trip_browser::set_fast(bool four_times_pace) {
    if (fast == four_times_pace)
        return;
    // The pace changes from the frame shown now.
    if (playing()) {
        anchor_position = play_position();
        anchor_time = clock::now();
    }
    fast = four_times_pace;
    four_times->SetValue(fast);
    if (playing())
        schedule_next_frame(*current_record());
}

void trip_browser::schedule_next_frame(size_t shown) {
    const playback_timeline& timeline = lead->trip()->timeline;
    const bool at_end = play_direction > 0 ? shown + 1 >= timeline.size() : shown == 0;
    if (at_end) {
        stop();
        return;
    }
    const int64_t now = play_position();
    // Forward: when the next record is due; back: when this one's time is passed.
    const int64_t due = play_direction > 0 ? timeline.position_of(shown + 1) - now
                                           : now - timeline.position_of(shown) + 1;
    play_timer.StartOnce(static_cast<int>(std::max<int64_t>(1, due / (fast ? fast_factor : 1))));
}

int64_t trip_browser::play_position() const {
    const int64_t elapsed_ms = (clock::now() - anchor_time) / std::chrono::milliseconds(1);
    return anchor_position + play_direction * elapsed_ms * (fast ? fast_factor : 1);
}

void trip_browser::on_play_timer(wxTimerEvent&) {
    if (!playing() || !lead->trip())
        return;
    const int64_t position = play_position();
    // Late frames are skipped: playback keeps the recorded pace, not every picture.
    size_t record = lead->trip()->timeline.record_at(position);
    if (play_direction < 0 && position < 0)
        record = 0;
    slider->SetValue(static_cast<int>(record));
    lead->show_record(record);
    follow_lead();
    schedule_next_frame(record);
}

std::filesystem::path trip_browser::take_snapshot() {
    std::vector<snapshot_picture> shown;
    for (const trip_picture_panel* panel : {lead, paired, earlier})
        if (panel->IsShown() && panel->trip())
            shown.push_back({panel->picture().full_picture(), panel->caption(), panel->subtitle(),
                             panel->note()});
    if (shown.empty())
        return {};
    const std::filesystem::path folder = root / "snapshots";
    wxString place_name;
    if (const std::optional<size_t> record = current_record()) {
        const index_record& frame = index().records()[*record];
        place_name = place_text(frame.km, frame.m);
    }
    const std::filesystem::path saved = pane_snapshot::save(shown, folder, place_name);
    if (saved.empty())
        log_error(
            wxString::Format(utf8("Не удается сохранить снимок в [%s]"), utf8(folder.string())));
    else
        log_info(wxString::Format(utf8("Снимок: %s"), utf8(saved.string())));
    return saved;
}

const trip_index& trip_browser::index() const {
    return lead->trip() ? lead->trip()->index : no_index();
}

std::set<std::string> trip_browser::trips_shown() const {
    std::set<std::string> shown;
    if (open_row && *open_row < listed.size())
        shown.insert(trip_folder_name_of(listed[*open_row].folder));
    for (const trip_picture_panel* const panel : {lead, paired, earlier})
        if (panel != nullptr && panel->trip())
            shown.insert(trip_folder_name_of(panel->trip()->folder));
    return shown;
}

std::optional<size_t> trip_browser::current_record() const {
    return lead->current_record();
}

const frame_view& trip_browser::picture() const {
    return lead->picture();
}

bool trip_browser::paired_shown() const {
    return paired->IsShown() && paired->trip() != nullptr;
}

bool trip_browser::earlier_shown() const {
    return earlier->IsShown() && earlier->trip() != nullptr;
}

wxString trip_browser::subtitle() const {
    return lead->subtitle();
}

wxString trip_browser::note() const {
    const wxString status = status_line->GetLabel();
    return status.empty() ? lead->note() : status;
}

void trip_browser::on_trip_selected(wxListEvent& event) {
    open_trip(static_cast<size_t>(event.GetIndex()));
}

void trip_browser::on_earlier_chosen(wxListEvent& event) {
    choose_earlier_pass(static_cast<size_t>(event.GetIndex()));
}

void trip_browser::on_slider(wxCommandEvent&) {
    show_lead(static_cast<size_t>(slider->GetValue()));
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
