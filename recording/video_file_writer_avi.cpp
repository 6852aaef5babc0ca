#include "recording/video_file_writer_avi.h"

#include "journal/journal.h"
#include "platform/durable_file.h"
#include "platform/text.h"
#include "recording/codec_table.h"

#include <filesystem>
#include <system_error>

video_file_writer_avi::video_file_writer_avi(const wxString& codec, const wxString& camera_name,
                                             const wxString& policy)
    : codec(codec), fourcc(codec_fourcc(codec)), camera_name(camera_name), policy(policy) {
    index.save_only_when_told();
}

bool video_file_writer_avi::open(const wxString& write_path) {
    if (fourcc == 0) {
        log_error(wxString::Format(wxString::FromUTF8("Неизвестный кодек %s: запись с кодеком %s"),
                                   codec, default_codec));
        codec = default_codec;
        fourcc = codec_fourcc(codec);
    }
    if (!open_trip(target, index, write_path, camera_name))
        return false;
    mark_trip();
    log_info(wxString::Format(wxString::FromUTF8("Запись: %s"), target.GetPathWithSep()));
    return true;
}

bool video_file_writer_avi::wants_full_range() const {
    return media::encoded_video_file::wants_full_range(fourcc);
}

std::size_t video_file_writer_avi::close() {
    const std::size_t done = finish_file();
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
    if (packets.empty())
        return write(picture, position);
    const media::encoded_packet& first = packets.front();
    std::size_t done = 0;
    if (encoded)
        done += finish_file();
    const bool by_policy = policy.split_before(position);
    if (copied) {
        if (by_policy)
            split_waiting = true;
        // A camera that opened its stream again sends other parameters: a file of its own.
        if ((split_waiting && first.key()) || first.stream() != copied->stream())
            done += finish_file();
    }
    // A copied file can only start at a key frame; until one comes, frames have no file.
    if (!copied && (!first.key() || !start_copied_file(first, position)))
        return done;
    try {
        for (const auto& packet : packets)
            copied->write(packet);
        frames_in_file = copied->packets() - 1;
        index.add(target.GetFullName(), frames_in_file, position);
        note_index_state(index);
        note_written(target.GetFullPath());
        ++done;
    } catch (const std::exception&) {
        file_failed();
    }
    keep_durable();
    return done;
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
