#include "tests/app/app_test_support.h"

#include "app/kestrel_frame.h"
#include "camera/camera_screen.h"
#include "platform/free_space.h"
#include "tests/support/gui_test.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>
#include <wx/aui/floatpane.h>
#include <wx/mediactrl.h>

namespace fs = std::filesystem;

namespace app_test {

namespace {

using test_support::shell_quoted;

// A socket bound to 127.0.0.1 at the port ("0": any free one); -1 on failure.
int bound_socket(int port) {
    const int socket_fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (socket_fd >= 0 &&
        bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        return socket_fd;
    if (socket_fd >= 0)
        close(socket_fd);
    return -1;
}

} // namespace

tool_process::tool_process(const std::string& tool, const std::vector<std::string>& options)
    : process(std::make_unique<test_support::child_process>(
          test_support::tool_path(tool), options,
          std::vector<std::pair<std::string, std::string>>{},
          test_support::child_streams{true, true})),
      first_line(process->read_line()) {
    if (first_line.find(' ') == std::string::npos) {
        kill_now();
        throw std::runtime_error(tool + " did not start: " + first_line);
    }
}

tool_process::~tool_process() {
    kill_now();
}

std::string tool_process::address() const {
    return first_line.substr(first_line.find(' ') + 1);
}

void tool_process::kill_now() {
    if (process)
        process->kill_now();
}

tool_process coordinate_simulator(const std::string& port) {
    return tool_process("coordsim/kestrel-coordsim", {"--quiet", "--port", port});
}

tool_process test_camera(const std::string& pattern) {
    return tool_process("testcam/kestrel-testcam",
                        {"--port", "0", "--size", "320x240", "--fps", "10", "--codec", "mjpeg",
                         "--pattern", pattern});
}

tool_process path_sensor(const std::vector<std::string>& options) {
    return tool_process("dppsim/kestrel-dppsim", options);
}

std::string free_port() {
    const int socket_fd = bound_socket(0);
    if (socket_fd < 0)
        throw std::runtime_error("no free port");
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(socket_fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(socket_fd);
    return std::to_string(ntohs(address.sin_port));
}

bool port_answers(const std::string& port) {
    const int socket_fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(std::stoi(port)));
    const bool answers =
        connect(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(socket_fd);
    return answers;
}

std::string settings_path(const std::string& home) {
    return home + "/Meridian5/config/.kestrel";
}

void write_settings(const std::string& home,
                    const std::vector<std::pair<std::string, std::string>>& values) {
    fs::create_directories(home + "/Meridian5/config");
    std::ofstream file(settings_path(home));
    for (const auto& [key, value] : values)
        file << key << '=' << value << '\n';
}

std::vector<journal_row> journal_rows(const kestrel_frame& frame) {
    return journal_rows(frame.journal_file().GetFullPath().utf8_string());
}

std::vector<journal_row> journal_rows(const std::string& journal_file) {
    const wxString html = test_support::read_file_utf8(journal_file);
    const wxString opening = "<font color='";
    std::vector<journal_row> rows;
    size_t at = 0;
    while ((at = html.find(opening, at)) != wxString::npos) {
        const size_t colour_end = html.find("'>", at);
        const size_t text_end = html.find("</font>", colour_end);
        if (colour_end == wxString::npos || text_end == wxString::npos)
            break;
        const wxString colour =
            html.substr(at + opening.length(), colour_end - at - opening.length());
        rows.push_back({html.substr(colour_end + 2, text_end - colour_end - 2), colour == "red"});
        at = text_end;
    }
    return rows;
}

std::vector<journal_row> rows_starting(const std::vector<journal_row>& rows,
                                       const wxString& prefix) {
    std::vector<journal_row> found;
    std::copy_if(rows.begin(), rows.end(), std::back_inserter(found),
                 [&](const journal_row& row) { return row.text.StartsWith(prefix); });
    return found;
}

std::vector<std::string> trip_folders(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_directory() && entry.path().filename().string().find('[') != std::string::npos)
            found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<index_record> read_index(const std::string& path) {
    const std::string script = "import sys, xml.etree.ElementTree as t\n"
                               "for f in t.parse(sys.argv[1]).getroot().findall('frame'):\n"
                               "    print(f.get('frame_in_file'), f.get('file'))\n";
    std::istringstream lines(test_support::run_command("python3 -c " + shell_quoted(script) + " " +
                                                       shell_quoted(path) + " 2>/dev/null"));
    std::vector<index_record> records;
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        index_record record;
        fields >> record.frame_in_file;
        std::getline(fields >> std::ws, record.file);
        records.push_back(record);
    }
    return records;
}

long count_video_frames(const std::string& path) {
    const std::string text = test_support::run_command(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
        "-of csv=p=0 " +
        shell_quoted(path));
    return text.empty() ? -1 : std::atol(text.c_str());
}

void send_command(kestrel_frame& frame, int command_id) {
    wxCommandEvent choice(wxEVT_MENU, command_id);
    choice.SetEventObject(&frame);
    frame.ProcessWindowEvent(choice);
}

namespace {

template <typename Window> std::vector<Window*> pane_windows(kestrel_frame& frame) {
    std::vector<Window*> found;
    const wxAuiPaneInfoArray& panes = frame.panes().GetAllPanes();
    for (size_t i = 0; i < panes.GetCount(); ++i)
        if (auto* const window = dynamic_cast<Window*>(panes.Item(i).window))
            found.push_back(window);
    return found;
}

} // namespace

std::vector<camera_screen*> camera_screens(kestrel_frame& frame) {
    return pane_windows<camera_screen>(frame);
}

camera_screen* camera_pane(kestrel_frame& frame, const wxString& camera_name) {
    const wxAuiPaneInfo& pane = frame.panes().GetPane(camera_name);
    return pane.IsOk() ? dynamic_cast<camera_screen*>(pane.window) : nullptr;
}

std::vector<wxMediaCtrl*> review_players(kestrel_frame& frame) {
    return pane_windows<wxMediaCtrl>(frame);
}

void place_floating_pane(kestrel_frame& frame, wxWindow* pane_window, int x, int y) {
    wxAuiPaneInfo& pane = frame.panes().GetPane(pane_window);
    pane.FloatingPosition(x, y);
    frame.panes().Update();
    if (pane.frame != nullptr) {
        pane.frame->Move(x, y);
        // A window manager may still be stacking the maximised main window over it.
        pane.frame->Raise();
    }
}

std::string artifacts_folder() {
    const char* const chosen = std::getenv("KESTREL_ARTIFACTS");
    const std::string folder = chosen != nullptr && *chosen != '\0' ? chosen : KESTREL_TEST_OUTPUT;
    fs::create_directories(folder);
    return folder;
}

bool save_screenshot(const std::string& file) {
    fs::remove(file);
    test_support::run_command("import -window root " + shell_quoted(file) + " 2>/dev/null");
    return fs::exists(file) && fs::file_size(file) > 0;
}

small_disk::small_disk(const std::string& folder, int size_mib)
    : disk(folder, "size=" + std::to_string(size_mib) + "m") {}

std::uintmax_t small_disk::free_bytes() const {
    return platform::available_bytes(wxString::FromUTF8(disk.path())).value_or(0);
}

bool small_disk::fill_until(std::uintmax_t left) {
    const std::uintmax_t take = free_bytes() > left ? free_bytes() - left : 0;
    const std::string file = disk.path() + "/filler" + std::to_string(fillers++);
    const int descriptor = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644);
    const bool taken =
        descriptor >= 0 && posix_fallocate(descriptor, 0, static_cast<off_t>(take)) == 0;
    if (descriptor >= 0)
        ::close(descriptor);
    return taken;
}

void small_disk::empty_fillers() {
    for (int i = 0; i < fillers; ++i)
        fs::remove(disk.path() + "/filler" + std::to_string(i));
}

} // namespace app_test
