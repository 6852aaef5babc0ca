#include "bench_toolkit.h"

#include "media/image_threads.h"

#include <cstdio>
#include <memory>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/log.h>

namespace bench_support {

namespace {

class bench_app : public wxApp {
public:
    bool OnInit() override { return true; }
};

} // namespace

int run_under_toolkit(int argc, char** argv, const std::function<int()>& measure) {
    wxApp::SetInstance(new bench_app);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit()) {
        std::fprintf(stderr, "cannot initialise wxWidgets (is there a display?)\n");
        return 2;
    }
    delete wxLog::SetActiveTarget(new wxLogStderr);
    // As the recorder itself starts.
    media::keep_image_work_on_calling_threads();
    int status = 0;
    {
        auto loop = std::make_unique<wxGUIEventLoop>();
        wxEventLoopActivator activate(loop.get());
        status = measure();
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    return status;
}

} // namespace bench_support
