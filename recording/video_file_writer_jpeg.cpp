#include "recording/video_file_writer_jpeg.h"

#include <exception>

video_file_writer_jpeg::video_file_writer_jpeg(const wxString& camera_name,
                                               const wxString& name_template)
    : video_file_writer_image(camera_name, name_template), encoder(still_jpeg_settings()) {}

const char* video_file_writer_jpeg::extension() const {
    return ".jpeg";
}

bool video_file_writer_jpeg::encode(const media::video_frame& picture, image_bytes& bytes) {
    try {
        const media::jpeg_bytes encoded = encoder.encode(picture);
        bytes = image_bytes{encoded.data, encoded.size};
        return true;
    } catch (const std::exception&) {
        return false;
    }
}
