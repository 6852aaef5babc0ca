#include "platform/text.h"

#include <wx/strconv.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace platform {

namespace {

const wxCSConv& windows_1251() {
    static const wxCSConv conv("windows-1251");
    return conv;
}

} // namespace

#ifdef _WIN32

std::string to_narrow(const wxString& text) {
    const std::wstring wide = text.ToStdWstring();
    if (wide.empty())
        return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, "?", nullptr);
    std::string narrow(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), size,
                        "?", nullptr);
    return narrow;
}

wxString from_narrow(const std::string& text) {
    return wxString(text.data(), wxConvLibc, text.size());
}

wxString decode_server_text(const std::string& bytes) {
    return from_narrow(bytes);
}

#else

std::string to_narrow(const wxString& text) {
    const wxScopedCharBuffer utf8 = text.utf8_str();
    return std::string(utf8.data(), utf8.length());
}

wxString from_narrow(const std::string& text) {
    return wxString::FromUTF8(text.data(), text.size());
}

wxString decode_server_text(const std::string& bytes) {
    if (bytes.empty())
        return {};
    const wxString utf8 = wxString::FromUTF8(bytes.data(), bytes.size());
    if (!utf8.empty())
        return utf8;
    return wxString(bytes.data(), windows_1251(), bytes.size());
}

#endif

std::filesystem::path native_path(const wxString& path) {
    return std::filesystem::path(to_narrow(path));
}

} // namespace platform
