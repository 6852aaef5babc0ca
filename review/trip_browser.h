#pragma once
// The pane "Поездки": the trips recorded under write_path, and the frames of the chosen trip
// beside the same place seen by the run's other camera, with a slider, a place field ("126+740",
// "126 740" or an absolute coordinate), playback, the trip's marks, the earlier passes over the
// shown place ("then and now"), snapshots and an export of the index. Indexes and the catalogue
// are read on the pane's worker thread; the GUI thread only shows what it hands back.

#include "archive/offload_log.h"
#include "archive/trip_catalogue.h"
#include "review/loaded_trip.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>
#include <wx/config.h>
#include <wx/fswatcher.h>
#include <wx/panel.h>
#include <wx/timer.h>

class pane_worker;
class trip_picture_panel;
class frame_view;
class wxButton;
class wxCheckBox;
class wxListBox;
class wxListCtrl;
class wxListEvent;
class wxSlider;
class wxStaticText;
class wxTextCtrl;

class trip_browser : public wxPanel {
public:
    // Reads write_path and format_subs now; lists the trips in the background.
    trip_browser(wxWindow* parent, const wxConfigBase& config);
    ~trip_browser() override;

    // Reads the trip folders again, rebuilding the catalogue (in the background).
    void refresh_trips();
    // Opens the trip at that row of the list (newest first), with its paired trip (background).
    void open_trip(size_t row);
    // True while something asked of the worker has not been shown yet.
    bool busy() const { return pending_jobs > 0; }

    // Shows the nearest recorded frame to the typed place; false (and a note) when the text is
    // no place.
    bool go_to_place(const wxString& text);
    // The browser's keys: Left/Right one frame, PgUp/PgDn 100 m, Home/End, Space to start and
    // stop playback; false for others.
    bool handle_key(int key_code);
    // Shows the frame of the mark at that row of the marks list.
    void go_to_mark(size_t row);
    // Writes data.csv beside data.idx and journals the outcome.
    bool export_csv();

    // Playback at the recorded pace: +1 forward, -1 back; stop() pauses.
    void play(int direction);
    void stop();
    bool playing() const { return play_direction != 0; }
    void set_fast(bool four_times);
    // Saves what the pane shows as PNG under write_path/snapshots and journals the file.
    std::filesystem::path take_snapshot();
    // Shows the nearest frame of the pass at that row of the "then and now" list.
    void choose_earlier_pass(size_t row);

    // The folder names of the trips the pane shows: the one opened, its pair and an earlier
    // pass. Whoever deletes trips to free the disk leaves them alone while they are shown.
    std::set<std::string> trips_shown() const;

    const std::vector<trip_summary>& trips() const { return listed; }
    const trip_index& index() const;
    const std::vector<trip_mark>& marks() const { return trip_marks_list; }
    std::optional<size_t> current_record() const;
    const frame_view& picture() const;
    wxString subtitle() const;
    wxString note() const;
    const trip_picture_panel& lead_picture() const { return *lead; }
    const trip_picture_panel& paired_picture() const { return *paired; }
    const trip_picture_panel& earlier_picture() const { return *earlier; }
    bool paired_shown() const;
    bool earlier_shown() const;
    const std::vector<pass_at_place>& earlier_passes() const { return then_rows; }
    wxListCtrl* trip_list() const { return trip_rows; }
    wxTextCtrl* place_field() const { return place; }
    wxListBox* mark_list() const { return mark_rows; }
    wxListCtrl* earlier_list() const { return then_list; }
    wxButton* export_button_control() const { return export_button; }
    wxButton* snapshot_button_control() const { return snapshot_button; }

private:
    wxSizer* build_picture_side();
    wxSizer* build_playback_row();
    wxSizer* build_side_lists();
    void fill_trip_row(long row, const trip_summary& trip);
    void fill_marks();
    void fill_earlier_rows();

    // Work for the worker; `apply` runs on the GUI thread with what `read` gave, or a note of
    // why it failed.
    template <typename Result>
    void in_background(std::function<Result()> read, std::function<void(Result)> apply);
    trip_catalogue& catalogue();
    void show_trips(std::vector<trip_summary> trips, std::string notice);
    void show_opened(std::shared_ptr<const loaded_trip> trip,
                     std::shared_ptr<const loaded_trip> pair);
    void watch_marks(const std::filesystem::path& folder);
    void reload_marks();

    // Shows a record of the lead trip and the same place on the other pictures.
    void show_lead(size_t record);
    void follow_lead();
    void ask_for_earlier_passes();
    void show_earlier(std::shared_ptr<const loaded_trip> trip, const pass_at_place& pass);
    void show_pictures(bool with_pair, bool with_earlier);
    // A line under the pictures: red for a problem, plain for what is under way.
    void set_status(const wxString& text, bool problem = true);

    void schedule_next_frame(size_t shown);
    // Where playback stands now in the lead trip's timeline, milliseconds.
    int64_t play_position() const;
    void on_play_timer(wxTimerEvent& event);
    void on_trip_selected(wxListEvent& event);
    void on_earlier_chosen(wxListEvent& event);
    void on_slider(wxCommandEvent& event);
    void on_place_entered(wxCommandEvent& event);
    void on_mark_chosen(wxCommandEvent& event);
    void on_char_hook(wxKeyEvent& event);
    void on_folder_changed(wxFileSystemWatcherEvent& event);

    // write_path; read by the worker too, so never changed after construction.
    const std::filesystem::path root;
    wxString format_subs;
    std::vector<trip_summary> listed;
    std::optional<size_t> open_row;
    std::vector<trip_mark> trip_marks_list;
    std::vector<pass_at_place> then_rows;
    std::optional<size_t> then_row;
    // The pass the earlier picture shows; it may lag behind then_row while its trip loads.
    std::optional<pass_at_place> earlier_pass;
    // A later request supersedes an earlier one of its kind still on the worker: a trip opened,
    // the passes looked up for a place, an earlier pass loaded. The kinds never cancel each
    // other, except that a trip opened cancels everything.
    unsigned open_generation = 0;
    unsigned then_generation = 0;
    unsigned earlier_generation = 0;
    int pending_jobs = 0;
    bool notice_told = false;
    bool trips_listed_once = false;

    // Playback: the lead trip's position in its timeline at a moment of the wall clock.
    using clock = std::chrono::steady_clock;
    int play_direction = 0;
    bool fast = false;
    clock::time_point anchor_time;
    int64_t anchor_position = 0;
    wxTimer play_timer;
    // Asks for the earlier passes once the shown place has stayed put for a moment.
    wxTimer then_timer;

    // Set by the GUI thread when the pane goes; read by the worker between two trips.
    std::atomic<bool> closing{false};
    // Used only by jobs on the worker thread (one connection per thread); outlives the worker.
    std::unique_ptr<trip_catalogue> worker_catalogue;
    std::unique_ptr<pane_worker> worker;
    std::unique_ptr<wxFileSystemWatcher> marks_watcher;

    wxListCtrl* trip_rows = nullptr;
    // The listed trips' verified office copies, by folder name (GUI thread).
    std::map<std::string, offload_entry> copies;
    wxSizer* pictures = nullptr;
    trip_picture_panel* lead = nullptr;
    trip_picture_panel* paired = nullptr;
    trip_picture_panel* earlier = nullptr;
    wxSlider* slider = nullptr;
    wxStaticText* status_line = nullptr;
    wxTextCtrl* place = nullptr;
    wxCheckBox* four_times = nullptr;
    wxListBox* mark_rows = nullptr;
    wxListCtrl* then_list = nullptr;
    wxButton* export_button = nullptr;
    wxButton* snapshot_button = nullptr;
};
