#include "app/kestrel.h"

#include "app/kestrel_frame.h"
#include "media/image_threads.h"
#include "platform/text.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
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
    return frame != nullptr;
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
