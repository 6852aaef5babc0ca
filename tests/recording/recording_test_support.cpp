#include "recording_test_support.h"

#include "tests/support/child_process.h"

#include <array>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <sys/wait.h>

namespace fs = std::filesystem;

TrackPosition position_at(int frame, int km, double m) {
    TrackPosition p(frame);
    p.km = km;
    p.m = m;
    p.abs = km * 1000.0 + m;
    p.time = 1714566605 + frame;
    return p;
}

TrackPosition place_of_frame_10m_apart(int i) {
    TrackPosition p(i);
    p.has_fix = true;
    p.abs = 126500.0 + 10.0 * i;
    p.km = static_cast<int32_t>(p.abs / 1000.0);
    p.m = p.abs - p.km * 1000.0;
    p.dir = "240100";
    p.way = "1";
    return p;
}

std::vector<std::vector<std::string>> simple_csv_rows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields(1);
        for (const char c : line)
            if (c == ',')
                fields.emplace_back();
            else
                fields.back() += c;
        rows.push_back(fields);
    }
    return rows;
}

std::string read_file_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string only_trip_folder(const std::string& write_path) {
    const auto names = scratch_folder::entries(write_path);
    if (names.size() != 1) {
        ADD_FAILURE() << "expected one trip folder in " << write_path << ", found " << names.size();
        return write_path;
    }
    return write_path + "/" + names.front();
}

std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string run_command(const std::string& command, int* status) {
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        throw std::runtime_error("cannot run " + command);
    std::string output;
    std::array<char, 4096> chunk{};
    size_t read = 0;
    while ((read = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0)
        output.append(chunk.data(), read);
    const int result = ::pclose(pipe);
    if (status != nullptr)
        *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    return output;
}

trip_tool_result run_trip_tool(const std::string& root, const std::vector<std::string>& arguments,
                               const std::string& environment) {
    const std::string errors = root + ".stderr";
    std::string command = environment + " " +
                          shell_quote(test_support::tool_path("trips/kestrel-trips")) + " --root " +
                          shell_quote(root);
    for (const std::string& argument : arguments)
        command += " " + shell_quote(argument);
    trip_tool_result result;
    result.out = run_command(command + " 2>" + shell_quote(errors), &result.status);
    std::istringstream lines(read_file_text(errors));
    for (std::string line; std::getline(lines, line);)
        result.error_lines.push_back(line);
    std::filesystem::remove(errors);
    return result;
}

const std::string& index_frame::operator[](const std::string& name) const {
    for (const auto& [key, value] : attributes)
        if (key == name)
            return value;
    static const std::string missing = "<missing>";
    ADD_FAILURE() << "attribute " << name << " missing";
    return missing;
}

namespace {

// Prints one line per frame: name=value pairs separated by tabs, in the file's order. Fails
// (exit 1) on anything that is not the index's shape.
const char* const index_parser = R"(
import sys, xml.etree.ElementTree as ET
raw = open(sys.argv[1], 'rb').read()
first = raw.split(b'\n', 1)[0]
if not first.startswith(b'<?xml version="1.0" encoding="UTF-8"?>'):
    sys.exit('bad declaration: %r' % first)
root = ET.fromstring(raw)
if root.tag != 'section' or root.attrib or (root.text or '').strip():
    sys.exit('bad root')
out = []
for frame in root:
    if frame.tag != 'frame' or len(frame) or (frame.text or '').strip():
        sys.exit('bad frame element')
    out.append('\t'.join(k + '=' + v for k, v in frame.attrib.items()))
sys.stdout.buffer.write(('\n'.join(out) + '\n').encode('utf-8') if out else b'')
)";

} // namespace

std::vector<index_frame> parse_index(const std::string& index_path) {
    int status = 0;
    const std::string output = run_command("python3 -c " + shell_quote(index_parser) + " " +
                                               shell_quote(index_path) + " 2>&1",
                                           &status);
    if (status != 0) {
        ADD_FAILURE() << "python3 rejects " << index_path << ": " << output;
        return {};
    }
    std::vector<index_frame> frames;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        index_frame frame;
        std::istringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) {
            const size_t equals = field.find('=');
            frame.attributes.emplace_back(field.substr(0, equals), field.substr(equals + 1));
        }
        frames.push_back(frame);
    }
    return frames;
}

probed_video probe_video(const std::string& file) {
    int status = 0;
    const std::string output =
        run_command("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                    "stream=codec_name,codec_tag_string,width,height,nb_read_frames -of "
                    "default=noprint_wrappers=1 " +
                        shell_quote(file),
                    &status);
    probed_video video;
    if (status != 0) {
        ADD_FAILURE() << "ffprobe cannot read " << file << ": " << output;
        return video;
    }
    std::istringstream lines(output);
    std::string line;
    const auto number = [](const std::string& text) {
        return text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) ? -1
                                                                                  : std::stoi(text);
    };
    while (std::getline(lines, line)) {
        const size_t equals = line.find('=');
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "codec_tag_string")
            video.tag = value;
        if (key == "codec_name")
            video.codec = value;
        else if (key == "width")
            video.width = number(value);
        else if (key == "height")
            video.height = number(value);
        else if (key == "nb_read_frames")
            video.frames = number(value);
    }
    return video;
}

std::vector<unsigned char> decode_rgb(const std::string& file, int width, int height) {
    int status = 0;
    const std::string output = run_command(
        "ffmpeg -v error -i " + shell_quote(file) + " -f rawvideo -pix_fmt rgb24 -", &status);
    if (status != 0 || output.size() != static_cast<size_t>(width) * height * 3) {
        ADD_FAILURE() << "ffmpeg decodes " << file << " to " << output.size() << " bytes";
        return {};
    }
    return std::vector<unsigned char>(output.begin(), output.end());
}

std::map<std::string, int> frames_per_file(const std::vector<index_frame>& index) {
    std::map<std::string, int> counts;
    for (const auto& frame : index)
        ++counts[frame["file"]];
    return counts;
}

media::video_frame camera_like_frame(int width, int height, int seed) {
    return media::video_frame::from_rgb(camera_like_picture(width, height, seed));
}

cv::Mat rgb_of(const media::video_frame& frame) {
    cv::Mat rgb;
    frame.to_rgb(rgb);
    return rgb;
}
