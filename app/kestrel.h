#pragma once
// The application object: answers --version and --help, creates and shows the main window,
// opens the cameras named by --open and catches what escapes the event loop.

#include <optional>
#include <vector>
#include <wx/app.h>
#include <wx/string.h>

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

// The command line the program takes: --version, -h/--help and --open.
void describe_command_line(wxCmdLineParser& parser);

// Takes every "--open NAMES" (or "--open=NAMES") out of the arguments before the toolkit sees
// them, and returns the names (UTF-8, split at commas, blanks trimmed). The toolkit converts
// its arguments by the process locale, "C" here, which has no Cyrillic: a name such as
// "Котел" would be dropped. A trailing "--open" without names stays for the toolkit to refuse.
std::vector<wxString> take_cameras_to_open(int& argc, char** argv);
// Remembers what take_cameras_to_open found, for the application to open after start-up.
void set_cameras_to_open(const std::vector<wxString>& names);

// The camera a name of --open means: "front" or "Котел", "back" or "Дизель" (the Latin names in
// any case); nothing for any other name.
std::optional<wxString> camera_named(const wxString& name);

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
