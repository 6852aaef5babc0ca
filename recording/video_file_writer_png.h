#pragma once
// Records a trip as one PNG image per frame.

#include "recording/video_file_writer_image.h"

#include <opencv2/core/mat.hpp>
#include <vector>

class video_file_writer_png final : public video_file_writer_image {
public:
    video_file_writer_png(const wxString& camera_name, const wxString& name_template);

private:
    const char* extension() const override;
    bool encode(const media::video_frame& picture, image_bytes& bytes) override;

    // Kept between frames so that a steady stream does not allocate per frame.
    cv::Mat bgr;
    std::vector<unsigned char> encoded;
};
