#include "recording/video_file_writer_png.h"

#include "recording/image_encoding.h"

video_file_writer_png::video_file_writer_png(const wxString& camera_name,
                                             const wxString& name_template)
    : video_file_writer_image(camera_name, name_template) {}

const char* video_file_writer_png::extension() const {
    return ".png";
}

const std::vector<int>& video_file_writer_png::encoder_parameters() const {
    return png_parameters();
}
