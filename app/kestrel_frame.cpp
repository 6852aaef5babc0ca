#include "app/kestrel_frame.h"

#include "app/camera_marks.h"
#include "app/journal_files.h"
#include "app/kestrel.h"
#include "app/status_line.h"
#include "archive/catalogue_keeper.h"
#include "archive/retention_keeper.h"
#include "camera/camera_screen.h"
#include "camera/pipeline_rules.h"
#include "journal/journal.h"
#include "journal/log_viewer.h"
#include "platform/free_space.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "position/dpp_thread.h"
#include "review/trip_browser.h"
#include "settings/car_settings.h"
#include "settings/config_dialog.h"
#include "settings/settings_store.h"
#include "trip_format/trip_files.h"

#include <algorithm>
#include <ctime>
#include <opencv2/core/version.hpp>
#include <stdexcept>
#include <utility>
#include <vector>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/filedlg.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/mediactrl.h>
#include <wx/menu.h>
#include <wx/msgdlg.h>
#include <wx/utils.h>

const char kestrel_version[] = KESTREL_VERSION;

using platform::utf8;

namespace {

constexpr int journal_pane_height = 200;
const wxSize floating_pane_size(640, 480);
const wxSize trip_browser_min_size(480, 360);
// The trip pane's name and caption.
const char trip_pane_name[] = "Поездки";
constexpr int camera_pane_gap = 20;
constexpr int status_refresh_ms = 1000;
constexpr int status_sensor_width = 200;

// home/Meridian5/<leaf>/
wxFileName user_folder(const char* leaf) {
    wxFileName name;
    name.SetPath(platform::home_dir());
    name.AppendDir("Meridian5");
    name.AppendDir(leaf);
    return name;
}

// Makes the folder of the name when it is missing; false when it cannot be made.
bool make_folder(const wxFileName& name) {
    if (name.DirExists())
        return true;
    // The caller reports the failure in its own words; the toolkit's log window would be a
    // second, unexpected box.
    wxLogNull quiet;
    return name.Mkdir(0777, wxPATH_MKDIR_FULL);
}

// The handlers are process-wide; a second main window in the same process finds them there.
void add_image_handlers() {
    if (wxImage::FindHandler(wxBITMAP_TYPE_JPEG) == nullptr)
        wxImage::AddHandler(new wxJPEGHandler);
    if (wxImage::FindHandler(wxBITMAP_TYPE_PNG) == nullptr)
        wxImage::AddHandler(new wxPNGHandler);
}

wxString folder_text(const wxFileName& name) {
    return name.GetPath(wxPATH_GET_VOLUME);
}

wxAuiPaneInfo floating_pane(const wxString& caption) {
    return wxAuiPaneInfo().Caption(caption).Top().DestroyOnClose(true).Float().FloatingSize(
        floating_pane_size);
}

void show_error_box(const std::exception& failure) {
    wxMessageBox(platform::from_narrow(failure.what()), utf8("Ошибка"), wxOK | wxCENTRE);
}

} // namespace

// clang-format off
wxBEGIN_EVENT_TABLE(kestrel_frame, wxFrame)
    EVT_MENU(ID_BOILER_CAMERA, kestrel_frame::on_boiler_camera)
    EVT_MENU(ID_DIESEL_CAMERA, kestrel_frame::on_diesel_camera)
    EVT_MENU(ID_COORDINATE_SERVER, kestrel_frame::on_coordinate_server)
    EVT_MENU(ID_VIEW, kestrel_frame::on_view)
    EVT_MENU(ID_TRIPS, kestrel_frame::on_trips)
    EVT_MENU(ID_MARK, kestrel_frame::on_mark)
    EVT_MENU(ID_SETTINGS, kestrel_frame::on_settings)
    EVT_MENU(ID_EXIT, kestrel_frame::on_exit)
wxEND_EVENT_TABLE()
    // clang-format on

    kestrel_frame::kestrel_frame(const wxString& title, const wxPoint& position, const wxSize& size)
    : wxFrame(nullptr, 0, title, position, size, wxDEFAULT_FRAME_STYLE | wxMAXIMIZE),
      aui_manager(nullptr, wxAUI_MGR_DEFAULT) {
    Bind(dpp_value_event, &kestrel_frame::on_dpp_value, this);
    Bind(dpp_error_event, &kestrel_frame::on_dpp_error, this);
    Bind(trip_repair_row_event, &kestrel_frame::on_trip_repair_row, this);
    build_menus();
    // The journal folder comes before the docking manager takes over the window, so that a
    // failure leaves nothing of the manager behind in the half-built window.
    prepare_journal_folder();
    aui_manager.SetManagedWindow(this);
    remove_old_journals(log_file.GetPath(), "kestrel[*].html", std::time(nullptr));
    open_journal();
    open_settings();
    add_image_handlers();
    CreateStatusBar(2, wxSTB_DEFAULT_STYLE, 0);
    // The path sensor's short reading, and the recording's long status line.
    const int status_widths[] = {status_sensor_width, -1};
    SetStatusWidths(2, status_widths);
    write_start_rows();
    // Trips a crash or a power cut left behind join the catalogue. Its failures come from the
    // keeper's thread; the row is written on the GUI thread.
    keeper = std::make_unique<catalogue_keeper>([this](const std::string& what) {
        CallAfter([what] {
            log_error(wxString::Format(utf8("Каталог поездок не обновлен: %s"), utf8(what)));
        });
    });
    keeper->sync_later(platform::native_path(read_text(*config, "write_path")));
    start_retention();
    trip_repair = std::make_unique<trip_repair_worker>(
        this, platform::native_path(read_text(*config, "write_path")));
    dpp = dpp_thread::start(this, read_text(*config, "dpp_port"));
    check_coordinate_server();
    termination = std::make_unique<platform::termination_signals>([this] { close_on_request(); });
    wxTheApp->Bind(wxEVT_END_SESSION, &kestrel_frame::on_end_session, this);
    status_timer.Bind(wxEVT_TIMER, &kestrel_frame::on_status_timer, this);
    status_timer.Start(status_refresh_ms);
    placement_timer.Bind(wxEVT_TIMER, &kestrel_frame::on_placement_timer, this);
}

kestrel_frame::~kestrel_frame() {
    status_timer.Stop();
    placement_timer.Stop();
    retention.reset();
    wxTheApp->Unbind(wxEVT_END_SESSION, &kestrel_frame::on_end_session, this);
    // Camera screens stop their threads as they go, and their capture threads use the
    // coordinate client: they go first, while the journal can still take their totals.
    close_camera_panes();
    trip_repair.reset();
    keeper.reset();
    dpp->stop();
    aui_manager.UnInit();
    {
        // Nothing is pending in a normal run; a failed write must not pop up the toolkit's log.
        wxLogNull quiet;
        config.reset();
    }
    coord_client.close();
}

void kestrel_frame::check_coordinate_server() {
    const wxString address = read_text(*config, "coordinate_server_address");
    const wxString port = read_text(*config, "coordinate_server_port");
    if (coord_client.connect(platform::to_narrow(address), platform::to_narrow(port)))
        log_info(coordinate_server_row(address, port));
    else
        log_error(wxString::Format(utf8("Не удалось соединиться с сервером координат: %s:%s"),
                                   address, port));
}

void kestrel_frame::open_review_pane(const wxString& path) {
    auto* const player = new wxMediaCtrl(this, wxID_ANY, path, wxDefaultPosition, wxDefaultSize, 0,
                                         wxString(), wxDefaultValidator, "mediaCtrl");
    player->ShowPlayerControls(wxMEDIACTRLPLAYERCONTROLS_DEFAULT);
    aui_manager.AddPane(player, floating_pane(utf8("Камера")));
    aui_manager.Update();
    player->Play();
}

void kestrel_frame::on_boiler_camera(wxCommandEvent&) {
    open_camera(utf8("Котел"));
}

void kestrel_frame::on_diesel_camera(wxCommandEvent&) {
    open_camera(utf8("Дизель"));
}

void kestrel_frame::on_coordinate_server(wxCommandEvent&) {
    check_coordinate_server();
}

void kestrel_frame::on_view(wxCommandEvent&) {
    try {
        wxFileDialog dialog(this, utf8("Открыть файл"), wxString(), wxString(), wxString(),
                            wxFD_OPEN | wxFD_FILE_MUST_EXIST);
        if (dialog.ShowModal() == wxID_OK)
            open_review_pane(dialog.GetPath());
    } catch (const std::exception& failure) {
        show_error_box(failure);
    }
}

void kestrel_frame::show_trip_browser() {
    const wxString name = utf8(trip_pane_name);
    if (wxAuiPaneInfo& open_pane = aui_manager.GetPane(name); open_pane.IsOk()) {
        open_pane.Show();
        aui_manager.Update();
        open_pane.window->SetFocus();
        return;
    }
    auto* const browser = new trip_browser(this, *config);
    // Docked in the middle, it takes the room the journal and the floating cameras leave.
    aui_manager.AddPane(browser, wxAuiPaneInfo()
                                     .Name(name)
                                     .Caption(name)
                                     .Center()
                                     .CloseButton(true)
                                     .MinSize(trip_browser_min_size)
                                     .DestroyOnClose(true));
    aui_manager.Update();
}

void kestrel_frame::on_trips(wxCommandEvent&) {
    try {
        show_trip_browser();
    } catch (const std::exception& failure) {
        show_error_box(failure);
    }
}

void kestrel_frame::on_mark(wxCommandEvent&) {
    std::vector<camera_to_mark> cameras;
    for (camera_screen* const screen : camera_screens())
        cameras.push_back({aui_manager.GetPane(screen).caption, screen});
    mark_cameras(cameras);
}

void kestrel_frame::on_settings(wxCommandEvent&) {
    config_dialog dialog(this, config.get());
    if (dialog.ShowModal() == wxID_OK) {
        wxLogNull quiet;
        config->Flush(false);
    }
}

void kestrel_frame::on_exit(wxCommandEvent&) {
    Close(true);
}

void kestrel_frame::on_dpp_value(wxThreadEvent& event) {
    GetStatusBar()->SetStatusText(event.GetString(), 0);
}

void kestrel_frame::on_dpp_error(wxThreadEvent& event) {
    // The reader posts this as it ends and is never restarted. Its handle stays: stopping an
    // ended reader returns at once and waits out a reader still closing its port.
    log_error(wxString::Format(utf8("Ошибка ДПП: %s"), event.GetString()));
}

void kestrel_frame::on_trip_repair_row(wxThreadEvent& event) {
    if (event.GetInt() != 0)
        log_error(event.GetString());
    else
        log_info(event.GetString());
}

void kestrel_frame::on_end_session(wxCloseEvent&) {
    // The session goes once this returns: the cameras finish their files and indexes now,
    // not at the next idle time.
    close_camera_panes();
    Close(true);
}

void kestrel_frame::close_on_request() {
    // A dialog the operator left open is cancelled first; the window closes once its modal
    // loop has ended.
    for (wxWindow* const window : wxTopLevelWindows)
        if (auto* const dialog = dynamic_cast<wxDialog*>(window);
            dialog != nullptr && dialog->IsModal())
            dialog->EndModal(wxID_CANCEL);
    CallAfter([this] { Close(true); });
}

void kestrel_frame::open_camera(const wxString& camera_name) {
    // One recording per camera: a second screen would record the same stream twice.
    wxAuiPaneInfo& open_pane = aui_manager.GetPane(camera_name);
    if (open_pane.IsOk()) {
        open_pane.Show();
        aui_manager.Update();
        if (open_pane.frame != nullptr)
            open_pane.frame->Raise();
        return;
    }
    camera_screen* screen = nullptr;
    try {
        screen = new camera_screen(this, &coord_client, config.get(), camera_name);
        screen->when_trip_finished([this](const wxString& trip_folder) {
            if (keeper)
                keeper->add_later(platform::native_path(trip_folder));
        });
        aui_manager.AddPane(
            screen,
            floating_pane(camera_name).Name(camera_name).FloatingPosition(next_camera_position()));
        aui_manager.Update();
        // A pane opened while the main window has just been maximised may land behind it.
        if (wxWindow* const pane_frame = aui_manager.GetPane(screen).frame)
            pane_frame->Raise();
    } catch (const std::exception& failure) {
        if (screen != nullptr) {
            aui_manager.DetachPane(screen);
            screen->Destroy();
        }
        show_error_box(failure);
    }
}

wxPoint kestrel_frame::next_camera_position() {
    // Side by side at the top of the client area, below the menu bar, so that both cameras are
    // seen at once and every menu stays within reach. The client area's own screen position is
    // used: a maximised window may report its outer position as -1, the toolkit's "default".
    const int open_cameras = static_cast<int>(camera_screens().size());
    const wxRect client(ClientToScreen(wxPoint(0, 0)), GetClientSize());
    int top = client.y;
    if (const wxMenuBar* const menus = GetMenuBar(); menus != nullptr && menus->IsShownOnScreen())
        top = std::max(top, menus->GetScreenRect().GetBottom() + 1);
    const int x = client.x + open_cameras * (floating_pane_size.x + camera_pane_gap);
    const int rightmost = std::max(client.x, client.GetRight() + 1 - floating_pane_size.x);
    return {std::min(x, rightmost), top};
}

std::vector<camera_screen*> kestrel_frame::camera_screens() {
    std::vector<camera_screen*> screens;
    const wxAuiPaneInfoArray& panes = aui_manager.GetAllPanes();
    for (size_t i = 0; i < panes.GetCount(); ++i)
        if (auto* const screen = dynamic_cast<camera_screen*>(panes.Item(i).window))
            screens.push_back(screen);
    return screens;
}

void kestrel_frame::close_camera_panes() {
    for (camera_screen* const screen : camera_screens()) {
        aui_manager.DetachPane(screen);
        screen->Destroy();
    }
}

void kestrel_frame::build_menus() {
    auto* const file_menu = new wxMenu;
    file_menu->Append(ID_VIEW, utf8("Просмотр"));
    file_menu->Append(ID_TRIPS, utf8("Поездки"));
    file_menu->Append(ID_SETTINGS, utf8("Настройка"));
    file_menu->Append(ID_EXIT, utf8("Выход"));

    auto* const camera_menu = new wxMenu;
    camera_menu->Append(ID_BOILER_CAMERA, utf8("Котел"));
    camera_menu->Append(ID_DIESEL_CAMERA, utf8("Дизель"));
    camera_menu->Append(ID_COORDINATE_SERVER, utf8("Сервер координат"));
    camera_menu->Append(ID_MARK, utf8("Отметка\tF9"));

    auto* const bar = new wxMenuBar;
    bar->Append(file_menu, utf8("Файл"));
    bar->Append(camera_menu, utf8("Камеры"));
    SetMenuBar(bar);
}

void kestrel_frame::prepare_journal_folder() {
    const wxFileName folder = user_folder("log");
    if (!make_folder(folder))
        throw std::runtime_error(platform::to_narrow(wxString::Format(
            utf8("Не удается создать папку с файлами журналов [%s]"), folder_text(folder))));
    log_file = journal_file_name(folder.GetPath(), std::time(nullptr), wxGetProcessId());
}

void kestrel_frame::open_journal() {
    // The docking manager sizes the pane once, from the window's size at that moment, and
    // keeps that size; the window is maximised only once shown, so it takes the screen's size
    // first rather than the toolkit's small default. Setting the client size, not the outer
    // size, also makes GTK show the window straight at that size: the toolkit's deferred first
    // show lays the window out at a 2x1 placeholder, where the menu bar cannot fit its menus
    // (a Gtk-CRITICAL from gtk_distribute_natural_allocation on every start).
    SetClientSize(wxGetClientDisplayRect().GetSize());
    journal = new log_viewer(this, log_file);
    // An HTML window alone asks for a single line: give the pane room for several rows.
    aui_manager.AddPane(
        journal,
        wxAuiPaneInfo().Bottom().Caption(utf8("Журнал")).BestSize(wxSize(-1, journal_pane_height)));
    aui_manager.Update();
}

void kestrel_frame::open_settings() {
    config_file = user_folder("config");
    config_file.SetFullName(".kestrel");
    if (!make_folder(config_file))
        log_error(wxString::Format(utf8("Не удается создать папку с файлами настройки [%s]"),
                                   folder_text(config_file)));
    config = std::make_unique<settings_file_store>(config_file.GetFullPath());
    for (const wxString& key : config->unreadable_keys())
        log_error(wxString::Format(utf8("Неверное значение настройки %s в файле %s"), key,
                                   config_file.GetFullPath()));
}

void kestrel_frame::open_cameras(const std::vector<wxString>& names) {
    for (const wxString& name : names) {
        if (const std::optional<wxString> camera = camera_named(name))
            open_camera(*camera);
        else
            log_error(wxString::Format(utf8("Неизвестная камера в --open: %s"), name));
    }
}

void kestrel_frame::open_cameras_when_placed(const std::vector<wxString>& names) {
    cameras_waiting = names;
    client_origin_seen = wxPoint(-1, -1);
    placement_deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    placement_timer.Start(100);
}

void kestrel_frame::on_placement_timer(wxTimerEvent&) {
    // Placed: shown, maximised as asked, and where it was at the last look.
    const wxPoint origin = ClientToScreen(wxPoint(0, 0));
    const bool settled = IsShownOnScreen() && (IsMaximized() || !HasFlag(wxMAXIMIZE)) &&
                         origin == client_origin_seen;
    client_origin_seen = origin;
    if (!settled && std::chrono::steady_clock::now() < placement_deadline)
        return;
    placement_timer.Stop();
    open_cameras(std::exchange(cameras_waiting, {}));
}

void kestrel_frame::on_status_timer(wxTimerEvent&) {
    refresh_status_line();
}

void kestrel_frame::start_retention() {
    const wxString configured = read_text(*config, "write_path");
    const std::filesystem::path write_path =
        platform::native_path(configured.empty() ? "." : configured);
    std::error_code error;
    const std::filesystem::space_info disk = std::filesystem::space(write_path, error);
    retention = std::make_unique<retention_keeper>(
        write_path, read_retention_free_bytes(*config, error ? 0 : disk.capacity));
}

void kestrel_frame::journal_retention() {
    std::set<std::string> trips_in_use;
    for (camera_screen* const screen : camera_screens())
        trips_in_use.insert(trip_folder_name_of(platform::native_path(screen->trip_folder())));
    if (const auto* const browser =
            dynamic_cast<const trip_browser*>(aui_manager.GetPane(utf8(trip_pane_name)).window)) {
        const std::set<std::string> shown = browser->trips_shown();
        trips_in_use.insert(shown.begin(), shown.end());
    }
    retention->set_open_trips(std::move(trips_in_use));
    const retention_result news = retention->take_news();
    for (const deleted_trip& trip : news.deleted)
        log_info(wxString::Format(utf8("Удалена поездка, у которой есть проверенная копия: %s "
                                       "(копия: %s, %.1f МБ)"),
                                  wxString::FromUTF8(trip.folder.string()),
                                  wxString::FromUTF8(trip.copy),
                                  static_cast<double>(trip.bytes) / (1 << 20)));
    // The catalogue forgets the deleted trips at its next sync.
    if (!news.deleted.empty())
        keeper->sync_later(platform::native_path(read_text(*config, "write_path")));
    for (const std::string& failure : news.failures)
        log_error(wxString::Format(utf8("Место на диске не освобождено: %s"),
                                   wxString::FromUTF8(failure)));
}

void kestrel_frame::refresh_status_line() {
    const auto now = camera_progress::clock::now();
    std::vector<camera_line> cameras;
    for (camera_screen* const screen : camera_screens())
        cameras.push_back({aui_manager.GetPane(screen).caption, screen->progress()});
    journal_retention();
    const wxString folder = recording_folder();
    const std::optional<std::uintmax_t> free_bytes = platform::available_bytes(folder);
    if (cameras.empty() || !free_bytes)
        forecast.forget_readings();
    else
        forecast.add_reading(now, *free_bytes);
    journal_disk_warning(forecast.take_warning(), folder);
    const std::optional<std::chrono::seconds> left =
        cameras.empty() ? std::nullopt : forecast.time_left();
    GetStatusBar()->SetStatusText(status_line_text(cameras, now, free_bytes, left), 1);
}

wxString kestrel_frame::recording_folder() {
    const std::vector<camera_screen*> screens = camera_screens();
    if (!screens.empty()) {
        // A pane records where the settings said when it opened.
        wxFileName trip = wxFileName::DirName(screens.front()->trip_folder());
        trip.RemoveLastDir();
        return trip.GetPath();
    }
    const wxString configured = read_text(*config, "write_path");
    return configured.empty() ? wxString(".") : configured;
}

void kestrel_frame::journal_disk_warning(disk_forecast::warning warning, const wxString& folder) {
    const long minutes = std::chrono::duration_cast<std::chrono::minutes>(
                             forecast.time_left().value_or(std::chrono::seconds(0)))
                             .count();
    switch (warning) {
    case disk_forecast::warning::below_hour:
    case disk_forecast::warning::below_ten_minutes:
        log_error(wxString::Format(utf8("Мало места для записи: %s, осталось ≈ %d мин"), folder,
                                   static_cast<int>(minutes)));
        break;
    case disk_forecast::warning::enough_again:
        log_info(wxString::Format(utf8("Места для записи снова достаточно: %s"), folder));
        break;
    case disk_forecast::warning::none:
        break;
    }
}

void kestrel_frame::write_start_rows() {
    log_info(wxString::Format(utf8("Начало работы. Версия: %s"), kestrel_version));
    log_info(wxString::Format("OpenCV %s", CV_VERSION));
    log_info(wxString::Format("%s", wxGetLibraryVersionInfo().GetVersionString()));
    log_info(wxString::Format(utf8("Компьютер: %s (%s)"), wxGetHostName(), wxGetOsDescription()));
}
