#include "recording/video_file_writer_image.h"

#include "journal/journal.h"
#include "recording/image_encoding.h"

video_file_writer_image::video_file_writer_image(const wxString& camera_name,
                                                 const wxString& name_template)
    : camera_name(camera_name), name_template(name_template) {}

bool video_file_writer_image::open(const wxString& write_path) {
    if (!open_trip(target, index, write_path, camera_name))
        return false;
    log_info(wxString::Format(wxString::FromUTF8("Запись: %s"), target.GetPathWithSep()));
    return true;
}

bool video_file_writer_image::write(const cv::Mat& picture, const TrackPosition& position) {
    const wxString wanted = clean_file_name(position.expand(name_template) + extension());
    target.SetFullName(names.free_name(target, wanted));
    const bool saved = picture.type() == CV_8UC3 && !picture.empty() &&
                       encode_picture(picture, extension(), encoder_parameters(), bgr, encoded) &&
                       write_whole_file(native_path(target.GetFullPath()), encoded);
    if (!saved) {
        set_failure(wxString::Format(wxString::FromUTF8("Не удается сохранить изображение [%s]"),
                                     target.GetFullPath()));
        return false;
    }
    names.take(target.GetFullName());
    index.add(target.GetFullName(), 0, position);
    note_index_state(index);
    return true;
}

void video_file_writer_image::close() {
    index.close();
    note_index_state(index);
}
