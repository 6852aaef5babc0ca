#include "pipeline_fixtures.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/sstream.h>

extern char** environ;

namespace fs = std::filesystem;

child_process::child_process(const std::vector<std::string>& arguments) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[1]);
    output = pipe_ends[0];
    if (failed != 0) {
        close(output);
        throw std::runtime_error("cannot start " + arguments[0]);
    }
    line = next_line();
}

child_process::~child_process() {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    close(output);
}

void child_process::signal(int number) const {
    kill(pid, number);
}

std::string child_process::next_line() {
    std::string text;
    char ch = 0;
    while (read(output, &ch, 1) == 1 && ch != '\n')
        text += ch;
    return text;
}

test_camera::test_camera(const std::vector<std::string>& options)
    : child_process([&] {
          std::vector<std::string> arguments{KESTREL_TOOLS_DIR "/testcam/kestrel-testcam"};
          arguments.insert(arguments.end(), options.begin(), options.end());
          return arguments;
      }()) {
    if (first_line().rfind("url ", 0) != 0)
        throw std::runtime_error("test camera did not start: " + first_line());
}

std::string test_camera::url() const {
    return first_line().substr(4);
}

std::string test_camera::port() const {
    const std::string address = url();
    const auto colon = address.rfind(':');
    return address.substr(colon + 1, address.find('/', colon) - colon - 1);
}

void test_camera::stop_serving() {
    signal(SIGUSR1);
    if (next_line() != "stopped")
        throw std::runtime_error("test camera did not stop serving");
}

void test_camera::serve_again() {
    signal(SIGUSR2);
    if (next_line() != "serving")
        throw std::runtime_error("test camera did not serve again");
}

coordinate_simulator::coordinate_simulator(const std::vector<std::string>& options)
    : child_process([&] {
          std::vector<std::string> arguments{KESTREL_TOOLS_DIR "/coordsim/kestrel-coordsim",
                                             "--quiet"};
          arguments.insert(arguments.end(), options.begin(), options.end());
          return arguments;
      }()) {
    if (first_line().rfind("port ", 0) != 0)
        throw std::runtime_error("coordinate simulator did not start: " + first_line());
}

std::string coordinate_simulator::port() const {
    return first_line().substr(5);
}

journal_capture::journal_capture()
    : previous_out(std::wcout.rdbuf(info.rdbuf())), previous_err(std::wcerr.rdbuf(errors.rdbuf())) {
}

journal_capture::~journal_capture() {
    std::wcout.rdbuf(previous_out);
    std::wcerr.rdbuf(previous_err);
}

namespace {

// Row texts in the order written: the text inside each <font ...>...</font> cell.
void collect_rows(const std::wstring& html, std::vector<journal_capture::row>& rows) {
    std::size_t at = 0;
    while ((at = html.find(L"<font color='", at)) != std::wstring::npos) {
        const auto colour_end = html.find(L"'>", at);
        const auto text_end = html.find(L"</font>", colour_end);
        const std::wstring colour = html.substr(at + 13, colour_end - at - 13);
        rows.push_back({html.substr(colour_end + 2, text_end - colour_end - 2), colour == L"red"});
        at = text_end;
    }
}

} // namespace

std::vector<journal_capture::row> journal_capture::rows() const {
    std::vector<row> all;
    collect_rows(info.str(), all);
    collect_rows(errors.str(), all);
    return all;
}

std::vector<journal_capture::row> journal_capture::rows_with(const std::wstring& fragment) const {
    std::vector<row> found;
    for (const auto& row : rows())
        if (row.text.find(fragment) != std::wstring::npos)
            found.push_back(row);
    return found;
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

std::vector<std::string> files_in(const std::string& folder, const std::string& extension) {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == extension)
            found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    return found;
}

std::string command_output(const std::string& command) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return text;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, got);
    pclose(pipe);
    return text;
}

namespace {

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char ch : text)
        result += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return result + "'";
}

} // namespace

std::vector<index_entry> read_index(const std::string& path) {
    const std::string script =
        "import sys, xml.etree.ElementTree as t\n"
        "for f in t.parse(sys.argv[1]).getroot().findall('frame'):\n"
        "    print(f.get('frame_in_file'), f.get('frame'), f.get('abscoord'), f.get('file'))\n";
    const std::string text =
        command_output("python3 -c " + quoted(script) + " " + quoted(path) + " 2>/dev/null");
    std::vector<index_entry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        index_entry entry;
        fields >> entry.frame_in_file >> entry.frame >> entry.abscoord;
        std::getline(fields >> std::ws, entry.file);
        entries.push_back(entry);
    }
    return entries;
}

long count_video_frames(const std::string& path) {
    const std::string text =
        command_output("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                       "stream=nb_read_frames -of csv=p=0 " +
                       quoted(path));
    return text.empty() ? -1 : std::stol(text);
}
