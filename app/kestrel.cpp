#include "app/kestrel.h"

#include "app/kestrel_frame.h"
#include "platform/text.h"

#include <cstdlib>
#include <exception>
#include <wx/msgdlg.h>

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
    frame = start_main_window();
    // Without its main window the program has nothing to show: end instead of running on
    // invisibly.
    return frame != nullptr;
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
