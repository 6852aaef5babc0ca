#include "recording/video_file_writer_png.h"

video_file_writer_png::video_file_writer_png(const wxString& camera_name,
                                             const wxString& name_template)
    : video_file_writer_image(camera_name, name_template) {}

const char* video_file_writer_png::extension() const {
    return ".png";
}

bool video_file_writer_png::encode(const media::video_frame& picture, image_bytes& bytes) {
    if (!encode_png(picture, bgr, encoded))
        return false;
    bytes = image_bytes{encoded.data(), encoded.size()};
    return true;
}
