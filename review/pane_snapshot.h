#pragma once
// A snapshot of the trip pane: every picture it shows side by side at its recorded size (scaled
// to the lowest of them), each with a caption above and its subtitle line below, saved as PNG.

#include <filesystem>
#include <opencv2/core/mat.hpp>
#include <vector>
#include <wx/string.h>

struct snapshot_picture {
    cv::Mat rgb; // 8-bit RGB; empty for a picture that could not be shown (its note is drawn)
    wxString caption;
    wxString subtitle;
    wxString note;
};

class pane_snapshot {
public:
    // The composed image, 8-bit RGB; empty when there is no picture.
    static cv::Mat compose(const std::vector<snapshot_picture>& pictures);
    // Composes and writes a new PNG in `folder` (made when missing) named after the moment and
    // `place`; the file's path, or empty when it could not be written.
    static std::filesystem::path save(const std::vector<snapshot_picture>& pictures,
                                      const std::filesystem::path& folder, const wxString& place);
};
