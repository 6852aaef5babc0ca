#pragma once
// A wide stream buffer with no buffer of its own that hands every character to the journal
// pane, taking the place of a standard stream's buffer for its whole life.

#include <ostream>
#include <streambuf>

class log_viewer;

class ui_redirector : public std::basic_streambuf<wchar_t> {
public:
    ui_redirector(std::wostream& stream, log_viewer* view);
    ~ui_redirector() override;
    ui_redirector(const ui_redirector&) = delete;
    ui_redirector& operator=(const ui_redirector&) = delete;

protected:
    int_type overflow(int_type ch) override;

private:
    std::wostream& stream;
    std::basic_streambuf<wchar_t>* previous;
    log_viewer* view;
};
