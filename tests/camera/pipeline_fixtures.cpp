#include "pipeline_fixtures.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <wx/sstream.h>

namespace fs = std::filesystem;

namespace {

// Both tools discard their errors here; their first line says where they serve.
test_support::child_process start_quiet_tool(const std::string& tool,
                                             const std::vector<std::string>& options) {
    return test_support::start_tool(tool, options, {true, true});
}

std::vector<std::string> joined(std::vector<std::string> first,
                                const std::vector<std::string>& rest) {
    first.insert(first.end(), rest.begin(), rest.end());
    return first;
}

} // namespace

test_camera::test_camera(const std::vector<std::string>& options)
    : process(start_quiet_tool("testcam/kestrel-testcam", options)),
      first_line(process.read_line()) {
    if (first_line.rfind("url ", 0) != 0)
        throw std::runtime_error("test camera did not start: " + first_line);
}

std::string test_camera::url() const {
    return first_line.substr(4);
}

std::string test_camera::port() const {
    const std::string address = url();
    const auto colon = address.rfind(':');
    return address.substr(colon + 1, address.find('/', colon) - colon - 1);
}

void test_camera::stop_serving() {
    process.signal(SIGUSR1);
    if (process.read_line() != "stopped")
        throw std::runtime_error("test camera did not stop serving");
}

void test_camera::serve_again() {
    process.signal(SIGUSR2);
    if (process.read_line() != "serving")
        throw std::runtime_error("test camera did not serve again");
}

void test_camera::freeze() {
    process.signal(SIGSTOP);
}

void test_camera::thaw() {
    process.signal(SIGCONT);
}

coordinate_simulator::coordinate_simulator(const std::vector<std::string>& options)
    : process(start_quiet_tool("coordsim/kestrel-coordsim", joined({"--quiet"}, options))),
      first_line(process.read_line()) {
    if (first_line.rfind("port ", 0) != 0)
        throw std::runtime_error("coordinate simulator did not start: " + first_line);
}

std::string coordinate_simulator::port() const {
    return first_line.substr(5);
}

void coordinate_simulator::kill_now() {
    process.kill_now();
}

void coordinate_simulator::freeze() {
    process.signal(SIGSTOP);
}

void coordinate_simulator::thaw() {
    process.signal(SIGCONT);
}

std::unique_ptr<wxFileConfig>
make_settings(const std::vector<std::pair<std::string, std::string>>& values) {
    wxStringInputStream empty(wxString{});
    auto config = std::make_unique<wxFileConfig>(empty);
    for (const auto& [key, value] : values)
        config->Write(wxString::FromUTF8(key), wxString::FromUTF8(value));
    return config;
}

std::vector<std::string> folders_in(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_directory())
            found.push_back(entry.path().string());
    return found;
}

std::vector<index_entry> read_index(const std::string& path) {
    // Tab-separated: file names and times hold spaces.
    const std::string script =
        "import sys, xml.etree.ElementTree as t\n"
        "for f in t.parse(sys.argv[1]).getroot().findall('frame'):\n"
        "    print('\\t'.join((f.get('frame_in_file'), f.get('frame'), f.get('abscoord'),\n"
        "                     f.get('time'), f.get('file'))))\n";
    const std::string text =
        test_support::run_command("python3 -c " + test_support::shell_quoted(script) + " " +
                                  test_support::shell_quoted(path) + " 2>/dev/null");
    std::vector<index_entry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string frame_in_file;
        std::string frame;
        std::string abscoord;
        index_entry entry;
        std::getline(fields, frame_in_file, '\t');
        std::getline(fields, frame, '\t');
        std::getline(fields, abscoord, '\t');
        std::getline(fields, entry.time, '\t');
        std::getline(fields, entry.file);
        entry.frame_in_file = std::stol(frame_in_file);
        entry.frame = std::stol(frame);
        entry.abscoord = std::stod(abscoord);
        entries.push_back(entry);
    }
    return entries;
}

long count_video_frames(const std::string& path) {
    const std::string text = test_support::run_command(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=nb_read_frames -of csv=p=0 " +
        test_support::shell_quoted(path));
    return text.empty() ? -1 : std::stol(text);
}

cv::Mat decoded_by_ffmpeg(const std::string& source, int number, cv::Size size,
                          const std::string& input_options) {
    const std::string command = "ffmpeg -v error " + input_options + " -i '" + source +
                                "' -vf 'select=gte(n\\," + std::to_string(number) +
                                ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 -";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    cv::Mat rgb(size, CV_8UC3);
    if (!pipe || std::fread(rgb.data, 1, rgb.total() * 3, pipe.get()) != rgb.total() * 3)
        return cv::Mat();
    return rgb;
}
