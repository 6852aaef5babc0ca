#include "journal/journal.h"

#include <ctime>
#include <iomanip>
#include <iostream>

namespace {

// The message is shown as the text it is, never read as markup.
std::wstring escaped(const wxString& message) {
    std::wstring text;
    text.reserve(message.length());
    for (const wchar_t ch : message.ToStdWstring()) {
        switch (ch) {
        case L'<':
            text += L"&lt;";
            break;
        case L'>':
            text += L"&gt;";
            break;
        case L'&':
            text += L"&amp;";
            break;
        default:
            text += ch;
        }
    }
    return text;
}

void write_row(std::wostream& stream, const wchar_t* colour, const wxString& message) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    stream << L"<tr>" << std::endl;
    stream << L"<td>" << std::put_time(&local, L"%d.%m.%Y %H:%M:%S") << L"</td>" << std::endl;
    stream << L"<td> <font color='" << colour << L"'>" << escaped(message) << L"</font></td>"
           << std::endl;
    stream << L"</tr>" << std::endl;
}

} // namespace

void log_info(const wxString& message) {
    write_row(std::wcout, L"blue", message);
}

void log_error(const wxString& message) {
    write_row(std::wcerr, L"red", message);
}
