#pragma once
// Real parts for the camera tests: child processes (the test camera, the coordinate
// simulator), the journal's rows as written, settings in memory, trip folders on disk.

#include <csignal>
#include <memory>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <vector>
#include <wx/fileconf.h>

// A child process whose first stdout line is read at start; killed and reaped on destruction.
class child_process {
public:
    explicit child_process(const std::vector<std::string>& arguments);
    ~child_process();
    child_process(const child_process&) = delete;
    child_process& operator=(const child_process&) = delete;

    const std::string& first_line() const { return line; }
    void signal(int number) const;
    // The next stdout line (blocking; empty at end of output).
    std::string next_line();

private:
    pid_t pid = -1;
    int output = -1;
    std::string line;
};

// The test camera; `url()` is its stream.
class test_camera : public child_process {
public:
    explicit test_camera(const std::vector<std::string>& options = {});
    std::string url() const;
    std::string port() const;
    // Stops serving (a network loss) and serves again on the same URL.
    void stop_serving();
    void serve_again();
};

// The coordinate simulator; `port()` is where it listens.
class coordinate_simulator : public child_process {
public:
    explicit coordinate_simulator(const std::vector<std::string>& options = {});
    std::string port() const;
};

// Every journal row written while it exists: the text of each row and whether it is red.
class journal_capture {
public:
    journal_capture();
    ~journal_capture();
    journal_capture(const journal_capture&) = delete;
    journal_capture& operator=(const journal_capture&) = delete;

    struct row {
        std::wstring text;
        bool error;
    };
    std::vector<row> rows() const;
    // Rows whose text contains the fragment.
    std::vector<row> rows_with(const std::wstring& fragment) const;

private:
    std::wostringstream info;
    std::wostringstream errors;
    std::wstreambuf* previous_out;
    std::wstreambuf* previous_err;
};

// Settings in memory with the given key=value pairs (UTF-8).
std::unique_ptr<wxFileConfig>
make_settings(const std::vector<std::pair<std::string, std::string>>& values);

// Sub-folders of a folder (full paths).
std::vector<std::string> folders_in(const std::string& folder);
// Files of a folder whose names end in the extension (full paths, sorted).
std::vector<std::string> files_in(const std::string& folder, const std::string& extension);

// One "frame" element of a data.idx, read with an independent XML parser.
struct index_entry {
    std::string file;
    long frame_in_file = 0;
    long frame = 0;
    double abscoord = 0;
};
std::vector<index_entry> read_index(const std::string& path);

// Frames in a video file as ffprobe counts them by decoding.
long count_video_frames(const std::string& path);

// Output of a shell command.
std::string command_output(const std::string& command);
