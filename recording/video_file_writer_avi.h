#pragma once
// Records a trip as AVI video files, split into several files by a policy tied to the track.

#include "recording/frame_index.h"
#include "recording/split_policy.h"
#include "recording/trip_folder.h"
#include "recording/video_file_writer_basic.h"

#include <chrono>
#include <cstdint>
#include <opencv2/videoio.hpp>
#include <wx/filename.h>

class video_file_writer_avi final : public video_file_writer_basic {
public:
    // codec: a name of the codec table; policy: the text of video_write_policy.
    video_file_writer_avi(const wxString& codec, const wxString& camera_name,
                          const wxString& policy);

    bool open(const wxString& write_path) override;
    void close() override;
    bool write(const cv::Mat& picture, const TrackPosition& position) override;

    void set_index_save_interval(std::chrono::milliseconds interval) {
        index.set_save_interval(interval);
    }

private:
    bool start_file(const cv::Mat& picture, const TrackPosition& position);
    void finish_file();

    wxString codec;
    wxString camera_name;
    wxFileName target;
    cv::VideoWriter video;
    FrameIndex index;
    uint64_t frames_in_file = 0;
    split_policy policy;
    // The video library silently drops frames of any other size than the file was opened with.
    cv::Size file_size;
    trip_file_names names;
    // Kept between frames so that a steady stream does not allocate per frame.
    cv::Mat bgr;
};
