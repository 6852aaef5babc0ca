#pragma once
// Support for tests that need real windows.
//
// Link the library `kestrel_test_support` (it brings its own GoogleTest main, so do not link
// gtest_main) and give the test the label `display`; it runs under scripts/headless.sh, which
// provides an X display. The main initialises wxWidgets with a minimal application and keeps
// an event loop active for the whole run, so windows can be created in any test.
//
//   TEST(my_window, shows_rows) {
//       test_support::temporary_home home;          // HOME is a fresh empty folder
//       test_support::message_box_catcher boxes;    // modal boxes are recorded, not shown
//       auto* frame = new wxFrame(nullptr, wxID_ANY, "t");
//       frame->Show();
//       ASSERT_TRUE(test_support::pump_events_until([&] { return frame->IsShown(); }));
//       test_support::destroy_window(frame);        // destroyed and gone before it returns
//   }
//
// Thread events (wxQueueEvent from a worker) are handled only while the loop is pumped: wait
// for them with pump_events_until, never with sleeps.
//
// tests/support/child_process.h runs a real executable as a child process (own HOME, locale),
// and run_command runs a shell command such as xdotool to answer the child's dialogs.

#include <chrono>
#include <functional>
#include <string>
#include <vector>
#include <wx/log.h>
#include <wx/modalhook.h>
#include <wx/string.h>
#include <wx/timer.h>

class wxWindow;

namespace test_support {

using namespace std::chrono_literals;

// Runs the event loop (native events, pending and thread events, idle handling and deferred
// deletions) until the predicate holds or the timeout passes; returns the predicate's last value.
bool pump_events_until(const std::function<bool()>& predicate,
                       std::chrono::milliseconds timeout = 10s);

// Runs the event loop for the given time.
void pump_events_for(std::chrono::milliseconds duration);

// Runs the event loop until nothing is left to do at the moment (no native or pending events).
void pump_pending_events();

// Destroys a window and pumps until the toolkit has really deleted it.
void destroy_window(wxWindow* window);

// How long the GUI thread may leave a timer tick or a click unanswered. A sanitizer build runs
// every thread several times slower on the same cores, and runs beside other sanitized tests on
// them, so it gets more; a GUI thread waiting for a camera or a disk would still miss either by
// seconds.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr std::chrono::milliseconds gui_answer_bound{1000};
#else
inline constexpr std::chrono::milliseconds gui_answer_bound{200};
#endif

// Started with Start(20), ticks on the GUI thread and keeps the longest wait between two ticks:
// how long a click could have gone unanswered. A subclass watches more at each tick.
class gui_tick_probe : public wxTimer {
public:
    using clock = std::chrono::steady_clock;

    std::chrono::milliseconds longest_gap() const;
    // When the longest gap ended, from `origin`: for a failure message.
    std::chrono::milliseconds longest_gap_ended(clock::time_point origin) const;

    void Notify() final;

protected:
    virtual void on_tick(clock::time_point) {}

private:
    clock::time_point last_tick;
    clock::duration gap{};
    clock::time_point gap_ended;
};

// One modal dialog the catcher ended.
struct caught_dialog {
    wxString caption;
    wxString message; // empty for dialogs that are not message boxes
};

// While it exists, every modal dialog (wxMessageBox included) is recorded and ended at once
// with the chosen return code instead of blocking the test.
class message_box_catcher : public wxModalDialogHook {
public:
    explicit message_box_catcher(int return_code = wxID_OK);
    ~message_box_catcher() override;
    message_box_catcher(const message_box_catcher&) = delete;
    message_box_catcher& operator=(const message_box_catcher&) = delete;

    const std::vector<caught_dialog>& dialogs() const { return caught; }
    void set_return_code(int code) { return_code = code; }

protected:
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog* dialog) override;

private:
    int return_code;
    std::vector<caught_dialog> caught;
};

// While it exists, every message logged through wxLog (wxLogError, the toolkit's own
// wxLogSysError, ...) is recorded here instead of reaching the default target. The test main
// already sends log messages to stderr rather than to the toolkit's blocking log dialog.
class log_catcher : public wxLog {
public:
    log_catcher();
    ~log_catcher() override;
    log_catcher(const log_catcher&) = delete;
    log_catcher& operator=(const log_catcher&) = delete;

    struct message {
        wxLogLevel level;
        wxString text;
    };
    // Messages logged on the GUI thread, and those of other threads once the loop was pumped.
    const std::vector<message>& messages() const { return recorded; }

protected:
    void DoLogRecord(wxLogLevel level, const wxString& text, const wxLogRecordInfo& info) override;

private:
    wxLog* previous;
    std::vector<message> recorded;
};

// A fresh empty folder that HOME points at while the object lives; afterwards HOME is what it
// was and the folder is deleted with everything in it.
class temporary_home {
public:
    temporary_home();
    ~temporary_home();
    temporary_home(const temporary_home&) = delete;
    temporary_home& operator=(const temporary_home&) = delete;

    // The folder, without a trailing separator.
    const std::string& path() const { return folder; }

private:
    std::string folder;
    bool had_home = false;
    std::string previous_home;
};

// A whole file as bytes; empty when it cannot be read.
std::string read_file_bytes(const std::string& path);

// A whole file decoded as UTF-8 (invalid UTF-8 gives an empty text).
wxString read_file_utf8(const std::string& path);

} // namespace test_support
