#pragma once
// The application object: answers --version and --help, creates and shows the main window and
// catches what escapes the event loop.

#include <wx/app.h>

class kestrel_frame;
class wxCmdLineParser;

class kestrel : public wxApp {
public:
    bool OnInit() override;
    int OnRun() override;
    void OnInitCmdLine(wxCmdLineParser& parser) override;
    bool OnCmdLineParsed(wxCmdLineParser& parser) override;
    bool OnCmdLineHelp(wxCmdLineParser& parser) override;
    void OnUnhandledException() override;
    bool OnExceptionInMainLoop() override;

private:
    kestrel_frame* frame = nullptr; // owned by the toolkit
    // --version or --help was answered: no window, the program ends with success.
    bool answered_command_line = false;
};

wxDECLARE_APP(kestrel);

// The command line the program takes: --version and -h/--help.
void describe_command_line(wxCmdLineParser& parser);

// Prints the version or the help text on standard output when the parsed command line asks for
// one (Parse's result -1 is help); true when it did and the program has nothing more to do.
bool answer_command_line(const wxCmdLineParser& parser, int parse_result);

// Builds and shows the main window. A standard exception on the way is shown in the
// "C++ exception" box and gives null (the half-built window is gone); any other exception shows
// the fatal box and ends the process with code 1.
kestrel_frame* start_main_window();

// Shows the box for the exception being handled that escaped an event handler; true when the
// main loop may go on (a standard exception), false when the program must end.
bool report_escaped_exception();
