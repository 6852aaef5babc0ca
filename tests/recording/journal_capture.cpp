#include "journal_capture.h"

#include <iostream>
#include <wx/string.h>

journal_capture::journal_capture()
    : previous_out(std::wcout.rdbuf(&information_text)),
      previous_error(std::wcerr.rdbuf(&error_text)) {}

journal_capture::~journal_capture() {
    std::wcout.rdbuf(previous_out);
    std::wcerr.rdbuf(previous_error);
}

std::string journal_capture::information() const {
    return wxString(information_text.str()).utf8_string();
}

std::string journal_capture::errors() const {
    return wxString(error_text.str()).utf8_string();
}
