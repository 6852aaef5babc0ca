#pragma once
// Records a trip as one JPEG image per frame.

#include "media/jpeg_encoder.h"
#include "recording/video_file_writer_image.h"

class video_file_writer_jpeg final : public video_file_writer_image {
public:
    video_file_writer_jpeg(const wxString& camera_name, const wxString& name_template);

    // JPEG is coded in full range: a burned-in copy is made in it, saving a conversion.
    bool wants_full_range() const override { return true; }

private:
    const char* extension() const override;
    bool encode(const media::video_frame& picture, image_bytes& bytes) override;

    media::jpeg_encoder encoder;
};
