#pragma once
// Catches the journal's rows: while it lives, the wide standard streams that the journal
// writes to (information to std::wcout, errors to std::wcerr) end in strings.

#include <sstream>
#include <string>

class journal_capture {
public:
    journal_capture();
    ~journal_capture();
    journal_capture(const journal_capture&) = delete;
    journal_capture& operator=(const journal_capture&) = delete;

    // What reached each stream so far, as UTF-8.
    std::string information() const;
    std::string errors() const;

private:
    std::wstringbuf information_text;
    std::wstringbuf error_text;
    std::wstreambuf* previous_out;
    std::wstreambuf* previous_error;
};
