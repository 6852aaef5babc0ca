#include "app/kestrel_frame.h"

#include "app/journal_files.h"
#include "journal/journal.h"
#include "journal/log_viewer.h"
#include "platform/paths.h"
#include "platform/text.h"

#include <ctime>
#include <opencv2/core/version.hpp>
#include <stdexcept>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/menu.h>
#include <wx/utils.h>

const char kestrel_version[] = "669";

namespace {

constexpr int journal_pane_height = 200;

wxString utf8(const char* text) {
    return wxString::FromUTF8(text);
}

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

} // namespace

kestrel_frame::kestrel_frame(const wxString& title, const wxPoint& position, const wxSize& size)
    : wxFrame(nullptr, 0, title, position, size, wxDEFAULT_FRAME_STYLE | wxMAXIMIZE),
      aui_manager(nullptr, wxAUI_MGR_DEFAULT) {
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
    write_start_rows();
}

kestrel_frame::~kestrel_frame() {
    aui_manager.UnInit();
    // Nothing is pending in a normal run; a failed write must not pop up the toolkit's log.
    wxLogNull quiet;
    config.reset();
}

void kestrel_frame::build_menus() {
    auto* const file_menu = new wxMenu;
    file_menu->Append(ID_VIEW, utf8("Просмотр"));
    file_menu->Append(ID_SETTINGS, utf8("Настройка"));
    file_menu->Append(ID_EXIT, utf8("Выход"));

    auto* const camera_menu = new wxMenu;
    camera_menu->Append(ID_BOILER_CAMERA, utf8("Котел"));
    camera_menu->Append(ID_DIESEL_CAMERA, utf8("Дизель"));
    camera_menu->Append(ID_COORDINATE_SERVER, utf8("Сервер координат"));

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
    journal = new log_viewer(this, log_file);
    // The pane takes its first height from here; an HTML window alone asks for a single line.
    journal->SetInitialSize(wxSize(-1, journal_pane_height));
    aui_manager.AddPane(journal, wxBOTTOM, utf8("Журнал"));
    aui_manager.Update();
}

void kestrel_frame::open_settings() {
    config_file = user_folder("config");
    config_file.SetFullName(".kestrel");
    if (!make_folder(config_file))
        log_error(wxString::Format(utf8("Не удается создать папку с файлами настройки [%s]"),
                                   folder_text(config_file)));
    config = std::make_unique<wxFileConfig>(wxString(), wxString(), config_file.GetFullPath(),
                                            wxString(), wxCONFIG_USE_LOCAL_FILE, wxConvUTF8);
    // Texts are read as they were entered: a "$" in a camera password is not a variable.
    config->SetExpandEnvVars(false);
}

void kestrel_frame::write_start_rows() {
    log_info(wxString::Format(utf8("Начало работы. Версия: %s"), kestrel_version));
    log_info(wxString::Format("OpenCV %s", CV_VERSION));
    log_info(wxString::Format("%s", wxGetLibraryVersionInfo().GetVersionString()));
    log_info(wxString::Format(utf8("Компьютер: %s (%s)"), wxGetHostName(), wxGetOsDescription()));
}
