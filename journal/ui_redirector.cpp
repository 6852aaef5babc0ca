#include "journal/ui_redirector.h"

#include "journal/log_viewer.h"

ui_redirector::ui_redirector(std::wostream& target, log_viewer* journal_view)
    : stream(target), previous(target.rdbuf()), view(journal_view) {
    stream.rdbuf(this);
}

ui_redirector::~ui_redirector() {
    stream.rdbuf(previous);
}

ui_redirector::int_type ui_redirector::overflow(int_type ch) {
    if (traits_type::eq_int_type(ch, traits_type::eof()))
        return traits_type::not_eof(ch);
    view->take_character(traits_type::to_char_type(ch));
    return ch;
}
