#include "archive/trip_export.h"

#include "archive/whole_output_file.h"
#include "media/video_clip.h"
#include "media/video_file_reader.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool is_video(const std::string& file) {
    std::string extension = fs::path(file).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".avi";
}

fs::path existing_file(const fs::path& trip_folder, const std::string& name) {
    const fs::path path = trip_folder / name;
    std::error_code error;
    if (!fs::is_regular_file(path, error))
        throw std::runtime_error("file " + path.string() + " is missing");
    return path;
}

cv::Mat picture_of(const fs::path& trip_folder, const trip_index& index,
                   const index_record& record) {
    const fs::path path = existing_file(trip_folder, index.file_of(record));
    cv::Mat bgr;
    if (is_video(path.string())) {
        media::video_file_reader reader(path.string());
        reader.read(record.frame_in_file).to_bgr(bgr);
    } else {
        bgr = cv::imread(path.string(), cv::IMREAD_COLOR);
        if (bgr.empty())
            throw std::runtime_error(path.string() + " is not a picture that can be read");
    }
    return bgr;
}

struct file_closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

void write_bytes(const fs::path& path, const std::vector<unsigned char>& bytes) {
    std::unique_ptr<std::FILE, file_closer> file(std::fopen(path.c_str(), "wb"));
    if (!file)
        throw std::runtime_error("cannot write " + path.string());
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
    if (std::fclose(file.release()) != 0 || !written)
        throw std::runtime_error("cannot write " + path.string());
}

// Throws unless the index has that record.
void check_record(const trip_index& index, size_t record) {
    if (record >= index.records().size())
        throw std::runtime_error("the trip's data.idx has no record " + std::to_string(record) +
                                 " (it has " + std::to_string(index.records().size()) + ")");
}

// A run of consecutive records held by one file.
struct file_part {
    size_t first_record;
    size_t last_record;
};

std::vector<file_part> parts_of(const trip_index& index, size_t first, size_t last) {
    std::vector<file_part> parts;
    for (size_t i = first; i <= last; ++i) {
        if (parts.empty() || index.records()[i].file != index.records()[i - 1].file)
            parts.push_back({i, i});
        else
            parts.back().last_record = i;
    }
    return parts;
}

} // namespace

void trip_export::frame_png(const fs::path& trip_folder, const trip_index& index, size_t record,
                            const fs::path& output) {
    check_record(index, record);
    const cv::Mat bgr = picture_of(trip_folder, index, index.records()[record]);
    std::vector<unsigned char> png;
    if (!cv::imencode(".png", bgr, png))
        throw std::runtime_error("the picture cannot be made into a PNG");
    whole_output_file file(output);
    write_bytes(file.temporary(), png);
    file.keep();
}

clip_taken trip_export::clip(const fs::path& trip_folder, const trip_index& index, size_t from,
                             size_t to, const fs::path& output) {
    const size_t first = std::min(from, to);
    const size_t last = std::max(from, to);
    check_record(index, last);
    const std::vector<file_part> parts = parts_of(index, first, last);
    for (const file_part& part : parts) {
        const std::string& name = index.file_of(index.records()[part.first_record]);
        if (!is_video(name))
            throw std::runtime_error("the trip holds still pictures (" + name +
                                     "), which cannot go into a clip without encoding them");
        existing_file(trip_folder, name);
    }
    whole_output_file file(output);
    media::video_clip clip(file.temporary().string());
    clip_taken taken;
    taken.last_record = last;
    for (size_t i = 0; i < parts.size(); ++i) {
        const index_record& start = index.records()[parts[i].first_record];
        const index_record& end = index.records()[parts[i].last_record];
        const int64_t key = clip.append((trip_folder / index.file_of(start)).string(),
                                        start.frame_in_file, end.frame_in_file);
        if (i == 0) {
            // The records of one file list its frames in order: the key frame's record lies
            // as many records before.
            const auto back = static_cast<size_t>(start.frame_in_file - key);
            taken.first_record = parts[i].first_record >= back ? parts[i].first_record - back : 0;
        }
    }
    clip.finish();
    file.keep();
    taken.first_frame = index.records()[taken.first_record].frame;
    taken.last_frame = index.records()[taken.last_record].frame;
    taken.frames = clip.frames();
    return taken;
}
