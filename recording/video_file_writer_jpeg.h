#pragma once
// Records a trip as one JPEG image per frame.

#include "recording/video_file_writer_image.h"

class video_file_writer_jpeg final : public video_file_writer_image {
public:
    video_file_writer_jpeg(const wxString& camera_name, const wxString& name_template);

private:
    const char* extension() const override;
    const std::vector<int>& encoder_parameters() const override;
};
