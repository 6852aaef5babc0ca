#pragma once
// What the PNG and JPEG writers share: one still image per frame, every one listed in the
// trip's index with frame number in file 0.

#include "recording/frame_index.h"
#include "recording/image_encoding.h"
#include "recording/trip_folder.h"
#include "recording/video_file_writer_basic.h"

#include <chrono>
#include <wx/filename.h>

class video_file_writer_image : public video_file_writer_basic {
public:
    bool open(const wxString& write_path) override;
    // Every image is finished when written: saves the index.
    std::size_t close() override;
    std::size_t write(const media::video_frame& picture, const TrackPosition& position) override;
    wxString trip_folder() const override { return target.GetPath(); }

protected:
    video_file_writer_image(const wxString& camera_name, const wxString& name_template);
    ~video_file_writer_image() = default;

private:
    bool make_durable() override;
    // ".png" or ".jpeg"
    virtual const char* extension() const = 0;
    // Encodes the picture; the bytes stay valid until the next call. False when it could not.
    virtual bool encode(const media::video_frame& picture, image_bytes& bytes) = 0;

    wxString camera_name;
    wxFileName target;
    wxString name_template;
    FrameIndex index;
    trip_file_names names;
};
