#include "settings/settings_file_store.h"

#include "platform/text.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <wx/mstream.h>
#include <wx/wfstream.h>

struct settings_file_store::readable_text {
    std::string bytes;              // the file's valid lines, as they stand in it
    std::vector<wxString> bad_keys; // the keys of the lines that were left out
};

namespace {

bool valid_utf8(const std::string& line) {
    return wxConvUTF8.ToWChar(nullptr, 0, line.data(), line.size()) != wxCONV_FAILED;
}

// What stands before "=" (the whole line when there is none), for the journal.
wxString key_of(const std::string& line) {
    const std::string key = line.substr(0, line.find('='));
    const wxMBConvUTF8 lenient(wxMBConvUTF8::MAP_INVALID_UTF8_TO_OCTAL);
    return wxString(key.data(), lenient, key.size()).Strip(wxString::both);
}

std::string file_bytes(const wxString& path) {
    std::ifstream file(platform::to_narrow(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

} // namespace

settings_file_store::settings_file_store(const wxString& file_path)
    : settings_file_store(file_path, read_lines(file_path)) {}

settings_file_store::settings_file_store(const wxString& file_path, readable_text&& text)
    // The toolkit reads the whole stream while it is built: a temporary stream will do.
    : wxFileConfig(*std::make_unique<wxMemoryInputStream>(text.bytes.data(), text.bytes.size()),
                   wxConvUTF8),
      path(file_path), unreadable(std::move(text.bad_keys)) {
    // Texts are read as they were entered: a "$" in a camera password is not a variable.
    SetExpandEnvVars(false);
}

settings_file_store::readable_text settings_file_store::read_lines(const wxString& file_path) {
    readable_text text;
    const std::string all = file_bytes(file_path);
    for (size_t begin = 0; begin < all.size();) {
        const size_t end = std::min(all.find('\n', begin), all.size() - 1) + 1;
        const std::string line = all.substr(begin, end - begin);
        if (valid_utf8(line))
            text.bytes += line;
        else
            text.bad_keys.push_back(key_of(line));
        begin = end;
    }
    return text;
}

bool settings_file_store::Flush(bool) {
    if (!changed)
        return true;
    wxTempFileOutputStream file(path);
    if (!file.IsOk() || !Save(file, wxConvUTF8) || !file.Commit())
        return false;
    changed = false;
    return true;
}

bool settings_file_store::DoWriteString(const wxString& key, const wxString& value) {
    changed = true;
    return wxFileConfig::DoWriteString(key, value);
}

bool settings_file_store::DoWriteLong(const wxString& key, long value) {
    changed = true;
    return wxFileConfig::DoWriteLong(key, value);
}
