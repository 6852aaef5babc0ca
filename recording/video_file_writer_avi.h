#pragma once
// Records a trip as AVI video files, split into several files by a policy tied to the track:
// pictures encoded here, or the camera's own H.264 packets copied as they came.

#include "media/copied_video_file.h"
#include "media/encoded_video_file.h"
#include "recording/frame_index.h"
#include "recording/split_policy.h"
#include "recording/trip_folder.h"
#include "recording/video_file_writer_basic.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <wx/filename.h>

class video_file_writer_avi final : public video_file_writer_basic {
public:
    // codec: a name of the codec table; policy: the text of video_write_policy.
    video_file_writer_avi(const wxString& codec, const wxString& camera_name,
                          const wxString& policy);

    bool open(const wxString& write_path) override;
    std::size_t close() override;
    std::size_t write(const media::video_frame& picture, const TrackPosition& position) override;
    std::size_t write_copied(const media::video_frame& picture,
                             const std::vector<media::encoded_packet>& packets,
                             const TrackPosition& position) override;
    bool wants_full_range() const override;
    wxString trip_folder() const override { return target.GetPath(); }

private:
    bool make_durable() override;
    // Forces the open file's frames, and the name of a file made since the last time, onto the
    // disk: what the index may list from then on.
    bool sync_written();
    std::size_t finish_current_file() override { return finish_file(); }
    bool start_encoded_file(const media::video_frame& picture, const TrackPosition& position);
    bool start_copied_file(const media::encoded_packet& first, const TrackPosition& position);
    // Names the next file after `position`; false while a failing disk is not to be tried.
    bool name_next_file(const TrackPosition& position);
    void file_started();
    std::size_t finish_file();
    void file_failed();
    // Lists the oldest `count` frames handed to the encoder: they are in the file now.
    std::size_t index_encoded(std::size_t count);
    // Copies one packet into the current file, starting or splitting files at key frames.
    // Returns the frames listed meanwhile (the leftovers of a finished opening).
    std::size_t copy_packet(const media::encoded_packet& packet, const TrackPosition& position);
    // Lists a decoded picture against the copied packet it came from; 1 when listed.
    std::size_t index_copied_picture(const media::video_frame& picture,
                                     const TrackPosition& position);
    // Lists copied packets whose pictures never came (the stream broke off), with the latest
    // position, so that every packet in a file has its record.
    std::size_t index_copied_leftovers();
    void list_copied(const wxString& file, const TrackPosition& position);
    std::size_t list_copied_picture(const wxString& file, const TrackPosition& position);
    bool file_open() const { return encoded.has_value() || copied.has_value(); }

    wxString codec;
    uint32_t fourcc = 0;
    wxString camera_name;
    wxFileName target;
    std::optional<media::encoded_video_file> encoded;
    std::optional<media::copied_video_file> copied;
    FrameIndex index;
    uint64_t frames_in_file = 0;
    split_policy policy;
    trip_file_names names;
    // Frames the encoder holds, oldest first, waiting for their packets to reach the file.
    std::deque<TrackPosition> held_by_encoder;
    // A copied file splits at the first key frame after the policy asked for it.
    bool split_waiting = false;
    // Copied packets in file order (decode order) whose pictures have not been listed yet.
    // A camera with B-frames sends a picture's packet before the pictures shown earlier, so
    // the pictures, which come in presentation order, are matched to packets by time stamp
    // and listed in the order they are shown: a player's frame N is the index's record N.
    struct copied_packet {
        wxString file;
        int64_t pts;
    };
    std::deque<copied_packet> awaiting_pictures;
    // Records listed so far in each copied file (a file may still get records after a split).
    std::map<wxString, uint64_t> copied_records;
    TrackPosition last_copied_position;
    // A file was made since the trip folder was last forced to the disk.
    bool folder_changed = false;
    // A file failed and was closed as it was: the trip needs the repair a cut trip gets.
    bool file_left_unfinished = false;
};
