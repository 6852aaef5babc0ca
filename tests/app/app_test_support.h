#pragma once
// Real parts for the tests of the whole recorder: the simulators and the test camera as child
// processes, the settings file written before the main window starts, the journal file read
// back row by row, trip folders checked with an independent XML parser and ffprobe.

#include "tests/support/child_process.h"
#include "tests/support/test_media.h"
#include "tests/support/tmpfs_mount.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>
#include <wx/string.h>

class camera_screen;
class kestrel_frame;
class wxMediaCtrl;
class wxWindow;

namespace app_test {

// Texts of the recorder's own, written in the sources as UTF-8.
inline wxString utf8(const char* text) {
    return wxString::FromUTF8(text);
}

// A tool from the project's tools folder, started with its options; the first line it prints
// (its address) is read at start. Killed and reaped when the object goes.
class tool_process {
public:
    tool_process(const std::string& tool, const std::vector<std::string>& options);
    ~tool_process();
    tool_process(const tool_process&) = delete;
    tool_process& operator=(const tool_process&) = delete;
    tool_process(tool_process&& other) noexcept = default;
    tool_process& operator=(tool_process&&) = delete;

    // The first line without its leading word ("port 4711" gives "4711").
    std::string address() const;
    // Ends the process at once, as a crash or a pulled cable would.
    void kill_now();

private:
    std::unique_ptr<test_support::child_process> process;
    std::string first_line;
};

// kestrel-coordsim on a port of its own (or the given one).
tool_process coordinate_simulator(const std::string& port = "0");
// kestrel-testcam serving a 320x240 MJPEG stream at 10 frames a second; address() is its URL.
// The low rate keeps two cameras within what a sanitizer build's GUI thread can paint.
tool_process test_camera(const std::string& pattern = "smpte");
// kestrel-dppsim with the options; address() is its device path.
tool_process path_sensor(const std::vector<std::string>& options = {});

// A TCP port on 127.0.0.1 that nothing listens on at the moment.
std::string free_port();
// True when something accepts a connection on 127.0.0.1 at the port.
bool port_answers(const std::string& port);

// Writes HOME/Meridian5/config/.kestrel with the key=value lines (UTF-8).
void write_settings(const std::string& home,
                    const std::vector<std::pair<std::string, std::string>>& values);
std::string settings_path(const std::string& home);

// One row of the journal file: its message and whether it is an error (red) row.
struct journal_row {
    wxString text;
    bool error = false;
};
std::vector<journal_row> journal_rows(const kestrel_frame& frame);
std::vector<journal_row> journal_rows(const std::string& journal_file);
std::vector<journal_row> rows_starting(const std::vector<journal_row>& rows,
                                       const wxString& prefix);

// The trip folders "<date time>[<camera>]" (or "... (2)") directly under the folder, sorted.
std::vector<std::string> trip_folders(const std::string& folder);

// One frame record of a data.idx as python3's XML parser reads it.
struct index_record {
    std::string file;
    long frame_in_file = -1;
};
// The records of the index; empty when the file does not parse.
std::vector<index_record> read_index(const std::string& path);
// Frames in the video as ffprobe counts them by decoding; -1 when it cannot be read.
long count_video_frames(const std::string& path);

// Sends a menu command to the main window as choosing the menu item does.
void send_command(kestrel_frame& frame, int command_id);
// The camera screens whose panes are open, in the order the panes were added.
std::vector<camera_screen*> camera_screens(kestrel_frame& frame);
// The camera screen in the pane of that name, or null.
camera_screen* camera_pane(kestrel_frame& frame, const wxString& camera_name);
// The players of the open review panes.
std::vector<wxMediaCtrl*> review_players(kestrel_frame& frame);
// Puts a floating pane's frame at the place, above the main window.
void place_floating_pane(kestrel_frame& frame, wxWindow* pane_window, int x, int y);

// Where screenshots go: $KESTREL_ARTIFACTS, else the test's build folder.
std::string artifacts_folder();
// Saves the whole X screen as a PNG; true when the file was written.
bool save_screenshot(const std::string& file);

// A tmpfs of that many MiB at a folder of its own that another program can fill (root only:
// ready() tells whether it could be mounted).
class small_disk {
public:
    small_disk(const std::string& folder, int size_mib);

    bool ready() const { return disk.ready(); }
    std::uintmax_t free_bytes() const;
    // Takes space with a file of its own until only `left` bytes are free (another program
    // filling the disk); a second call takes more.
    bool fill_until(std::uintmax_t left);
    // Gives back what the fillers took.
    void empty_fillers();

private:
    test_support::tmpfs_mount disk;
    int fillers = 0;
};

} // namespace app_test
