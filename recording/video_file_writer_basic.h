#pragma once
// What the writer thread hands its frames to: a video writer or an image writer. Each
// records one trip into one trip folder of its own.

#include "position/track_position.h"

#include <opencv2/core/mat.hpp>
#include <wx/string.h>

class video_file_writer_basic {
public:
    // Makes the trip folder under write_path. GUI thread; journals its own failure.
    // False when the trip folder could not be made.
    virtual bool open(const wxString& write_path) = 0;
    // Finishes the current video file; the image writers have nothing to finish.
    virtual void close() = 0;
    // One 8-bit RGB picture with its position. True when the frame reached a file; false when
    // it was dropped, and then failure() tells why.
    virtual bool write(const cv::Mat& picture, const TrackPosition& position) = 0;

    // The trip folder that open made; GUI thread, before the writer thread runs.
    virtual wxString trip_folder() const = 0;

    // The text of the last failure, ready for a journal row.
    const wxString& failure() const { return last_failure; }

protected:
    ~video_file_writer_basic() = default;
    void set_failure(const wxString& text) { last_failure = text; }

private:
    wxString last_failure;
};
