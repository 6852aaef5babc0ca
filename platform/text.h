#pragma once
// Narrow (8-bit) text as the operating system means it: the ANSI code page on Windows,
// UTF-8 on Linux whatever the process locale is. wxConvLibc follows the C locale, which
// wxGTK leaves at "C", and would turn every Cyrillic text into an empty string there.

#include <filesystem>
#include <string>
#include <wx/string.h>

namespace platform {

// The program's own UTF-8 text (its messages, what its files and the catalogue hold) as wide
// text.
inline wxString utf8(const char* text) {
    return wxString::FromUTF8(text);
}
inline wxString utf8(const std::string& text) {
    return wxString::FromUTF8(text.data(), text.size());
}

// Wide text to the system's narrow encoding. Characters it cannot represent become '?'.
std::string to_narrow(const wxString& text);

// The system's narrow encoding to wide text.
wxString from_narrow(const std::string& text);

// A path of the toolkit as the file system takes it (the system's narrow encoding).
std::filesystem::path native_path(const wxString& path);

// Text that came from the coordinate server: the system's narrow encoding when the bytes are
// valid in it, otherwise Windows-1251, which the server's own machine uses.
wxString decode_server_text(const std::string& bytes);

} // namespace platform
