#include "recording/video_file_writer_avi.h"

#include "recording/codec_table.h"

#include <opencv2/imgproc.hpp>

namespace {

constexpr double frames_per_second = 25.0;

} // namespace

video_file_writer_avi::video_file_writer_avi(const wxString& codec, const wxString& camera_name,
                                             const wxString& policy)
    : codec(codec), camera_name(camera_name), policy(policy) {}

bool video_file_writer_avi::open(const wxString& write_path) {
    return open_trip(target, index, write_path, camera_name);
}

void video_file_writer_avi::close() {
    if (video.isOpened())
        finish_file();
    index.close();
    note_index_state(index);
}

bool video_file_writer_avi::write(const cv::Mat& picture, const TrackPosition& position) {
    if (picture.empty() || picture.type() != CV_8UC3) {
        set_failure(wxString::FromUTF8("Кадр не записан: изображение не в формате RGB 8 бит"));
        return false;
    }
    // The policy sees every frame, so that it counts every change of kilometre.
    const bool by_policy = policy.split_before(position);
    if (video.isOpened() && (by_policy || picture.size() != file_size))
        finish_file();
    if (!video.isOpened() && !start_file(picture, position))
        return false;
    cv::cvtColor(picture, bgr, cv::COLOR_RGB2BGR);
    video.write(bgr);
    index.add(target.GetFullName(), frames_in_file++, position);
    note_index_state(index);
    return true;
}

bool video_file_writer_avi::start_file(const cv::Mat& picture, const TrackPosition& position) {
    const int fourcc = codec_fourcc(codec);
    if (!codec_fits_avi(fourcc)) {
        set_failure(
            wxString::Format(wxString::FromUTF8("Кодек %s не записывается в файлы AVI"), codec));
        return false;
    }
    const wxString wanted = clean_file_name(position.expand(policy.name_template()) + ".avi");
    target.SetFullName(names.free_name(target, wanted));
    frames_in_file = 0;
    try {
        video.open(native_path(target.GetFullPath()).string(), cv::CAP_FFMPEG, fourcc,
                   frames_per_second, picture.size(), true);
    } catch (const cv::Exception&) {
        video.release();
    }
    if (!video.isOpened()) {
        set_failure(
            wxString::Format(wxString::FromUTF8("Не удается открыть видеофайл [%s] с кодеком %s"),
                             target.GetFullPath(), codec));
        return false;
    }
    names.take(target.GetFullName());
    file_size = picture.size();
    policy.restart();
    return true;
}

void video_file_writer_avi::finish_file() {
    video.release();
    // A finished file is a good moment to secure its frames in the index.
    index.save();
    note_index_state(index);
}
