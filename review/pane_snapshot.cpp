#include "review/pane_snapshot.h"

#include <algorithm>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <system_error>
#include <wx/arrstr.h>
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

// Text bands drawn through the toolkit, which renders Cyrillic with the system's fonts. A text
// wider than its picture is broken where its parts are set apart by two spaces.
class band_painter {
public:
    explicit band_painter(int picture_height)
        : font(wxFontInfo(std::max(9, picture_height / 40)).Family(wxFONTFAMILY_SWISS)),
          probe(1, 1, 24), measure(probe) {
        measure.SetFont(font);
        line_height = measure.GetCharHeight() + 4;
    }

    std::vector<wxString> lines_of(const wxString& text, int width) const {
        std::vector<wxString> lines;
        wxString line;
        for (const wxString& part : wxSplit(text, '\t')) {
            const wxString longer = line.empty() ? part : line + "  " + part;
            if (!line.empty() && measure.GetTextExtent(longer).x + 8 > width) {
                lines.push_back(line);
                line = part;
            } else {
                line = longer;
            }
        }
        lines.push_back(line);
        return lines;
    }

    size_t line_count(const wxString& text, int width) const {
        return lines_of(text, width).size();
    }

    cv::Mat band(const wxString& text, int width, size_t lines, const wxColour& colour) const {
        const int height = static_cast<int>(lines) * line_height;
        wxBitmap bitmap(width, height, 24);
        {
            wxMemoryDC dc(bitmap);
            dc.SetBackground(*wxBLACK_BRUSH);
            dc.Clear();
            dc.SetFont(font);
            dc.SetTextForeground(colour);
            int y = 2;
            for (const wxString& line : lines_of(text, width)) {
                dc.DrawText(line, 4, y);
                y += line_height;
            }
        }
        const wxImage image = bitmap.ConvertToImage();
        return cv::Mat(height, width, CV_8UC3, image.GetData()).clone();
    }

private:
    wxFont font;
    wxBitmap probe;
    wxMemoryDC measure;
    int line_height = 0;
};

// Parts of a caption, to break between when it is too wide.
wxString parts_of(const wxString& text) {
    wxString parts = text;
    parts.Replace("  ", "\t");
    return parts;
}

cv::Mat body_of(const snapshot_picture& picture, int height, const band_painter& bands) {
    cv::Mat body = picture.rgb.empty()
                       ? cv::Mat(height, height * 4 / 3, CV_8UC3, cv::Scalar::all(0))
                       : scaled_to(picture.rgb, height);
    if (picture.rgb.empty() && !picture.note.empty()) {
        const cv::Mat note = bands.band(picture.note, body.cols, 1, *wxRED);
        note.copyTo(body(cv::Rect(0, (body.rows - note.rows) / 2, note.cols, note.rows)));
    }
    return body;
}

} // namespace

cv::Mat pane_snapshot::compose(const std::vector<snapshot_picture>& pictures) {
    if (pictures.empty())
        return {};
    const int height = common_height(pictures);
    const band_painter bands(height);
    std::vector<cv::Mat> bodies;
    size_t caption_lines = 1;
    size_t subtitle_lines = 1;
    for (const snapshot_picture& picture : pictures) {
        bodies.push_back(body_of(picture, height, bands));
        const int width = bodies.back().cols;
        caption_lines = std::max(caption_lines, bands.line_count(parts_of(picture.caption), width));
        subtitle_lines =
            std::max(subtitle_lines, bands.line_count(parts_of(picture.subtitle), width));
    }
    std::vector<cv::Mat> row;
    for (size_t i = 0; i < pictures.size(); ++i) {
        const int width = bodies[i].cols;
        cv::Mat column;
        cv::vconcat(
            std::vector<cv::Mat>{
                bands.band(parts_of(pictures[i].caption), width, caption_lines, *wxWHITE),
                bodies[i],
                bands.band(parts_of(pictures[i].subtitle), width, subtitle_lines, *wxWHITE)},
            column);
        if (!row.empty())
            row.emplace_back(column.rows, gap, CV_8UC3, cv::Scalar::all(0));
        row.push_back(column);
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
