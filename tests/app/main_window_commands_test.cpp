// The main window's commands and position sources driven as the operator drives them: menu
// commands sent to the real window, the real simulators and test cameras, the journal file and
// the settings file read back from disk.

#include "app/kestrel.h"
#include "app/kestrel_frame.h"
#include "camera/camera_screen.h"
#include "journal/log_viewer.h"
#include "settings/config_dialog.h"
#include "settings/settings_store.h"
#include "tests/app/app_test_support.h"
#include "tests/support/gui_test.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/mediactrl.h>
#include <wx/menu.h>
#include <wx/propgrid/propgrid.h>
#include <wx/statusbr.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using app_test::journal_row;
using app_test::utf8;
using test_support::pump_events_until;

namespace {

const int start_rows = 4;

class main_window_commands : public testing::Test {
protected:
    void TearDown() override { close_main_window(); }

    // Writes the settings, with a path-sensor port that does not exist, and builds the window.
    kestrel_frame& start(std::vector<std::pair<std::string, std::string>> values) {
        values.emplace_back("dpp_port", "/dev/kestrel-test-no-such-port");
        app_test::write_settings(home.path(), values);
        return start_as_it_is();
    }

    kestrel_frame& start_as_it_is() {
        frame = start_main_window();
        if (frame == nullptr)
            throw std::runtime_error("the main window did not start");
        journal_file = frame->journal_file().GetFullPath().utf8_string();
        test_support::pump_pending_events();
        return *frame;
    }

    void close_main_window() {
        if (frame != nullptr)
            test_support::destroy_window(frame);
        frame = nullptr;
    }

    std::vector<journal_row> rows() const { return app_test::journal_rows(journal_file); }
    std::vector<journal_row> rows_starting(const char* prefix) const {
        return app_test::rows_starting(rows(), utf8(prefix));
    }
    bool has_row_starting(const char* prefix) const { return !rows_starting(prefix).empty(); }

    wxString status_text() const { return frame->GetStatusBar()->GetStatusText(0); }

    test_support::temporary_home home;
    kestrel_frame* frame = nullptr;
    std::string journal_file;
};

// Lets every modal dialog show and then does the action to it from inside its modal loop, as
// the operator's click would.
class dialog_operator : public wxModalDialogHook {
public:
    explicit dialog_operator(std::function<void(wxDialog&)> action) : action(std::move(action)) {
        Register();
    }
    ~dialog_operator() override { Unregister(); }

    const std::vector<wxString>& titles() const { return seen; }
    bool was_settings_dialog() const { return settings_dialogs == 1 && seen.size() == 1; }

protected:
    int Enter(wxDialog* dialog) override {
        seen.push_back(dialog->GetTitle());
        if (dynamic_cast<config_dialog*>(dialog) != nullptr)
            ++settings_dialogs;
        dialog->CallAfter([this, dialog] { action(*dialog); });
        return wxID_NONE;
    }
    void Exit(wxDialog*) override {}

private:
    std::function<void(wxDialog&)> action;
    std::vector<wxString> seen;
    int settings_dialogs = 0;
};

// Answers every file dialog with Cancel, as an operator who changed their mind; records each
// dialog's message.
class file_dialog_refuser : public wxModalDialogHook {
public:
    file_dialog_refuser() { Register(); }
    ~file_dialog_refuser() override { Unregister(); }

    const std::vector<wxString>& messages() const { return seen; }

protected:
    int Enter(wxDialog* dialog) override {
        const auto* const file_dialog = dynamic_cast<wxFileDialog*>(dialog);
        seen.push_back(file_dialog != nullptr ? file_dialog->GetMessage() : "not a file dialog");
        return wxID_CANCEL;
    }
    void Exit(wxDialog*) override {}

private:
    std::vector<wxString> seen;
};

// "ДПП[4]: 123" or "ДПП[7]: 123".
bool is_sensor_reading(const wxString& text) {
    wxString number;
    return (text.StartsWith(wxString::FromUTF8("ДПП[4]: "), &number) ||
            text.StartsWith(wxString::FromUTF8("ДПП[7]: "), &number)) &&
           !number.empty() && number.IsNumber();
}

void press(wxDialog& dialog, int button_id) {
    auto* const button = dynamic_cast<wxButton*>(dialog.FindWindow(button_id));
    ASSERT_NE(button, nullptr) << "the dialog has the button " << button_id;
    wxCommandEvent click(wxEVT_BUTTON, button_id);
    click.SetEventObject(button);
    button->ProcessWindowEvent(click);
}

// key -> value as the settings file holds them.
std::map<std::string, std::string> settings_on_disk(const std::string& home) {
    std::map<std::string, std::string> values;
    std::ifstream file(app_test::settings_path(home));
    std::string line;
    while (std::getline(file, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

} // namespace

// Settings ------------------------------------------------------------------------------------

TEST_F(main_window_commands, settings_confirmed_unchanged_writes_every_key_to_disk_at_once) {
    start({{"coordinate_server_port", app_test::free_port()}, {"write_interval", "25"}});
    const std::string before = test_support::read_file_bytes(app_test::settings_path(home.path()));

    dialog_operator clicker([](wxDialog& dialog) { press(dialog, wxID_OK); });
    app_test::send_command(*frame, ID_SETTINGS);
    EXPECT_TRUE(clicker.was_settings_dialog());

    // Read while the window still runs: the flush must not wait for the end of the program.
    const std::map<std::string, std::string> written = settings_on_disk(home.path());
    EXPECT_NE(test_support::read_file_bytes(app_test::settings_path(home.path())), before);
    std::set<std::string> expected_keys;
    for (const setting_key& key : all_settings())
        expected_keys.insert(key.name);
    std::set<std::string> written_keys;
    for (const auto& entry : written)
        written_keys.insert(entry.first);
    EXPECT_EQ(written_keys, expected_keys);
    EXPECT_EQ(written_keys.size(), 19u);
    EXPECT_EQ(written.at("write_interval"), "25");
    EXPECT_EQ(written.at("dpp_port"), "/dev/kestrel-test-no-such-port");
    EXPECT_EQ(written.at("subs_color"), "rgb(0, 0, 255)");
}

TEST_F(main_window_commands, a_server_port_confirmed_in_the_dialog_is_used_by_the_next_connect) {
    start({{"coordinate_server_port", app_test::free_port()}});
    const app_test::tool_process simulator = app_test::coordinate_simulator();

    dialog_operator clicker([&](wxDialog& dialog) {
        wxPropertyGrid* grid = nullptr;
        for (wxWindow* const child : dialog.GetChildren())
            grid = grid != nullptr ? grid : dynamic_cast<wxPropertyGrid*>(child);
        ASSERT_NE(grid, nullptr);
        grid->SetPropertyValue("coordinate_server_port", wxString(simulator.address()));
        press(dialog, wxID_OK);
    });
    app_test::send_command(*frame, ID_SETTINGS);
    EXPECT_EQ(settings_on_disk(home.path()).at("coordinate_server_port"), simulator.address());

    app_test::send_command(*frame, ID_COORDINATE_SERVER);
    const auto connected = rows_starting("Сервер координат: ");
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected[0].text, utf8("Сервер координат: 127.0.0.1:") + simulator.address());
}

TEST_F(main_window_commands, settings_cancelled_or_closed_write_nothing) {
    start({{"coordinate_server_port", app_test::free_port()}, {"subs_color", "#0000FF"}});
    const std::string before = test_support::read_file_bytes(app_test::settings_path(home.path()));

    {
        dialog_operator clicker([](wxDialog& dialog) { press(dialog, wxID_CANCEL); });
        app_test::send_command(*frame, ID_SETTINGS);
        EXPECT_TRUE(clicker.was_settings_dialog());
    }
    EXPECT_EQ(test_support::read_file_bytes(app_test::settings_path(home.path())), before);
    {
        dialog_operator clicker([](wxDialog& dialog) { dialog.Close(); });
        app_test::send_command(*frame, ID_SETTINGS);
        EXPECT_TRUE(clicker.was_settings_dialog());
    }
    EXPECT_EQ(test_support::read_file_bytes(app_test::settings_path(home.path())), before);
    // Nothing was left in the store to be written at the end either.
    close_main_window();
    EXPECT_EQ(test_support::read_file_bytes(app_test::settings_path(home.path())), before);
}

TEST_F(main_window_commands, the_journal_pane_has_room_for_several_rows_once_maximised) {
    start({{"coordinate_server_port", app_test::free_port()}});
    ASSERT_TRUE(
        pump_events_until([&] { return frame->IsMaximized() && frame->IsShownOnScreen(); }));
    test_support::pump_events_for(300ms);
    EXPECT_GE(frame->journal_view()->GetSize().y, 150);
}

// Coordinate server ---------------------------------------------------------------------------

TEST_F(main_window_commands, without_settings_the_default_server_gets_one_row_after_start_rows) {
    test_support::message_box_catcher boxes;
    start_as_it_is();
    const auto all = rows();
    ASSERT_GT(all.size(), static_cast<size_t>(start_rows));
    const journal_row& row = all[start_rows];
    // Whatever this machine has at the default port decides the colour, never the count.
    if (app_test::port_answers("12500")) {
        EXPECT_EQ(row.text, utf8("Сервер координат: 127.0.0.1:12500"));
        EXPECT_FALSE(row.error);
    } else {
        EXPECT_EQ(row.text, utf8("Не удалось соединиться с сервером координат: 127.0.0.1:12500"));
        EXPECT_TRUE(row.error);
    }
    test_support::pump_events_for(300ms);
    size_t server_rows = 0;
    for (const journal_row& each : rows())
        server_rows += each.text.Contains(utf8("координат")) ? 1 : 0;
    EXPECT_EQ(server_rows, 1u);
    EXPECT_TRUE(boxes.dialogs().empty());
}

TEST_F(main_window_commands, a_listening_server_gets_a_blue_row_at_start) {
    const app_test::tool_process simulator = app_test::coordinate_simulator();
    start({{"coordinate_server_port", simulator.address()}});
    const auto all = rows();
    ASSERT_GT(all.size(), static_cast<size_t>(start_rows));
    EXPECT_EQ(all[start_rows].text, utf8("Сервер координат: 127.0.0.1:") + simulator.address());
    EXPECT_FALSE(all[start_rows].error);
}

TEST_F(main_window_commands, the_server_command_connects_once_the_server_has_started) {
    const std::string port = app_test::free_port();
    start({{"coordinate_server_address", "127.0.0.1"}, {"coordinate_server_port", port}});
    const auto failed = rows_starting("Не удалось соединиться с сервером координат: ");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].text,
              utf8("Не удалось соединиться с сервером координат: 127.0.0.1:") + port);
    EXPECT_TRUE(failed[0].error);
    EXPECT_FALSE(has_row_starting("Сервер координат"));

    const app_test::tool_process simulator = app_test::coordinate_simulator(port);
    app_test::send_command(*frame, ID_COORDINATE_SERVER);
    const auto connected = rows_starting("Сервер координат: ");
    ASSERT_EQ(connected.size(), 1u);
    EXPECT_EQ(connected[0].text, utf8("Сервер координат: 127.0.0.1:") + port);
    EXPECT_FALSE(connected[0].error);
    EXPECT_EQ(rows_starting("Не удалось соединиться").size(), 1u);
}

// Path sensor ---------------------------------------------------------------------------------

TEST_F(main_window_commands, the_status_bar_ends_on_the_sensors_last_reading) {
    // 40 readings 1000, 1003, ... taking turns between the two frame formats; the line closes
    // after the last, which ends the reader with one error row.
    const app_test::tool_process sensor =
        app_test::path_sensor({"--rate", "20", "--count", "40", "--start", "1000", "--step", "3"});
    app_test::write_settings(home.path(), {{"coordinate_server_port", app_test::free_port()},
                                           {"dpp_port", sensor.address()}});
    start_as_it_is();
    EXPECT_TRUE(pump_events_until([&] { return is_sensor_reading(status_text()); }))
        << status_text();
    EXPECT_TRUE(pump_events_until([&] { return has_row_starting("Ошибка ДПП: "); }, 20s));
    test_support::pump_events_for(200ms);
    EXPECT_EQ(status_text(), utf8("ДПП[7]: 1117"));
    EXPECT_EQ(rows_starting("Ошибка ДПП: ").size(), 1u);
    EXPECT_TRUE(rows_starting("Ошибка ДПП: ").front().error);
}

TEST_F(main_window_commands, a_missing_sensor_port_gives_one_open_error_and_a_clean_end) {
    start({{"coordinate_server_port", app_test::free_port()}});
    EXPECT_TRUE(pump_events_until([&] { return has_row_starting("Ошибка ДПП: "); }));
    test_support::pump_events_for(200ms);
    const auto errors = rows_starting("Ошибка ДПП: ");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].text.StartsWith(utf8("Ошибка ДПП: open"))) << errors[0].text;
    EXPECT_TRUE(errors[0].error);
    EXPECT_EQ(status_text(), wxString());
    close_main_window();
}

TEST_F(main_window_commands, a_window_closed_with_a_sensor_error_on_its_way_ends_quietly) {
    app_test::write_settings(home.path(), {{"coordinate_server_port", app_test::free_port()},
                                           {"dpp_port", "/dev/kestrel-test-no-such-port"}});
    test_support::message_box_catcher boxes;
    test_support::log_catcher log;
    kestrel_frame* const early = start_main_window();
    ASSERT_NE(early, nullptr);
    const std::string written = early->journal_file().GetFullPath().utf8_string();
    // No pumping: the reader's failure is still queued for a window about to go.
    test_support::destroy_window(early);
    test_support::pump_events_for(200ms);
    // Whatever became of the failure, the journal kept the start and nothing was shown or
    // logged for a window that was no longer there.
    EXPECT_GE(app_test::journal_rows(written).size(), static_cast<size_t>(start_rows));
    EXPECT_TRUE(boxes.dialogs().empty()) << boxes.dialogs().front().message;
    for (const auto& message : log.messages())
        EXPECT_GT(message.level, wxLOG_Warning) << message.text;
}

TEST_F(main_window_commands, a_sensor_lost_while_running_gives_one_error_row) {
    app_test::tool_process sensor = app_test::path_sensor();
    app_test::write_settings(home.path(), {{"coordinate_server_port", app_test::free_port()},
                                           {"dpp_port", sensor.address()}});
    start_as_it_is();
    ASSERT_TRUE(pump_events_until([&] { return is_sensor_reading(status_text()); }));
    EXPECT_FALSE(has_row_starting("Ошибка ДПП"));

    sensor.kill_now();
    EXPECT_TRUE(pump_events_until([&] { return has_row_starting("Ошибка ДПП: "); }));
    test_support::pump_events_for(200ms);
    EXPECT_EQ(rows_starting("Ошибка ДПП: ").size(), 1u);
    EXPECT_TRUE(is_sensor_reading(status_text())) << "the last reading stays";
}

// Cameras -------------------------------------------------------------------------------------

TEST_F(main_window_commands, an_unreachable_camera_still_gets_its_pane_and_an_error_row) {
    test_support::message_box_catcher boxes;
    const std::string nowhere = "rtsp://127.0.0.1:" + app_test::free_port() + "/cam";
    start({{"coordinate_server_port", app_test::free_port()},
           {"front_camera_rtsp_address", nowhere},
           {"write_path", home.path()}});
    app_test::send_command(*frame, ID_BOILER_CAMERA);

    // The pane is there before the camera has been tried; the row follows from the capture
    // thread.
    EXPECT_NE(app_test::camera_pane(*frame, utf8("Котел")), nullptr);
    EXPECT_TRUE(
        pump_events_until([&] { return has_row_starting("Не удалось подключить камеру"); }));
    const auto failed = rows_starting("Не удалось подключить камеру");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_TRUE(failed[0].error);
    EXPECT_TRUE(boxes.dialogs().empty()) << boxes.dialogs().front().message;
}

// Where the floating panes of both cameras are on the screen, in the order they were opened.
std::vector<wxRect> camera_pane_places(kestrel_frame& frame) {
    std::vector<wxRect> places;
    for (camera_screen* const camera : app_test::camera_screens(frame)) {
        const wxAuiPaneInfo& pane = frame.panes().GetPane(camera);
        if (pane.frame != nullptr)
            places.push_back(pane.frame->GetScreenRect());
    }
    return places;
}

// The main window's client area on the screen: below the menu bar, above the status bar.
wxRect client_area_on_screen(const kestrel_frame& frame) {
    return wxRect(frame.ClientToScreen(wxPoint(0, 0)), frame.GetClientSize());
}

TEST_F(main_window_commands, both_camera_panes_open_side_by_side_below_the_menu_bar) {
    const std::string nowhere = "rtsp://127.0.0.1:" + app_test::free_port() + "/cam";
    start({{"coordinate_server_port", app_test::free_port()},
           {"front_camera_rtsp_address", nowhere},
           {"back_camera_rtsp_address", nowhere},
           {"write_path", home.path()}});
    ASSERT_TRUE(
        pump_events_until([&] { return frame->IsShownOnScreen() && frame->IsMaximized(); }));
    test_support::pump_events_for(300ms);

    // Maximised, then moved and made smaller by the operator: the panes follow the window.
    for (const bool maximised : {true, false}) {
        if (!maximised) {
            frame->panes().ClosePane(frame->panes().GetPane(utf8("Котел")));
            frame->panes().ClosePane(frame->panes().GetPane(utf8("Дизель")));
            frame->panes().Update();
            frame->Maximize(false);
            frame->SetSize(150, 120, 1400, 760);
            ASSERT_TRUE(pump_events_until(
                [&] { return !frame->IsMaximized() && frame->GetScreenPosition().x >= 100; }));
            test_support::pump_events_for(300ms);
        }
        app_test::send_command(*frame, ID_BOILER_CAMERA);
        app_test::send_command(*frame, ID_DIESEL_CAMERA);
        test_support::pump_events_for(300ms);

        const wxRect menu_bar = frame->GetMenuBar()->GetScreenRect();
        const wxRect client = client_area_on_screen(*frame);
        const std::vector<wxRect> places = camera_pane_places(*frame);
        ASSERT_EQ(places.size(), 2u);
        for (const wxRect& place : places) {
            const std::string where =
                std::to_string(place.x) + "," + std::to_string(place.y) + " in client area at " +
                std::to_string(client.x) + "," + std::to_string(client.y) + ", menu bar ends at " +
                std::to_string(menu_bar.GetBottom()) + (maximised ? " (maximised)" : " (moved)");
            EXPECT_GT(place.GetTop(), menu_bar.GetBottom()) << where;
            EXPECT_FALSE(place.Intersects(menu_bar)) << where;
            EXPECT_TRUE(client.Contains(place.GetTopLeft())) << where;
        }
        EXPECT_FALSE(places[0].Intersects(places[1]));
        EXPECT_LT(places[0].x, places[1].x) << "side by side in the order opened";
        EXPECT_EQ(places[0].y, places[1].y);
    }
}

TEST_F(main_window_commands, a_camera_chosen_again_while_open_records_once_and_after_closing_anew) {
    test_support::message_box_catcher boxes;
    const app_test::tool_process camera = app_test::test_camera();
    const app_test::tool_process simulator = app_test::coordinate_simulator();
    start({{"coordinate_server_port", simulator.address()},
           {"front_camera_rtsp_address", camera.address()},
           {"write_path", home.path()},
           {"write_format", "AVI"},
           {"codec", "MJPEG"},
           {"write_interval", "0"}});
    const wxString boiler = utf8("Котел");

    app_test::send_command(*frame, ID_BOILER_CAMERA);
    camera_screen* const first = app_test::camera_pane(*frame, boiler);
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(pump_events_until([&] { return first->received_count() >= 5; }, 30s));
    app_test::send_command(*frame, ID_BOILER_CAMERA);
    test_support::pump_events_for(300ms);
    EXPECT_EQ(app_test::camera_screens(*frame), std::vector<camera_screen*>{first});
    EXPECT_EQ(app_test::trip_folders(home.path()).size(), 1u);

    // Closed by the operator, the pane takes its screen along; the command then starts afresh.
    frame->panes().ClosePane(frame->panes().GetPane(boiler));
    frame->panes().Update();
    test_support::pump_pending_events();
    EXPECT_TRUE(app_test::camera_screens(*frame).empty());
    EXPECT_EQ(rows_starting("Записано ").size(), 1u);
    app_test::send_command(*frame, ID_BOILER_CAMERA);
    ASSERT_EQ(app_test::camera_screens(*frame).size(), 1u);
    camera_screen* const second = app_test::camera_screens(*frame).front();
    EXPECT_TRUE(pump_events_until([&] { return second->received_count() >= 5; }, 30s));
    close_main_window();

    EXPECT_EQ(app_test::trip_folders(home.path()).size(), 2u);
    EXPECT_EQ(rows_starting("Записано ").size(), 2u);
    EXPECT_TRUE(boxes.dialogs().empty());
}

// Ending the program from outside ------------------------------------------------------------

TEST_F(main_window_commands, the_desktop_session_ending_closes_every_camera_before_it_returns) {
    const std::string nowhere = "rtsp://127.0.0.1:" + app_test::free_port() + "/cam";
    start({{"coordinate_server_port", app_test::free_port()},
           {"front_camera_rtsp_address", nowhere},
           {"back_camera_rtsp_address", nowhere},
           {"write_path", home.path()}});
    app_test::send_command(*frame, ID_BOILER_CAMERA);
    app_test::send_command(*frame, ID_DIESEL_CAMERA);
    ASSERT_EQ(app_test::camera_screens(*frame).size(), 2u);

    wxCloseEvent session_end(wxEVT_END_SESSION);
    wxTheApp->ProcessEvent(session_end);
    // The session may go as soon as the event is handled: totals and indexes are there now.
    EXPECT_EQ(rows_starting("Принято ").size(), 2u);
    EXPECT_EQ(rows_starting("Записано ").size(), 2u);
    for (const std::string& folder : app_test::trip_folders(home.path()))
        EXPECT_TRUE(fs::exists(folder + "/data.idx")) << folder;
    EXPECT_TRUE(pump_events_until([&] {
        return wxTopLevelWindows.Find(frame) == nullptr && !wxPendingDelete.Member(frame);
    }));
    frame = nullptr;
}

TEST_F(main_window_commands, a_termination_signal_cancels_an_open_dialog_and_closes_the_window) {
    start({{"coordinate_server_port", app_test::free_port()}, {"write_interval", "25"}});
    const std::string before = test_support::read_file_bytes(app_test::settings_path(home.path()));
    // The machine shuts down while the operator has the settings dialog open.
    dialog_operator signaller([](wxDialog&) { std::raise(SIGTERM); });
    app_test::send_command(*frame, ID_SETTINGS);
    EXPECT_TRUE(signaller.was_settings_dialog());
    EXPECT_TRUE(pump_events_until([&] {
        return wxTopLevelWindows.Find(frame) == nullptr && !wxPendingDelete.Member(frame);
    }));
    frame = nullptr;
    EXPECT_EQ(test_support::read_file_bytes(app_test::settings_path(home.path())), before)
        << "the dialog was cancelled, not confirmed";
    EXPECT_NE(test_support::read_file_utf8(journal_file).Find(utf8("Начало работы")), wxNOT_FOUND);
}

// Review pane ---------------------------------------------------------------------------------

class review_pane : public main_window_commands {
protected:
    void SetUp() override {
        boiler_camera.emplace(app_test::test_camera("smpte"));
        diesel_camera.emplace(app_test::test_camera("ball"));
        simulator.emplace(app_test::coordinate_simulator());
        start({{"coordinate_server_port", simulator->address()},
               {"front_camera_rtsp_address", boiler_camera->address()},
               {"back_camera_rtsp_address", diesel_camera->address()},
               {"write_path", home.path()},
               {"write_format", "AVI"},
               {"codec", "MJPEG"},
               {"write_interval", "0"}});
    }

    // A finished recording of the boiler camera: its pane opened, some frames, its pane closed.
    std::string record_a_file() {
        app_test::send_command(*frame, ID_BOILER_CAMERA);
        camera_screen* const screen = app_test::camera_pane(*frame, utf8("Котел"));
        if (screen == nullptr ||
            !pump_events_until([&] { return screen->written_count() >= 40; }, 30s))
            return {};
        frame->panes().ClosePane(frame->panes().GetPane(screen));
        test_support::pump_pending_events();
        const auto folders = app_test::trip_folders(home.path());
        if (folders.size() != 1)
            return {};
        const auto videos = test_support::files_with_extension(folders.front(), ".avi");
        return videos.size() == 1 ? videos.front() : std::string();
    }

    std::optional<app_test::tool_process> boiler_camera;
    std::optional<app_test::tool_process> diesel_camera;
    std::optional<app_test::tool_process> simulator;
};

TEST_F(review_pane, plays_a_recorded_file_while_both_cameras_go_on_recording) {
    test_support::message_box_catcher boxes;
    const std::string recorded = record_a_file();
    ASSERT_FALSE(recorded.empty());
    ASSERT_GT(app_test::count_video_frames(recorded), 0);

    app_test::send_command(*frame, ID_BOILER_CAMERA);
    app_test::send_command(*frame, ID_DIESEL_CAMERA);
    const auto screens = app_test::camera_screens(*frame);
    ASSERT_EQ(screens.size(), 2u);
    ASSERT_TRUE(pump_events_until(
        [&] { return screens[0]->written_count() >= 5 && screens[1]->written_count() >= 5; }, 30s));

    frame->open_review_pane(wxString::FromUTF8(recorded));
    const auto players = app_test::review_players(*frame);
    ASSERT_EQ(players.size(), 1u);
    const wxAuiPaneInfo& pane = frame->panes().GetPane(players[0]);
    EXPECT_EQ(pane.caption, utf8("Камера"));
    EXPECT_TRUE(pane.IsFloating());
    // Playback runs on the media back end's own schedule: watch its events rather than poll.
    bool playing = false;
    bool finished = false;
    players[0]->Bind(wxEVT_MEDIA_STATECHANGED, [&](wxMediaEvent& event) {
        playing = playing || players[0]->GetState() == wxMEDIASTATE_PLAYING;
        event.Skip();
    });
    players[0]->Bind(wxEVT_MEDIA_FINISHED, [&](wxMediaEvent& event) {
        finished = true;
        event.Skip();
    });
    EXPECT_TRUE(pump_events_until([&] {
        return playing || finished || players[0]->GetState() == wxMEDIASTATE_PLAYING;
    })) << "media state "
        << players[0]->GetState();
    EXPECT_GT(players[0]->Length(), 0) << "the file was loaded";

    app_test::place_floating_pane(*frame, screens[0], 20, 60);
    app_test::place_floating_pane(*frame, screens[1], 700, 60);
    app_test::place_floating_pane(*frame, players[0], 360, 330);
    test_support::pump_events_for(700ms);
    EXPECT_TRUE(
        app_test::save_screenshot(app_test::artifacts_folder() + "/main_window_review_pane.png"));

    const int written_then[2] = {screens[0]->written_count(), screens[1]->written_count()};
    EXPECT_TRUE(pump_events_until(
        [&] {
            return screens[0]->written_count() > written_then[0] + 10 &&
                   screens[1]->written_count() > written_then[1] + 10;
        },
        30s))
        << "recording goes on beside the player";
    EXPECT_EQ(app_test::camera_screens(*frame), screens);
    EXPECT_TRUE(boxes.dialogs().empty());
    // The player's handlers use this test's locals: the window goes before they do.
    close_main_window();
}

TEST_F(main_window_commands, the_view_command_cancelled_opens_nothing) {
    start({{"coordinate_server_port", app_test::free_port()}});
    file_dialog_refuser refuser;
    const size_t panes_before = frame->panes().GetAllPanes().GetCount();
    app_test::send_command(*frame, ID_VIEW);
    test_support::pump_pending_events();
    ASSERT_EQ(refuser.messages().size(), 1u);
    EXPECT_EQ(refuser.messages()[0], utf8("Открыть файл"));
    EXPECT_EQ(frame->panes().GetAllPanes().GetCount(), panes_before);
    EXPECT_TRUE(app_test::review_players(*frame).empty());
}

TEST_F(main_window_commands, a_file_that_cannot_be_played_still_gets_its_pane_and_no_report) {
    start({{"coordinate_server_port", app_test::free_port()}});
    test_support::message_box_catcher boxes;
    test_support::log_catcher log;
    const std::string not_video = home.path() + "/notes.avi";
    std::ofstream(not_video) << "not a video";

    frame->open_review_pane(wxString::FromUTF8(not_video));
    frame->open_review_pane(wxString::FromUTF8(not_video));
    test_support::pump_events_for(500ms);
    const auto players = app_test::review_players(*frame);
    ASSERT_EQ(players.size(), 2u) << "each opening gets a pane of its own";
    for (wxMediaCtrl* const player : players) {
        EXPECT_EQ(frame->panes().GetPane(player).caption, utf8("Камера"));
        EXPECT_NE(player->GetState(), wxMEDIASTATE_PLAYING);
    }
    EXPECT_TRUE(boxes.dialogs().empty()) << boxes.dialogs().front().message;
    close_main_window();
    for (const auto& message : log.messages())
        EXPECT_GT(message.level, wxLOG_Warning) << message.text;
}
