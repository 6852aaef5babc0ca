#pragma once
// What the recording tests share: scratch folders, outside programs (python3's XML parser,
// ffprobe, ffmpeg) to check the files independently, and camera-like pictures.

#include "media/video_frame.h"
#include "position/track_position.h"
#include "tests/support/scratch_folder.h"
#include "tests/support/test_media.h"

#include <map>
#include <opencv2/core/mat.hpp>
#include <string>
#include <vector>
#include <wx/string.h>

using test_support::camera_like_picture;

// A camera-like picture as the camera's decoder gives it: 4:2:0 YUV in video range.
media::video_frame camera_like_frame(int width, int height, int seed);
// The picture in RGB, as a file that holds it exactly decodes.
cv::Mat rgb_of(const media::video_frame& frame);

// A scratch folder that also gives its path as the toolkit's string.
class scratch_folder : public test_support::scratch_folder {
public:
    scratch_folder() : test_support::scratch_folder("kestrel-recording") {}
    wxString wx_path() const { return wxString::FromUTF8(path()); }
};

// A fix at km + m whose absolute coordinate is that place, `frame` seconds after a moment of
// May 2024.
TrackPosition position_at(int frame, int km, double m);
// Frame i of a trip with a fix: 10 m apart from 126+500 (km 127 begins at frame 50), direction
// "240100", track "1".
TrackPosition place_of_frame_10m_apart(int i);
// Lines of simple comma-separated text (no quoted commas) split into their fields.
std::vector<std::vector<std::string>> simple_csv_rows(const std::string& text);

// The whole file as bytes; empty when it cannot be read.
std::string read_file_text(const std::string& path);

// The only entry of a folder that holds one trip folder.
std::string only_trip_folder(const std::string& write_path);

// Runs a shell command; its standard output, and its exit status in `status`.
std::string run_command(const std::string& command, int* status = nullptr);
std::string shell_quote(const std::string& text);

// What a run of kestrel-trips printed: standard output whole, standard error line by line.
struct trip_tool_result {
    int status = 0;
    std::string out;
    std::vector<std::string> error_lines;
};

// Runs kestrel-trips over `root` with the arguments (each quoted for the shell), after the
// environment settings "NAME=value ..." if any.
trip_tool_result run_trip_tool(const std::string& root, const std::vector<std::string>& arguments,
                               const std::string& environment = "");

// One "frame" element as python3's own XML parser read it: attribute names and values in the
// order the file gives them.
struct index_frame {
    std::vector<std::pair<std::string, std::string>> attributes;
    const std::string& operator[](const std::string& name) const;
};

// Parses data.idx with python3's xml.etree (not the toolkit): fails the test when the file is
// not well-formed, is not UTF-8 XML 1.0 or its root is not a bare "section".
std::vector<index_frame> parse_index(const std::string& index_path);

// What ffprobe reports of a video file's only stream.
struct probed_video {
    std::string codec;
    std::string tag; // the four characters the file gives
    int width = 0;
    int height = 0;
    int frames = -1; // decoded by -count_frames
};
probed_video probe_video(const std::string& file);

// Decodes an image with ffmpeg into packed RGB rows.
std::vector<unsigned char> decode_rgb(const std::string& file, int width, int height);

// Frames of each file, in index order.
std::map<std::string, int> frames_per_file(const std::vector<index_frame>& index);
