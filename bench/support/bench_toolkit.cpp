#include "bench_toolkit.h"

#include "media/image_threads.h"

#include <cstdio>
#include <memory>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/init.h>
#include <wx/log.h>
#include <wx/timer.h>

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

void run_event_loop_for(std::chrono::milliseconds length) {
    wxGUIEventLoop loop;
    wxTimer end;
    end.Bind(wxEVT_TIMER, [&loop](wxTimerEvent&) { loop.Exit(); });
    end.StartOnce(static_cast<int>(length.count()));
    loop.Run();
}

} // namespace bench_support
