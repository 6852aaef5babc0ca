#pragma once
// What the writer thread hands its frames to: a video writer or an image writer. Each
// records one trip into one trip folder of its own.

#include "position/track_position.h"
#include "recording/frame_index.h"

#include <opencv2/core/mat.hpp>
#include <utility>
#include <wx/string.h>

class video_file_writer_basic {
public:
    // Makes the trip folder under write_path. GUI thread; journals its own failure.
    // False when the trip folder could not be made.
    virtual bool open(const wxString& write_path) = 0;
    // Finishes the current video file and saves the whole index.
    virtual void close() = 0;
    // One 8-bit RGB picture with its position. True when the frame reached a file; false when
    // it was dropped, and then failure() tells why.
    virtual bool write(const cv::Mat& picture, const TrackPosition& position) = 0;

    // The text of the last failure, ready for a journal row.
    const wxString& failure() const { return last_failure; }
    // A failure that cost no frame (the trip's index could not be saved), once per run of such
    // failures; empty when there is nothing new. Taking it clears it.
    wxString take_late_failure() { return std::exchange(late_failure, wxString()); }

protected:
    ~video_file_writer_basic() = default;
    void set_failure(const wxString& text) { last_failure = text; }
    // Call after every save of the index (an add may save it too).
    void note_index_state(const FrameIndex& index) {
        if (index.failing() && !index_failing)
            late_failure = wxString::Format(wxString::FromUTF8("Не удается сохранить индекс [%s]"),
                                            index.file_path());
        index_failing = index.failing();
    }

private:
    wxString last_failure;
    wxString late_failure;
    bool index_failing = false;
};
