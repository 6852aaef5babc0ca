#include "media/avi_repair.h"

#include "media/av_error.h"
#include "media/av_handles.h"
#include "media/avi_file.h"
#include "platform/durable_file.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>

namespace media {

namespace {

// The cut file read by libavformat, packet after packet, holding each one back until the next
// has been read: only the last packet of a file can be torn.
class cut_file_reader {
public:
    explicit cut_file_reader(const std::filesystem::path& file) {
        AVFormatContext* opened = nullptr;
        if (avformat_open_input(&opened, file.c_str(), nullptr, nullptr) < 0)
            return;
        input.reset(opened);
        stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    }

    bool readable() const { return input && stream >= 0; }
    const AVStream& video() const { return *input->streams[stream]; }

    // Whether the header counts `frames` frames and the demuxer found an index to seek by: a
    // file the muxer finished.
    bool finished_with(std::size_t frames) const {
        return video().nb_frames == static_cast<int64_t>(frames) && frames > 0 &&
               avformat_index_get_entries_count(&video()) > 0;
    }

    // The next whole packet of the video, or null at the end of what the file holds.
    const AVPacket* next() {
        if (!primed) {
            primed = true;
            holding = read_video(*held);
        }
        if (!holding)
            return nullptr;
        std::swap(given, held);
        holding = read_video(*held);
        if (!holding && torn(*given))
            return nullptr;
        return given.get();
    }

private:
    bool read_video(AVPacket& packet) {
        av_packet_unref(&packet);
        while (av_read_frame(input.get(), &packet) >= 0) {
            if (packet.stream_index == stream && packet.size > 0)
                return true;
            av_packet_unref(&packet);
        }
        return false;
    }

    // The last chunk is torn when its header declares more bytes than the file still holds.
    bool torn(const AVPacket& packet) const {
        return (packet.flags & AV_PKT_FLAG_CORRUPT) != 0 ||
               (packet.pos >= 8 && declared_size(packet) != static_cast<uint64_t>(packet.size));
    }

    uint64_t declared_size(const AVPacket& packet) const {
        AVIOContext* raw = input->pb;
        const int64_t was_at = avio_tell(raw);
        avio_seek(raw, packet.pos - 4, SEEK_SET);
        const uint64_t size = avio_rl32(raw);
        avio_seek(raw, was_at, SEEK_SET);
        return size;
    }

    input_context_handle input;
    int stream = -1;
    packet_handle held = make_packet();
    packet_handle given = make_packet();
    bool primed = false;
    bool holding = false;
};

std::filesystem::path copy_path(const std::filesystem::path& file) {
    std::filesystem::path copy = file;
    copy += ".repairing";
    return copy;
}

bool room_for_copy(const std::filesystem::path& file) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error)
        return false;
    const auto space = std::filesystem::space(file.parent_path(), error);
    // The header and the index add a little; 1 MiB more than the file covers them.
    return !error && space.available > size + (1u << 20);
}

// A file whose header never reached the disk: the cut came right after it was made. One that
// holds nothing but zeros (or nothing at all) goes; anything else is kept under another name.
avi_repair_result put_away_unreadable(const std::filesystem::path& file) {
    std::ifstream bytes(file, std::ios::binary);
    char block[65536];
    bool only_zeros = true;
    while (only_zeros && bytes.read(block, sizeof block).gcount() > 0)
        only_zeros = std::all_of(block, block + bytes.gcount(), [](char c) { return c == 0; });
    bytes.close();
    std::error_code error;
    if (only_zeros) {
        std::filesystem::remove(file, error);
        platform::sync_folder(file.parent_path());
        return {avi_repair_result::outcome::no_frames, 0};
    }
    std::filesystem::path aside = file;
    aside += ".damaged";
    std::filesystem::rename(file, aside, error);
    platform::sync_folder(file.parent_path());
    return {error ? avi_repair_result::outcome::failed : avi_repair_result::outcome::set_aside, 0};
}

} // namespace

avi_repair_result repair_avi(const std::filesystem::path& file,
                             const std::function<bool()>& go_on) {
    std::error_code ignored;
    // A copy a cut left behind in an earlier repair is of no use.
    std::filesystem::remove(copy_path(file), ignored);

    std::size_t held = 0;
    {
        cut_file_reader counter(file);
        if (!counter.readable())
            return put_away_unreadable(file);
        while (counter.next() != nullptr)
            ++held;
        if (counter.finished_with(held))
            return {avi_repair_result::outcome::whole, held};
    }
    if (held > 0 && !room_for_copy(file))
        return {avi_repair_result::outcome::no_room, held};

    cut_file_reader reader(file);

    std::size_t frames = 0;
    try {
        std::optional<avi_file> copy;
        packet_handle packet = make_packet();
        for (const AVPacket* read = reader.next(); read != nullptr; read = reader.next()) {
            if (go_on && !go_on())
                throw std::runtime_error("repair stopped");
            if (!copy)
                copy.emplace(copy_path(file).string(), *reader.video().codecpar,
                             reader.video().time_base);
            checked(av_packet_ref(packet.get(), read), "av_packet_ref");
            packet->pos = -1;
            copy->write(*packet);
            av_packet_unref(packet.get());
            ++frames;
        }
        if (!copy) {
            std::filesystem::remove(file, ignored);
            platform::sync_folder(file.parent_path());
            return {avi_repair_result::outcome::no_frames, 0};
        }
        copy->finish();
    } catch (const std::exception&) {
        std::filesystem::remove(copy_path(file), ignored);
        return {avi_repair_result::outcome::failed, held};
    }
    std::error_code error;
    std::filesystem::rename(copy_path(file), file, error);
    if (error) {
        std::filesystem::remove(copy_path(file), ignored);
        return {avi_repair_result::outcome::failed, held};
    }
    platform::sync_folder(file.parent_path());
    return {avi_repair_result::outcome::rewritten, frames};
}

} // namespace media
