#include "app/pane_snapshot.h"

#include <algorithm>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <system_error>
#include <wx/bitmap.h>
#include <wx/datetime.h>
#include <wx/dcmemory.h>
#include <wx/font.h>
#include <wx/image.h>

namespace {

// Pictures taller than this are scaled down: four 1080p frames would make an unwieldy file.
constexpr int tallest_picture = 1080;
constexpr int gap = 8;

int common_height(const std::vector<snapshot_picture>& pictures) {
    int height = tallest_picture;
    for (const snapshot_picture& picture : pictures)
        if (!picture.rgb.empty())
            height = std::min(height, picture.rgb.rows);
    return height;
}

cv::Mat scaled_to(const cv::Mat& rgb, int height) {
    if (rgb.rows == height)
        return rgb;
    cv::Mat scaled;
    const int width =
        std::max(1, static_cast<int>(static_cast<double>(rgb.cols) * height / rgb.rows));
    cv::resize(rgb, scaled, cv::Size(width, height), 0, 0, cv::INTER_AREA);
    return scaled;
}

// Text bands drawn through the toolkit, which renders Cyrillic with the system's fonts.
class band_painter {
public:
    explicit band_painter(int picture_height)
        : font(wxFontInfo(std::max(10, picture_height / 40)).Family(wxFONTFAMILY_SWISS)) {
        wxBitmap probe(1, 1, 24);
        wxMemoryDC dc(probe);
        dc.SetFont(font);
        line_height = dc.GetCharHeight() + 6;
    }

    int height() const { return line_height; }

    cv::Mat band(const wxString& text, int width, const wxColour& colour) const {
        wxBitmap bitmap(width, line_height, 24);
        {
            wxMemoryDC dc(bitmap);
            dc.SetBackground(*wxBLACK_BRUSH);
            dc.Clear();
            dc.SetFont(font);
            dc.SetTextForeground(colour);
            dc.DrawText(text, 4, 3);
        }
        const wxImage image = bitmap.ConvertToImage();
        return cv::Mat(line_height, width, CV_8UC3, image.GetData()).clone();
    }

private:
    wxFont font;
    int line_height = 0;
};

cv::Mat column_of(const snapshot_picture& picture, int height, const band_painter& bands) {
    cv::Mat body = picture.rgb.empty()
                       ? cv::Mat(height, height * 4 / 3, CV_8UC3, cv::Scalar::all(0))
                       : scaled_to(picture.rgb, height);
    if (picture.rgb.empty() && !picture.note.empty()) {
        const cv::Mat note = bands.band(picture.note, body.cols, *wxRED);
        note.copyTo(body(cv::Rect(0, (body.rows - note.rows) / 2, note.cols, note.rows)));
    }
    cv::Mat column;
    cv::vconcat(std::vector<cv::Mat>{bands.band(picture.caption, body.cols, *wxWHITE), body,
                                     bands.band(picture.subtitle, body.cols, *wxWHITE)},
                column);
    return column;
}

} // namespace

cv::Mat pane_snapshot::compose(const std::vector<snapshot_picture>& pictures) {
    if (pictures.empty())
        return {};
    const int height = common_height(pictures);
    const band_painter bands(height);
    std::vector<cv::Mat> row;
    for (const snapshot_picture& picture : pictures) {
        if (!row.empty())
            row.emplace_back(height + 2 * bands.height(), gap, CV_8UC3, cv::Scalar::all(0));
        row.push_back(column_of(picture, height, bands));
    }
    cv::Mat composed;
    cv::hconcat(row, composed);
    return composed;
}

std::filesystem::path pane_snapshot::save(const std::vector<snapshot_picture>& pictures,
                                          const std::filesystem::path& folder,
                                          const wxString& place) {
    const cv::Mat composed = compose(pictures);
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (composed.empty() || !std::filesystem::is_directory(folder, error))
        return {};
    const wxString stem =
        wxDateTime::Now().Format("%Y.%m.%d %H.%M.%S") + (place.empty() ? wxString() : " " + place);
    std::filesystem::path target = folder / std::filesystem::u8path(stem.utf8_string() + ".png");
    for (int copy = 2; std::filesystem::exists(target, error); ++copy)
        target = folder / std::filesystem::u8path(stem.utf8_string() + " (" + std::to_string(copy) +
                                                  ").png");
    cv::Mat bgr;
    cv::cvtColor(composed, bgr, cv::COLOR_RGB2BGR);
    try {
        if (cv::imwrite(target.string(), bgr))
            return target;
    } catch (const cv::Exception&) {
        // Reported below like any other failed write.
    }
    std::filesystem::remove(target, error);
    return {};
}
