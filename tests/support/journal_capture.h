#pragma once
// Catches the journal's rows: while it lives, the wide standard streams that the journal
// writes to (information to std::wcout, errors to std::wcerr) end in strings.

#include <sstream>
#include <string>
#include <vector>

class journal_capture {
public:
    journal_capture();
    ~journal_capture();
    journal_capture(const journal_capture&) = delete;
    journal_capture& operator=(const journal_capture&) = delete;

    // What reached each stream so far, as UTF-8.
    std::string information() const;
    std::string errors() const;

    // One row as written: its text and whether it is red.
    struct row {
        std::wstring text;
        bool error;
    };
    // Every row, the information rows first.
    std::vector<row> rows() const;
    // Rows whose text contains the fragment.
    std::vector<row> rows_with(const std::wstring& fragment) const;

private:
    std::wstringbuf information_text;
    std::wstringbuf error_text;
    std::wstreambuf* previous_out;
    std::wstreambuf* previous_error;
};
