// GoogleTest main for programs whose tests create real windows on the X display.

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/log.h>

namespace {

class test_app : public wxApp {
public:
    bool OnInit() override { return true; }
};

} // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new test_app);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        fprintf(stderr, "cannot initialise wxWidgets (is there a display?)\n");
        return 2;
    }
    // Log messages of the toolkit go to stderr: its log dialog would wait for a click forever.
    std::unique_ptr<wxLog> default_target(wxLog::SetActiveTarget(new wxLogStderr));
    int result = 0;
    {
        // An active loop for the whole run, so that windows and thread events behave as in
        // the program.
        auto loop = std::make_unique<wxGUIEventLoop>();
        wxEventLoopActivator activate(loop.get());
        result = RUN_ALL_TESTS();
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
