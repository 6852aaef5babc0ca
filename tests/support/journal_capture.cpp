#include "tests/support/journal_capture.h"

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

namespace {

// Row texts in the order written: the text inside each <font ...>...</font> cell.
void collect_rows(const std::wstring& html, std::vector<journal_capture::row>& rows) {
    std::size_t at = 0;
    while ((at = html.find(L"<font color='", at)) != std::wstring::npos) {
        const auto colour_end = html.find(L"'>", at);
        const auto text_end = html.find(L"</font>", colour_end);
        const std::wstring colour = html.substr(at + 13, colour_end - at - 13);
        rows.push_back({html.substr(colour_end + 2, text_end - colour_end - 2), colour == L"red"});
        at = text_end;
    }
}

} // namespace

std::vector<journal_capture::row> journal_capture::rows() const {
    std::vector<row> all;
    collect_rows(information_text.str(), all);
    collect_rows(error_text.str(), all);
    return all;
}

std::vector<journal_capture::row> journal_capture::rows_with(const std::wstring& fragment) const {
    std::vector<row> found;
    for (const auto& row : rows())
        if (row.text.find(fragment) != std::wstring::npos)
            found.push_back(row);
    return found;
}
