#pragma once
// Real parts for the camera tests: child processes (the test camera, the coordinate
// simulator), the journal's rows as written, settings in memory, trip folders on disk.

#include "tests/support/child_process.h"
#include "tests/support/journal_capture.h"
#include "tests/support/test_media.h"

#include <memory>
#include <opencv2/core/mat.hpp>
#include <string>
#include <vector>
#include <wx/fileconf.h>

// The test camera; `url()` is its stream.
class test_camera {
public:
    explicit test_camera(const std::vector<std::string>& options = {});
    std::string url() const;
    std::string port() const;
    // Stops serving (a network loss) and serves again on the same URL.
    void stop_serving();
    void serve_again();
    // Stops the whole camera process (a frozen camera: connections stay, nothing is sent) and
    // lets it go on.
    void freeze();
    void thaw();

private:
    test_support::child_process process;
    std::string first_line;
};

// The coordinate simulator; `port()` is where it listens.
class coordinate_simulator {
public:
    explicit coordinate_simulator(const std::vector<std::string>& options = {});
    std::string port() const;
    // Ends the process at once, as a crash would.
    void kill_now();
    // Stops the process without ending it (the system still accepts connections for it, nobody
    // answers), and lets it go on.
    void freeze();
    void thaw();

private:
    test_support::child_process process;
    std::string first_line;
};

// Settings in memory with the given key=value pairs (UTF-8).
std::unique_ptr<wxFileConfig>
make_settings(const std::vector<std::pair<std::string, std::string>>& values);

// Sub-folders of a folder (full paths).
std::vector<std::string> folders_in(const std::string& folder);

// One "frame" element of a data.idx, read with an independent XML parser.
struct index_entry {
    std::string file;
    long frame_in_file = 0;
    long frame = 0;
    double abscoord = 0;
    std::string time; // as the index writes it, to the second
};
std::vector<index_entry> read_index(const std::string& path);

// Frames in a video file as ffprobe counts them by decoding.
long count_video_frames(const std::string& path);

// Picture `number` of a video file or stream as ffmpeg decodes it, as 8-bit RGB of that size
// (empty when ffmpeg gives nothing).
cv::Mat decoded_by_ffmpeg(const std::string& source, int number, cv::Size size,
                          const std::string& input_options = "");
