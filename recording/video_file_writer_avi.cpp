#include "recording/video_file_writer_avi.h"

#include "platform/durable_file.h"
#include "platform/text.h"
#include "recording/codec_table.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

video_file_writer_avi::video_file_writer_avi(const wxString& codec, const wxString& camera_name,
                                             const wxString& policy)
    : codec(codec), fourcc(codec_fourcc(codec)), camera_name(camera_name), policy(policy) {
    index.save_only_when_told();
}

bool video_file_writer_avi::open(const wxString& write_path) {
    if (fourcc == 0) {
        ask_row(true,
                wxString::Format(wxString::FromUTF8("Неизвестный кодек %s: запись с кодеком %s"),
                                 codec, default_codec));
        codec = default_codec;
        fourcc = codec_fourcc(codec);
    }
    if (!open_trip(target, index, write_path, camera_name))
        return false;
    mark_trip();
    return true;
}

bool video_file_writer_avi::wants_full_range() const {
    return media::encoded_video_file::wants_full_range(fourcc);
}

std::size_t video_file_writer_avi::close() {
    std::size_t done = index_copied_leftovers();
    done += finish_file();
    copied_records.clear();
    const bool index_saved = index.close();
    note_index_state(index);
    end_trip(index_saved && !file_left_unfinished);
    return done;
}

bool video_file_writer_avi::sync_written() {
    bool synced = true;
    if (encoded)
        synced = encoded->sync();
    else if (copied)
        synced = copied->sync();
    if (folder_changed) {
        folder_changed = !platform::sync_folder(platform::native_path(target.GetPath()));
        synced = synced && !folder_changed;
    }
    return synced;
}

bool video_file_writer_avi::make_durable() {
    // An index record must never name a frame that a power cut could still take away.
    if (!sync_written())
        return false;
    const bool saved = index.save();
    note_index_state(index);
    return saved;
}

std::size_t video_file_writer_avi::write(const media::video_frame& picture,
                                         const TrackPosition& position) {
    if (picture.empty()) {
        set_failure(wxString::FromUTF8("Кадр не записан: пустое изображение"));
        return 0;
    }
    std::size_t done = 0;
    // The policy sees every frame, so that it counts every change of kilometre.
    const bool by_policy = policy.split_before(position);
    if (file_open() && (by_policy || copied || picture.width() != encoded->width() ||
                        picture.height() != encoded->height()))
        done += finish_file();
    if (!encoded && !start_encoded_file(picture, position))
        return done;
    try {
        held_by_encoder.push_back(position);
        done += index_encoded(encoded->write(picture));
    } catch (const std::exception&) {
        file_failed();
    }
    keep_durable();
    return done;
}

std::size_t video_file_writer_avi::write_copied(const media::video_frame& picture,
                                                const std::vector<media::encoded_packet>& packets,
                                                const TrackPosition& position) {
    // A picture without packets of its own is a copied one only while copied packets wait for
    // their pictures (the decoder's last pictures at the end of a stream).
    if (packets.empty() && awaiting_pictures.empty() && !copied)
        return write(picture, position);
    std::size_t done = 0;
    if (encoded)
        done += finish_file();
    if (copied && policy.split_before(position))
        split_waiting = true;
    for (const auto& packet : packets)
        done += copy_packet(packet, position);
    return done + index_copied_picture(picture, position);
}

std::size_t video_file_writer_avi::copy_packet(const media::encoded_packet& packet,
                                               const TrackPosition& position) {
    std::size_t done = 0;
    if (copied) {
        // A camera that opened its stream again sends other parameters: a file of its own,
        // and the pictures the broken opening still owed will never come.
        const bool new_opening = packet.stream() != copied->stream();
        if (new_opening)
            done += index_copied_leftovers();
        if (new_opening || (split_waiting && packet.key()))
            done += finish_file();
    }
    // A copied file can only start at a key frame; until one comes, frames have no file.
    if (!copied && (!packet.key() || !start_copied_file(packet, position)))
        return done;
    try {
        copied->write(packet);
        awaiting_pictures.push_back({target.GetFullName(), packet.av().pts});
    } catch (const std::exception&) {
        // What reached the broken file stays listed.
        done += index_copied_leftovers();
        file_failed();
    }
    keep_durable();
    return done;
}

std::size_t video_file_writer_avi::index_copied_picture(const media::video_frame& picture,
                                                        const TrackPosition& position) {
    if (awaiting_pictures.empty() || picture.empty())
        return 0;
    const int64_t pts = picture.av()->pts;
    // Without time stamps each picture takes the oldest packet, as a stream without B-frames
    // has it.
    if (pts == AV_NOPTS_VALUE || awaiting_pictures.front().pts == AV_NOPTS_VALUE) {
        const wxString file = awaiting_pictures.front().file;
        awaiting_pictures.pop_front();
        return list_copied_picture(file, position);
    }
    const auto own = std::find_if(awaiting_pictures.begin(), awaiting_pictures.end(),
                                  [pts](const copied_packet& packet) { return packet.pts == pts; });
    // A picture from packets that reached no file (before the first key frame).
    if (own == awaiting_pictures.end())
        return 0;
    const wxString file = own->file;
    awaiting_pictures.erase(own);
    // Packets of the same file shown earlier whose pictures the decoder never gave (damaged
    // data) keep their places, with this picture's position.
    std::size_t done = 0;
    for (auto earlier = awaiting_pictures.begin(); earlier != awaiting_pictures.end();) {
        if (earlier->file == file && earlier->pts < pts) {
            earlier = awaiting_pictures.erase(earlier);
            done += list_copied_picture(file, position);
        } else {
            ++earlier;
        }
    }
    return done + list_copied_picture(file, position);
}

std::size_t video_file_writer_avi::list_copied_picture(const wxString& file,
                                                       const TrackPosition& position) {
    list_copied(file, position);
    note_written(target.GetPath() + wxFileName::GetPathSeparator() + file);
    return 1;
}

std::size_t video_file_writer_avi::index_copied_leftovers() {
    const std::size_t count = awaiting_pictures.size();
    for (const copied_packet& packet : awaiting_pictures)
        list_copied(packet.file, last_copied_position);
    awaiting_pictures.clear();
    return count;
}

void video_file_writer_avi::list_copied(const wxString& file, const TrackPosition& position) {
    index.add(file, copied_records[file]++, position);
    note_index_state(index);
    last_copied_position = position;
}

bool video_file_writer_avi::name_next_file(const TrackPosition& position) {
    if (!may_try())
        return false;
    const wxString wanted = clean_file_name(position.expand(policy.name_template()) + ".avi");
    target.SetFullName(names.free_name(target, wanted));
    frames_in_file = 0;
    return true;
}

bool video_file_writer_avi::start_encoded_file(const media::video_frame& picture,
                                               const TrackPosition& position) {
    if (!codec_fits_avi(fourcc)) {
        set_failure(
            wxString::Format(wxString::FromUTF8("Кодек %s не записывается в файлы AVI"), codec));
        return false;
    }
    if (!name_next_file(position))
        return false;
    try {
        encoded.emplace(platform::native_path(target.GetFullPath()).string(), fourcc,
                        picture.width(), picture.height());
    } catch (const std::exception&) {
        encoded.reset();
        // A file without its header holds nothing; it would only take the name of the next.
        std::error_code ignored;
        std::filesystem::remove(platform::native_path(target.GetFullPath()), ignored);
        set_failure(
            wxString::Format(wxString::FromUTF8("Не удается открыть видеофайл [%s] с кодеком %s"),
                             target.GetFullPath(), codec));
        return false;
    }
    file_started();
    return true;
}

bool video_file_writer_avi::start_copied_file(const media::encoded_packet& first,
                                              const TrackPosition& position) {
    if (!media::copied_video_file::can_copy(*first.stream())) {
        set_failure(wxString::FromUTF8("Поток камеры не копируется в файлы AVI"));
        return false;
    }
    if (!name_next_file(position))
        return false;
    try {
        copied.emplace(platform::native_path(target.GetFullPath()).string(), first.stream());
    } catch (const std::exception&) {
        copied.reset();
        std::error_code ignored;
        std::filesystem::remove(platform::native_path(target.GetFullPath()), ignored);
        set_failure(wxString::Format(wxString::FromUTF8("Не удается открыть видеофайл [%s]"),
                                     target.GetFullPath()));
        return false;
    }
    file_started();
    return true;
}

void video_file_writer_avi::file_started() {
    names.take(target.GetFullName());
    folder_changed = true;
    policy.restart();
    split_waiting = false;
}

std::size_t video_file_writer_avi::index_encoded(std::size_t count) {
    for (std::size_t i = 0; i < count && !held_by_encoder.empty(); ++i) {
        index.add(target.GetFullName(), frames_in_file++, held_by_encoder.front());
        held_by_encoder.pop_front();
    }
    note_index_state(index);
    if (count > 0)
        note_written(target.GetFullPath());
    return count;
}

std::size_t video_file_writer_avi::finish_file() {
    std::size_t done = 0;
    try {
        if (encoded)
            done = index_encoded(encoded->finish());
        else if (copied)
            copied->finish();
    } catch (const std::exception&) {
        file_failed();
    }
    encoded.reset();
    copied.reset();
    held_by_encoder.clear();
    split_waiting = false;
    // A finished file is a good moment to secure its frames in the index; finishing forced the
    // file itself to the disk.
    if (sync_written())
        index.save();
    note_index_state(index);
    return done;
}

void video_file_writer_avi::file_failed() {
    file_left_unfinished = true;
    // The broken file is closed as it is: what reached it stays readable and listed; frames
    // the encoder still held are lost and were never listed.
    encoded.reset();
    copied.reset();
    held_by_encoder.clear();
    split_waiting = false;
    set_failure(wxString::Format(wxString::FromUTF8("Не удается записать видеофайл [%s]"),
                                 target.GetFullPath()));
    // What reached the broken file was forced to the disk at the last sync; the index lists no
    // more than that.
    if (sync_written())
        index.save();
    note_index_state(index);
}
