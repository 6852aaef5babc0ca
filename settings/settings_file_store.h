#pragma once
// The settings store on its file. The file is read line by line: a line whose bytes are not
// valid UTF-8 is left out and its key named, so one bad byte costs that key (it reads as its
// default) instead of every key of the file. The file is written only by Flush, which the main
// window calls once the settings dialog is confirmed.

#include <vector>
#include <wx/fileconf.h>
#include <wx/string.h>

class settings_file_store : public wxFileConfig {
public:
    // A missing or unreadable file gives a store in which every key has its default.
    explicit settings_file_store(const wxString& file_path);

    // The keys whose lines were not valid text, in file order (bytes that are not UTF-8 shown
    // as octal escapes).
    const std::vector<wxString>& unreadable_keys() const { return unreadable; }

    // Writes the whole file when something was written to the store; the file is replaced in
    // one step, so a failure leaves the old file.
    bool Flush(bool current_only = false) override;

protected:
    bool DoWriteString(const wxString& key, const wxString& value) override;
    bool DoWriteLong(const wxString& key, long value) override;

private:
    struct readable_text;
    static readable_text read_lines(const wxString& file_path);
    settings_file_store(const wxString& file_path, readable_text&& text);

    wxString path;
    std::vector<wxString> unreadable;
    bool changed = false;
};
