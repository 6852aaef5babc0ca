#include "tests/support/gui_test.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/msgdlg.h>
#include <wx/window.h>

namespace test_support {

namespace {

// One round of the loop: every native event that is ready, then the queued events and idle
// processing (which also deletes windows whose Destroy() was deferred).
bool dispatch_ready_events() {
    wxEventLoopBase* const loop = wxEventLoopBase::GetActive();
    bool did_something = false;
    if (loop != nullptr) {
        while (loop->Pending()) {
            loop->Dispatch();
            did_something = true;
        }
    }
    if (wxTheApp != nullptr) {
        if (wxTheApp->HasPendingEvents()) {
            wxTheApp->ProcessPendingEvents();
            did_something = true;
        }
        if (loop != nullptr)
            did_something |= loop->ProcessIdle();
        else
            did_something |= wxTheApp->ProcessIdle();
    }
    return did_something;
}

void wait_a_little() {
    wxEventLoopBase* const loop = wxEventLoopBase::GetActive();
    if (loop != nullptr)
        loop->DispatchTimeout(5);
    else
        std::this_thread::sleep_for(5ms);
}

} // namespace

bool pump_events_until(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        dispatch_ready_events();
        if (predicate())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return predicate();
        wait_a_little();
    }
}

void pump_events_for(std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!dispatch_ready_events())
            wait_a_little();
    }
}

void pump_pending_events() {
    // A bounded number of rounds: idle handlers may ask for more idle time forever.
    for (int round = 0; round < 100 && dispatch_ready_events(); ++round) {
    }
}

void destroy_window(wxWindow* window) {
    if (window == nullptr)
        return;
    wxWindowID const id = window->GetId();
    wxWindow* const parent = window->GetParent();
    window->Destroy();
    pump_events_until([&] {
        if (parent != nullptr)
            return wxWindow::FindWindowById(id, parent) != window;
        return wxTopLevelWindows.Find(window) == nullptr && !wxPendingDelete.Member(window);
    });
}

std::chrono::milliseconds gui_tick_probe::longest_gap() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(gap);
}

std::chrono::milliseconds gui_tick_probe::longest_gap_ended(clock::time_point origin) const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(gap_ended - origin);
}

void gui_tick_probe::Notify() {
    const auto now = clock::now();
    if (last_tick != clock::time_point() && now - last_tick > gap) {
        gap = now - last_tick;
        gap_ended = now;
    }
    last_tick = now;
    on_tick(now);
}

message_box_catcher::message_box_catcher(int code) : return_code(code) {
    Register();
}

message_box_catcher::~message_box_catcher() {
    Unregister();
}

int message_box_catcher::Enter(wxDialog* dialog) {
    caught_dialog record;
    if (auto* const box = dynamic_cast<wxMessageDialogBase*>(dialog)) {
        record.caption = box->GetCaption();
        record.message = box->GetMessage();
    } else {
        record.caption = dialog->GetTitle();
    }
    caught.push_back(record);
    return return_code;
}

void message_box_catcher::Exit(wxDialog*) {}

log_catcher::log_catcher() : previous(wxLog::SetActiveTarget(this)) {}

log_catcher::~log_catcher() {
    wxLog::FlushActive();
    wxLog::SetActiveTarget(previous);
}

void log_catcher::DoLogRecord(wxLogLevel level, const wxString& text, const wxLogRecordInfo&) {
    recorded.push_back({level, text});
}

temporary_home::temporary_home() {
    const std::filesystem::path pattern =
        std::filesystem::temp_directory_path() / "kestrel-home-XXXXXX";
    std::string buffer = pattern.string();
    if (mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("cannot create a temporary home folder");
    folder = buffer;
    if (const char* const home = std::getenv("HOME")) {
        had_home = true;
        previous_home = home;
    }
    setenv("HOME", folder.c_str(), 1);
}

temporary_home::~temporary_home() {
    if (had_home)
        setenv("HOME", previous_home.c_str(), 1);
    else
        unsetenv("HOME");
    std::error_code ignored;
    // A test may have made parts read-only to provoke failures: give them back first.
    for (auto it = std::filesystem::recursive_directory_iterator(
             folder, std::filesystem::directory_options::skip_permission_denied, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(folder, ignored);
}

std::string read_file_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

wxString read_file_utf8(const std::string& path) {
    const std::string bytes = read_file_bytes(path);
    return wxString::FromUTF8(bytes.data(), bytes.size());
}

} // namespace test_support
