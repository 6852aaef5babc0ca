#include "recording/video_file_writer_image.h"

#include "platform/durable_file.h"
#include "platform/text.h"

video_file_writer_image::video_file_writer_image(const wxString& camera_name,
                                                 const wxString& name_template)
    : camera_name(camera_name), name_template(name_template) {
    index.save_only_when_told();
}

bool video_file_writer_image::open(const wxString& write_path) {
    if (!open_trip(target, index, write_path, camera_name))
        return false;
    mark_trip();
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
    note_written(target.GetFullPath());
    keep_durable();
    return 1;
}

bool video_file_writer_image::make_durable() {
    // One call for all the stills of the last interval, their names included, rather than one
    // per file.
    if (!platform::sync_file_system(platform::native_path(target.GetPath())))
        return false;
    const bool saved = index.save();
    note_index_state(index);
    return saved;
}

std::size_t video_file_writer_image::close() {
    const bool synced = platform::sync_file_system(platform::native_path(target.GetPath()));
    const bool saved = synced && index.close();
    note_index_state(index);
    end_trip(saved);
    return 0;
}
