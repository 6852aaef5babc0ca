#pragma once
// Records a trip as one PNG image per frame.

#include "recording/video_file_writer_image.h"

class video_file_writer_png final : public video_file_writer_image {
public:
    video_file_writer_png(const wxString& camera_name, const wxString& name_template);

private:
    const char* extension() const override;
    const std::vector<int>& encoder_parameters() const override;
};
