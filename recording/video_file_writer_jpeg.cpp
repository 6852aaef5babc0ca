#include "recording/video_file_writer_jpeg.h"

#include "recording/image_encoding.h"

video_file_writer_jpeg::video_file_writer_jpeg(const wxString& camera_name,
                                               const wxString& name_template)
    : video_file_writer_image(camera_name, name_template) {}

const char* video_file_writer_jpeg::extension() const {
    return ".jpeg";
}

const std::vector<int>& video_file_writer_jpeg::encoder_parameters() const {
    return jpeg_parameters();
}
