#include "review/trip_frame_source.h"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>
#include <system_error>

namespace {

bool is_still(const std::filesystem::path& file) {
    const std::string extension = file.extension().string();
    return extension == ".png" || extension == ".jpeg" || extension == ".jpg";
}

} // namespace

trip_frame_source::trip_frame_source(std::filesystem::path trip_folder)
    : folder(std::move(trip_folder)) {}

trip_picture trip_frame_source::read(const std::string& file, int64_t frame_in_file) {
    const std::filesystem::path path = folder / file;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        throw std::runtime_error(path.string() + ": no such file");
    trip_picture picture;
    if (is_still(path)) {
        const cv::Mat bgr = cv::imread(path.string(), cv::IMREAD_COLOR);
        if (bgr.empty())
            throw std::runtime_error(path.string() + ": not a readable image");
        cv::cvtColor(bgr, picture.still, cv::COLOR_BGR2RGB);
        return picture;
    }
    if (!video || video_file != file) {
        video.reset();
        video = std::make_unique<media::video_file_reader>(path.string());
        video_file = file;
    }
    picture.video = video->read(frame_in_file);
    return picture;
}
