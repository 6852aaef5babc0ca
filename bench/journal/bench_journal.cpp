// Cost of one journal row in a live pane as the journal grows: 5,000 rows, each followed by a
// round of the event loop (layout, paint) as in the running program, timed in processor time
// of this process. The time per row of the last 1,000 rows against the first 1,000 shows
// whether a long journal slows the program down.

#include "journal/journal.h"
#include "journal/log_viewer.h"
#include "tests/support/gui_test.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>
#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/sizer.h>

namespace {

constexpr int row_count = 5000;
constexpr int sample = 1000;

class bench_app : public wxApp {
public:
    bool OnInit() override { return true; }
};

// Processor time of this process, so that other programs on the machine do not count.
double cpu_seconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Seconds per row over rows [first, first + sample): the median of ten runs of a tenth of the
// sample each, so that a single hiccup of the machine does not decide the figure.
double time_rows(int first) {
    constexpr int runs = 10;
    std::vector<double> per_row;
    for (int run = 0; run < runs; ++run) {
        const double start = cpu_seconds();
        for (int i = 0; i < sample / runs; ++i) {
            const int number = first + run * (sample / runs) + i;
            log_info(wxString::Format(
                wxString::FromUTF8("Строка журнала номер %d: <данные> & текст"), number));
            test_support::pump_pending_events();
        }
        per_row.push_back((cpu_seconds() - start) / (sample / runs));
    }
    std::sort(per_row.begin(), per_row.end());
    return (per_row[runs / 2 - 1] + per_row[runs / 2]) / 2;
}

int run() {
    test_support::temporary_home home;
    auto* const frame =
        new wxFrame(nullptr, wxID_ANY, "bench", wxDefaultPosition, wxSize(1000, 700));
    auto* const view =
        new log_viewer(frame, wxFileName(wxString::FromUTF8(home.path()), "bench.html"));
    auto* const sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(view, 1, wxEXPAND);
    frame->SetSizer(sizer);
    frame->Show();
    test_support::pump_events_for(std::chrono::milliseconds(300));

    double first = 0.0;
    double last = 0.0;
    for (int block = 0; block < row_count / sample; ++block) {
        const double per_row = time_rows(block * sample);
        std::printf("rows %5d-%5d: %.1f us per row\n", block * sample + 1, (block + 1) * sample,
                    per_row * 1e6);
        if (block == 0)
            first = per_row;
        last = per_row;
    }
    test_support::destroy_window(frame);
    std::printf("first 1000 rows %.1f us/row, last 1000 rows %.1f us/row, ratio=%.3f\n",
                first * 1e6, last * 1e6, last / first);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    wxApp::SetInstance(new bench_app);
    if (!wxEntryStart(argc, argv) || !wxTheApp->CallOnInit())
        return 2;
    int result = 0;
    {
        auto loop = std::make_unique<wxGUIEventLoop>();
        wxEventLoopActivator activate(loop.get());
        result = run();
    }
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
