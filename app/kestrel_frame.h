#pragma once
// The main window. Its constructor is the program's start-up sequence (menus, journal, settings
// store, status bar, start rows), its destructor the shutdown sequence.

#include "app/trip_repair_worker.h"
#include "archive/retention_keeper.h"
#include "platform/termination_signals.h"
#include "position/coord_client.h"
#include "recording/disk_forecast.h"
#include "settings/settings_file_store.h"

#include <chrono>
#include <memory>
#include <optional>
#include <vector>
#include <wx/aui/framemanager.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/timer.h>

class camera_screen;
class catalogue_keeper;
class dpp_stop_handle;
class log_viewer;
class wxThreadEvent;

// Menu command ids.
enum : int {
    ID_BOILER_CAMERA = 1,
    ID_DIESEL_CAMERA = 2,
    ID_COORDINATE_SERVER = 3,
    ID_VIEW = 4,
    ID_SETTINGS = 5,
    ID_EXIT = 6,
    ID_TRIPS = 7,
    ID_MARK = 8,
};

// The program's version as the journal shows it.
extern const char kestrel_version[];

class kestrel_frame : public wxFrame {
public:
    // Throws std::runtime_error when the journal folder cannot be made.
    kestrel_frame(const wxString& title, const wxPoint& position, const wxSize& size);
    ~kestrel_frame() override;

    log_viewer* journal_view() const { return journal; }
    wxConfigBase* settings() const { return config.get(); }
    const wxFileName& journal_file() const { return log_file; }
    const wxFileName& settings_file() const { return config_file; }
    wxAuiManager& panes() { return aui_manager; }

    // (Re)connects the coordinate server named by the settings and journals the outcome.
    void check_coordinate_server();
    // Opens a recorded file in a floating player pane.
    void open_review_pane(const wxString& path);
    // Opens the trip browser pane, or brings the open one to the front.
    void show_trip_browser();
    // Opens the cameras named on the command line as their menu items do; a name it does not
    // know gets a red row.
    void open_cameras(const std::vector<wxString>& names);
    // The same once the window manager has shown, placed and maximised this window (at most a
    // few seconds after start), so that the panes land below its menu bar where it ends up.
    void open_cameras_when_placed(const std::vector<wxString>& names);

private:
    void on_boiler_camera(wxCommandEvent& event);
    void on_diesel_camera(wxCommandEvent& event);
    void on_coordinate_server(wxCommandEvent& event);
    void on_view(wxCommandEvent& event);
    void on_trips(wxCommandEvent& event);
    void on_mark(wxCommandEvent& event);
    void on_settings(wxCommandEvent& event);
    void on_exit(wxCommandEvent& event);
    void on_dpp_value(wxThreadEvent& event);
    void on_dpp_error(wxThreadEvent& event);
    void on_trip_repair_row(wxThreadEvent& event);
    void on_end_session(wxCloseEvent& event);
    // A request from the system to end the program: closes it as "Выход" does.
    void close_on_request();

    void open_camera(const wxString& camera_name);
    void close_camera_panes();
    std::vector<camera_screen*> camera_screens();
    wxPoint next_camera_position();
    void build_menus();
    void prepare_journal_folder();
    void open_journal();
    void open_settings();
    void write_start_rows();

    // The status line's second field, once a second: the cameras and the recording disk.
    void on_status_timer(wxTimerEvent& event);
    void on_placement_timer(wxTimerEvent& event);
    void refresh_status_line();
    // The folder whose disk the cameras record on: the open cameras', else the settings'.
    wxString recording_folder();
    void journal_disk_warning(disk_forecast::warning warning, const wxString& folder);
    // Offloaded trips deleted for room at write_path, off the GUI thread; its rows journaled.
    void start_retention();
    void journal_retention();

    wxAuiManager aui_manager;
    wxFileName log_file;
    log_viewer* journal = nullptr; // a child window, owned by the toolkit
    wxFileName config_file;
    std::unique_ptr<settings_file_store> config;
    // Stops the path-sensor reader, whether it still runs or has already ended.
    std::shared_ptr<dpp_stop_handle> dpp;
    // The one coordinate-server connection, shared by every camera screen.
    ::coord_client coord_client;
    // The system's requests to end the program (machine shutting down, Ctrl+C, terminal gone).
    std::unique_ptr<platform::termination_signals> termination;
    wxTimer status_timer;
    disk_forecast forecast;
    std::unique_ptr<retention_keeper> retention;
    std::unique_ptr<trip_repair_worker> trip_repair;
    // Keeps the catalogue of write_path up to the trip folders; its thread ends with the
    // window, once the trips of the camera panes are in.
    std::unique_ptr<catalogue_keeper> keeper;
    // --open's cameras wait for the window to settle: where its client area was at the last
    // look, and until when they wait at most.
    std::vector<wxString> cameras_waiting;
    wxTimer placement_timer;
    wxPoint client_origin_seen{-1, -1};
    std::chrono::steady_clock::time_point placement_deadline;

    wxDECLARE_EVENT_TABLE();
};
