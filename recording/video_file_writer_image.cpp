#include "recording/video_file_writer_image.h"

#include "journal/journal.h"
#include "platform/text.h"

video_file_writer_image::video_file_writer_image(const wxString& camera_name,
                                                 const wxString& name_template)
    : camera_name(camera_name), name_template(name_template) {}

bool video_file_writer_image::open(const wxString& write_path) {
    if (!open_trip(target, index, write_path, camera_name))
        return false;
    log_info(wxString::Format(wxString::FromUTF8("Запись: %s"), target.GetPathWithSep()));
    return true;
}

std::size_t video_file_writer_image::write(const media::video_frame& picture,
                                           const TrackPosition& position) {
    if (!may_try())
        return 0;
    const wxString wanted = clean_file_name(position.expand(name_template) + extension());
    target.SetFullName(names.free_name(target, wanted));
    image_bytes encoded;
    const bool saved = !picture.empty() && encode(picture, encoded) &&
                       write_whole_file(platform::native_path(target.GetFullPath()), encoded);
    if (!saved) {
        set_failure(wxString::Format(wxString::FromUTF8("Не удается сохранить изображение [%s]"),
                                     target.GetFullPath()));
        return 0;
    }
    names.take(target.GetFullName());
    index.add(target.GetFullName(), 0, position);
    note_index_state(index);
    note_written(target.GetFullPath());
    return 1;
}

std::size_t video_file_writer_image::close() {
    index.close();
    note_index_state(index);
    return 0;
}
