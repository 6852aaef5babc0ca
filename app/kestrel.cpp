#include "app/kestrel.h"

#include "app/kestrel_frame.h"
#include "media/image_threads.h"
#include "platform/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <wx/cmdline.h>
#include <wx/msgdlg.h>

void describe_command_line(wxCmdLineParser& parser) {
    parser.SetLogo(wxString::Format(
        "kestrel %s: the on-board video recorder of a railway track-inspection car.\n"
        "Without options it opens its main window; settings live in "
        "~/Meridian5/config/.kestrel.",
        kestrel_version));
    parser.AddSwitch("h", "help", "print this text and exit", wxCMD_LINE_OPTION_HELP);
    parser.AddLongSwitch("version", "print the version and exit");
    parser.AddLongOption("open",
                         wxString::FromUTF8("open these cameras after start-up, as their menu "
                                            "items do (comma-separated: front or Котел, back or "
                                            "Дизель)"));
}

namespace {

// The names of --open, for OnInit.
std::vector<wxString> cameras_to_open;

void add_names(const char* list, std::vector<wxString>& names) {
    wxString rest = wxString::FromUTF8(list);
    while (!rest.empty()) {
        const wxString name = rest.BeforeFirst(',').Trim(true).Trim(false);
        rest = rest.AfterFirst(',');
        if (!name.empty())
            names.push_back(name);
    }
}

} // namespace

std::vector<wxString> take_cameras_to_open(int& argc, char** argv) {
    constexpr char option[] = "--open";
    constexpr std::size_t option_length = sizeof option - 1;
    std::vector<wxString> names;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const char* const argument = argv[i];
        if (std::strcmp(argument, option) == 0 && i + 1 < argc) {
            add_names(argv[++i], names);
        } else if (std::strncmp(argument, option, option_length) == 0 &&
                   argument[option_length] == '=') {
            add_names(argument + option_length + 1, names);
        } else {
            argv[kept++] = argv[i];
        }
    }
    argv[kept] = nullptr;
    argc = kept;
    return names;
}

void set_cameras_to_open(const std::vector<wxString>& names) {
    cameras_to_open = names;
}

std::optional<wxString> camera_named(const wxString& name) {
    if (name.CmpNoCase("front") == 0 || name == wxString::FromUTF8("Котел"))
        return wxString::FromUTF8("Котел");
    if (name.CmpNoCase("back") == 0 || name == wxString::FromUTF8("Дизель"))
        return wxString::FromUTF8("Дизель");
    return std::nullopt;
}

bool answer_command_line(const wxCmdLineParser& parser, const int parse_result) {
    if (parse_result == -1) {
        std::fputs(parser.GetUsageString().utf8_str(), stdout);
        return true;
    }
    if (parse_result == 0 && parser.FoundSwitch("version") == wxCMD_SWITCH_ON) {
        std::printf("kestrel %s\n", kestrel_version);
        return true;
    }
    return false;
}

kestrel_frame* start_main_window() {
    try {
        auto* const window = new kestrel_frame(wxString::FromUTF8("Обзорное видео"),
                                               wxDefaultPosition, wxDefaultSize);
        window->Show(true);
        return window;
    } catch (const std::exception& failure) {
        wxMessageBox(platform::from_narrow(failure.what()), "C++ exception", wxOK | wxICON_ERROR);
        return nullptr;
    } catch (...) {
        wxMessageBox("Unknown exception. Application will be closed", "Fatal error",
                     wxOK | wxICON_ERROR);
        std::_Exit(1);
    }
}

bool kestrel::OnInit() {
    wxHandleFatalExceptions(false);
    if (!wxApp::OnInit())
        return false;
    if (answered_command_line)
        return true;
    media::keep_image_work_on_calling_threads();
    frame = start_main_window();
    // Without its main window the program has nothing to show: end instead of running on
    // invisibly.
    if (frame == nullptr)
        return false;
    // Once the window is up and placed, as the operator's first menu choice would come.
    if (!cameras_to_open.empty())
        frame->open_cameras_when_placed(cameras_to_open);
    return true;
}

int kestrel::OnRun() {
    return answered_command_line ? EXIT_SUCCESS : wxApp::OnRun();
}

void kestrel::OnInitCmdLine(wxCmdLineParser& parser) {
    describe_command_line(parser);
}

bool kestrel::OnCmdLineParsed(wxCmdLineParser& parser) {
    answered_command_line = answer_command_line(parser, 0);
    return true;
}

bool kestrel::OnCmdLineHelp(wxCmdLineParser& parser) {
    answered_command_line = answer_command_line(parser, -1);
    return true;
}

void kestrel::OnUnhandledException() {
    wxMessageBox("Unhandled exception", "Error", wxOK | wxCENTRE);
}

bool kestrel::OnExceptionInMainLoop() {
    return report_escaped_exception();
}

bool report_escaped_exception() {
    try {
        throw;
    } catch (const std::exception& failure) {
        wxMessageBox(platform::from_narrow(failure.what()), "C++ exception", wxOK | wxICON_ERROR);
        return true;
    } catch (...) {
        wxMessageBox(wxString::FromUTF8("Программа будет завершена."),
                     wxString::FromUTF8("Неизвестное исключение."), wxOK | wxICON_ERROR);
        return false;
    }
}
