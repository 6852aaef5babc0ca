// Records a trip until it is killed: for the test that a crash leaves a usable frame index.
// Usage: record_until_killed <write_path> <AVI|PNG> <index save interval in ms>
// Reports "frame N" on the standard error once the write of frame N has returned (the
// standard output carries the journal).

#include "recording/video_file_writer_avi.h"
#include "recording/video_file_writer_png.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <opencv2/core.hpp>
#include <wx/init.h>

namespace {

template <typename writer_type> void record_forever(writer_type& writer, const char* write_path) {
    if (!writer.open(wxString::FromUTF8(write_path)))
        std::exit(2);
    cv::Mat picture(120, 160, CV_8UC3);
    for (int frame = 0;; ++frame) {
        cv::randu(picture, cv::Scalar::all(0), cv::Scalar::all(256));
        const media::video_frame yuv = media::video_frame::from_rgb(picture);
        TrackPosition position(frame);
        position.has_fix = true;
        position.km = frame / 7;
        position.m = (frame % 7) * 100.0;
        if (writer.write(yuv, position) != 1)
            std::exit(3);
        std::fprintf(stderr, "frame %d\n", frame);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4)
        return 1;
    const wxInitializer toolkit;
    const std::chrono::milliseconds interval(std::atoi(argv[3]));
    if (std::string(argv[2]) == "PNG") {
        auto writer = std::make_shared<video_file_writer_png>("Cam", "%frame");
        writer->set_index_save_interval(interval);
        record_forever(*writer, argv[1]);
    }
    auto writer =
        std::make_shared<video_file_writer_avi>("MJPEG", "Cam", wxString::FromUTF8("1 километр"));
    writer->set_index_save_interval(interval);
    record_forever(*writer, argv[1]);
}
