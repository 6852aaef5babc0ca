#include "journal/log_viewer.h"

#include "platform/text.h"

#include <algorithm>
#include <iostream>
#include <memory>
#include <utility>
#include <wx/dcclient.h>
#include <wx/html/htmlcell.h>
#include <wx/html/winpars.h>

namespace {

#ifdef _WIN32
std::wstring file_path(const wxFileName& name) {
    return name.GetFullPath().ToStdWstring();
}
#else
std::string file_path(const wxFileName& name) {
    return platform::to_narrow(name.GetFullPath());
}
#endif

// Rows are grouped into blocks of cells so that adding a row lays out only the newest block
// and the short list of blocks, never the whole journal.
constexpr int rows_per_block = 64;

// A block's rows each carry their own font and colour, so a block outside the visible part
// has nothing to pass on to what follows and is skipped when painting. Only a selection, whose
// state is tracked cell by cell, needs the walk through it.
class journal_block : public wxHtmlContainerCell {
public:
    explicit journal_block(wxHtmlContainerCell* page) : wxHtmlContainerCell(page) {}
    void DrawInvisible(wxDC& dc, int x, int y, wxHtmlRenderingInfo& info) override {
        if (info.GetSelection() != nullptr)
            wxHtmlContainerCell::DrawInvisible(dc, x, y, info);
    }
};

bool is_row_start(const wxString& line) {
    return line.Strip(wxString::both).Lower() == "<tr>";
}

bool is_row_end(const wxString& line) {
    return line.Strip(wxString::both).Lower() == "</tr>";
}

} // namespace

log_viewer::log_viewer(wxWindow* parent, const wxFileName& file_name)
    : wxHtmlWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxHW_SCROLLBAR_AUTO,
                   "htmlWindow"),
      cout_redirect(this), cerr_redirect(this), log_stream(file_path(file_name), std::ios::out) {
    std::wcout << L"<html>" << std::endl;
    std::wcout << L"<table>" << std::endl;
    std::wcout << L"<tbody>" << std::endl;
}

log_viewer::~log_viewer() {
    write_to_file(pending_fragment + current_line);
}

void log_viewer::take_character(wchar_t ch) {
    if (ch == L'\n')
        complete_line();
    else
        current_line += ch;
}

void log_viewer::complete_line() {
    const wxString line = current_line;
    current_line.clear();

    if (pending_fragment.empty())
        fragment_is_row = is_row_start(line);
    if (is_row_start(line))
        inside_row = true;
    pending_fragment += line + "\n";
    if (is_row_end(line))
        inside_row = false;
    if (inside_row)
        return;
    const wxString fragment = pending_fragment;
    pending_fragment.clear();
    // A row reaches the file in one write, so whoever reads the journal while it grows (or
    // after a power cut) never finds half a row.
    write_to_file(fragment);
    show_fragment(fragment);
}

void log_viewer::write_to_file(const wxString& text) {
    if (text.empty() || !log_stream.is_open())
        return;
    log_stream << platform::to_narrow(text);
    log_stream.flush();
}

void log_viewer::show_fragment(const wxString& html) {
    shown_source += html;
    // A row on its own is not a table yet: give it one so it looks like the table it belongs to.
    const wxString source = fragment_is_row ? "<table>" + html + "</table>" : html;

    wxClientDC dc(this);
    dc.SetMapMode(wxMM_TEXT);
    wxHtmlWinParser* const parser = GetParser();
    parser->SetDC(&dc);
    std::unique_ptr<wxHtmlContainerCell> cell(
        static_cast<wxHtmlContainerCell*>(parser->Parse(source)));
    if (cell == nullptr)
        return;
    cell->SetIndent(0, wxHTML_INDENT_VERTICAL);
    append_cell(std::move(cell));
}

void log_viewer::append_cell(std::unique_ptr<wxHtmlContainerCell> cell) {
    wxHtmlContainerCell* const page = GetInternalRepresentation();
    if (page == nullptr)
        return;
    // A page set anew (SetPage) has dropped the blocks: start with a fresh one.
    if (current_block == nullptr || rows_in_block == rows_per_block || block_page != page) {
        current_block = new journal_block(page);
        block_page = page;
        rows_in_block = 0;
    }
    const bool follow = shows_last_row();
    current_block->InsertCell(cell.release());
    ++rows_in_block;
    // The page keeps its last layout while its own children stay the same; setting its
    // alignment again tells it to lay them out anew (blocks that did not change are cheap).
    page->SetAlignHor(page->GetAlignHor());
    CreateLayout();
    // Like a terminal: a view at the newest row follows new rows; one the operator scrolled
    // back stays where it is.
    if (follow)
        Scroll(-1, GetScrollRange(wxVERTICAL));
    Refresh();
}

bool log_viewer::shows_last_row() const {
    int unit_x = 0;
    int unit_y = 0;
    GetScrollPixelsPerUnit(&unit_x, &unit_y);
    int start_x = 0;
    int start_y = 0;
    GetViewStart(&start_x, &start_y);
    const int visible_bottom = start_y * std::max(unit_y, 1) + GetClientSize().y;
    return visible_bottom + std::max(unit_y, 1) >= GetVirtualSize().y;
}
