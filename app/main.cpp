// The process entry point. GTK opens the display before the application object sees its
// command line, and an integrator checking an installation over ssh has none: --version and
// --help are answered here first. The cameras of --open are taken out first of all (the toolkit
// would drop a Cyrillic name). Anything else, GTK's own options included, goes to the toolkit.

#include "app/kestrel.h"

#include <cstdlib>
#include <wx/cmdline.h>
#include <wx/msgout.h>

wxIMPLEMENT_APP_NO_MAIN(kestrel);

namespace {

// Takes the parser's error messages during the early look: errors are reported once, by the
// toolkit's own parsing, after GTK has taken out its options.
class no_output : public wxMessageOutput {
public:
    void Output(const wxString&) override {}
};

bool answered_before_display(int argc, char** argv) {
    no_output quiet;
    wxMessageOutput* const previous = wxMessageOutput::Set(&quiet);
    wxCmdLineParser parser(argc, argv);
    describe_command_line(parser);
    const bool answered = answer_command_line(parser, parser.Parse(false));
    wxMessageOutput::Set(previous);
    return answered;
}

} // namespace

int main(int argc, char** argv) {
    set_cameras_to_open(take_cameras_to_open(argc, argv));
    if (answered_before_display(argc, argv))
        return EXIT_SUCCESS;
    return wxEntry(argc, argv);
}
