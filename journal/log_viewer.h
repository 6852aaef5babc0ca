#pragma once
// The journal pane: an HTML view of the run's journal that also writes the journal file.
// While it exists, std::wcout and std::wcerr end here; completed lines go, a whole row at a
// time, to the file (flushed at once) and into the pane.

#include "journal/ui_redirector_cerr.h"
#include "journal/ui_redirector_cout.h"

#include <fstream>
#include <memory>
#include <wx/filename.h>
#include <wx/html/htmlwin.h>

class wxHtmlContainerCell;

class log_viewer : public wxHtmlWindow {
public:
    log_viewer(wxWindow* parent, const wxFileName& file_name);
    ~log_viewer() override;

    // One character written to either standard wide stream.
    void take_character(wchar_t ch);

    // Everything shown in the pane so far, as HTML source.
    const wxString& page_source() const { return shown_source; }

private:
    void complete_line();
    void write_to_file(const wxString& line);
    void show_fragment(const wxString& html);
    void append_cell(std::unique_ptr<wxHtmlContainerCell> cell);
    bool shows_last_row() const;

    wxString current_line;     // characters since the last line end
    wxString pending_fragment; // completed lines not yet shown (an unfinished row)
    bool inside_row = false;
    bool fragment_is_row = false; // the pending fragment began with a row's first line
    wxString shown_source;
    wxHtmlContainerCell* current_block = nullptr;    // owned by the page's cell tree
    const wxHtmlContainerCell* block_page = nullptr; // the page that holds current_block
    int rows_in_block = 0;

    ui_redirector_cout cout_redirect;
    ui_redirector_cerr cerr_redirect;
    std::ofstream log_stream;
};
