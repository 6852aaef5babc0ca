#include "camera/subtitle_burner.h"

#include "camera/pipeline_rules.h"

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <wx/graphics.h>
#include <wx/image.h>

namespace {

wxFont font_from(const std::string& description) {
    wxFont font;
    if (!description.empty())
        font.SetNativeFontInfo(wxString::FromUTF8(description));
    return font.IsOk() ? font : wxFont(wxFontInfo(12).Family(wxFONTFAMILY_SWISS));
}

// The outline is this many pixels wide on every side of the letters.
constexpr int outline_width = 1;

// A colour as Y, U and V in the range asked for, the way OpenCV converts pictures.
cv::Vec3b yuv_of(const wxColour& colour, bool full_range) {
    const cv::Mat rgb(2, 2, CV_8UC3, cv::Scalar(colour.Red(), colour.Green(), colour.Blue()));
    cv::Mat i420;
    cv::cvtColor(rgb, i420, cv::COLOR_RGB2YUV_I420);
    cv::Vec3b yuv(i420.at<uchar>(0, 0), i420.at<uchar>(2, 0), i420.at<uchar>(2, 1));
    if (!full_range)
        return yuv;
    for (int index = 0; index < 3; ++index) {
        cv::Mat value(1, 1, CV_8UC1, cv::Scalar(yuv[index]));
        media::convert_plane_range(value.clone(), false, value, true, index == 0);
        yuv[index] = value.at<uchar>(0, 0);
    }
    return yuv;
}

// target += (value - target) * coverage / 255, for one plane.
void blend(cv::Mat target, const cv::Mat& coverage, uchar value) {
    for (int row = 0; row < target.rows; ++row) {
        uchar* pixel = target.ptr<uchar>(row);
        const uchar* weight = coverage.ptr<uchar>(row);
        for (int column = 0; column < target.cols; ++column)
            pixel[column] = static_cast<uchar>(
                (pixel[column] * (255 - weight[column]) + value * weight[column] + 127) / 255);
    }
}

void blend_rgb(cv::Mat target, const cv::Mat& coverage, const wxColour& colour) {
    std::vector<cv::Mat> channels;
    cv::split(target, channels);
    blend(channels[0], coverage, colour.Red());
    blend(channels[1], coverage, colour.Green());
    blend(channels[2], coverage, colour.Blue());
    cv::merge(channels, target);
}

} // namespace

wxColour outline_colour(const wxColour& text) {
    const double luma = 0.299 * text.Red() + 0.587 * text.Green() + 0.114 * text.Blue();
    return luma > 128 ? *wxBLACK : *wxWHITE;
}

// The text is drawn white on black into an image of its own, so that the image's grey level is
// the text's coverage whatever the text's colour.
struct subtitle_burner::canvas {
    wxImage image;
    std::unique_ptr<wxGraphicsContext> context;
    cv::Mat text;
    cv::Mat outlined;

    canvas(const wxFont& font, int width, int height)
        : image(width, height), context(wxGraphicsContext::Create(image)) {
        context->SetFont(font, *wxWHITE);
        context->SetBrush(*wxBLACK_BRUSH);
        context->SetPen(*wxTRANSPARENT_PEN);
        context->SetAntialiasMode(wxANTIALIAS_DEFAULT);
    }
    bool fits(int width, int height) const {
        return width <= image.GetWidth() && height <= image.GetHeight();
    }
};

subtitle_burner::subtitle_burner(const subtitle_style& style)
    : font(font_from(style.font_description)), colour(style.red, style.green, style.blue),
      outline(outline_colour(colour)), position(style.position) {}

subtitle_burner::~subtitle_burner() = default;

bool subtitle_burner::draw_coverage(const wxString& text, cv::Size picture, cv::Rect& wanted) {
    if (text.empty() || picture.empty())
        return false;
    if (!board)
        board = std::make_unique<canvas>(font, 64, 16);
    double width = 0;
    double height = 0;
    board->context->GetTextExtent(text, &width, &height);
    const int text_width = static_cast<int>(width + 1);
    const int text_height = static_cast<int>(height + 0.5);
    const cv::Size outlined(text_width + 2 * outline_width, text_height + 2 * outline_width);
    if (!board->fits(outlined.width, outlined.height))
        // Some slack, so that a line growing by a digit does not make a new context each time.
        board = std::make_unique<canvas>(font, outlined.width + 64, outlined.height + 4);
    board->context->DrawRectangle(0, 0, outlined.width, outlined.height);
    board->context->DrawText(text, outline_width, outline_width);
    board->context->Flush();
    const cv::Mat drawn(board->image.GetHeight(), board->image.GetWidth(), CV_8UC3,
                        board->image.GetData());
    cv::Mat grey;
    cv::cvtColor(drawn(cv::Rect(cv::Point(0, 0), outlined)), grey, cv::COLOR_RGB2GRAY);
    board->text = grey;
    cv::dilate(grey, board->outlined,
               cv::Mat::ones(2 * outline_width + 1, 2 * outline_width + 1, CV_8UC1));
    wanted = cv::Rect(10 - outline_width,
                      subtitle_top(position, picture.height, text_height) - outline_width,
                      outlined.width, outlined.height);
    return true;
}

void subtitle_burner::burn(cv::Mat& picture, const wxString& text) {
    cv::Rect wanted;
    if (!draw_coverage(text, picture.size(), wanted))
        return;
    const cv::Rect strip = wanted & cv::Rect(cv::Point(0, 0), picture.size());
    if (strip.empty())
        return;
    const cv::Rect in_mask(strip.tl() - wanted.tl(), strip.size());
    blend_rgb(picture(strip), board->outlined(in_mask), outline);
    blend_rgb(picture(strip), board->text(in_mask), colour);
}

media::video_frame subtitle_burner::burn(const media::video_frame& picture, const wxString& text,
                                         bool full_range) {
    if (picture.empty())
        return picture;
    media::frame_handle copy = picture.copy_in_range(full_range);
    cv::Rect wanted;
    const cv::Size size(picture.width(), picture.height());
    if (!draw_coverage(text, size, wanted))
        return media::video_frame(std::move(copy));
    // Chroma comes in 2x2 blocks: the strip grows to even edges, the masks with it.
    const cv::Rect cut = wanted & cv::Rect(cv::Point(0, 0), size);
    if (cut.empty())
        return media::video_frame(std::move(copy));
    const cv::Point top_left(cut.x & ~1, cut.y & ~1);
    const cv::Point bottom_right((cut.br().x + 1) & ~1, (cut.br().y + 1) & ~1);
    const cv::Rect strip(top_left, bottom_right);
    const auto mask_over_strip = [&](const cv::Mat& mask) {
        cv::Mat padded(strip.size(), CV_8UC1, cv::Scalar(0));
        const cv::Rect inside = wanted & strip;
        mask(cv::Rect(inside.tl() - wanted.tl(), inside.size()))
            .copyTo(padded(cv::Rect(inside.tl() - strip.tl(), inside.size())));
        return padded;
    };
    const cv::Mat outline_mask = mask_over_strip(board->outlined);
    const cv::Mat text_mask = mask_over_strip(board->text);
    const auto plane = [&](int index) {
        const int shift = index == 0 ? 0 : 1;
        const cv::Rect area(strip.x >> shift, strip.y >> shift, strip.width >> shift,
                            strip.height >> shift);
        const cv::Size plane_size = media::plane_size(index, copy->width, copy->height);
        return cv::Mat(plane_size, CV_8UC1, copy->data[index],
                       static_cast<size_t>(copy->linesize[index]))(area);
    };
    const auto blend_planes = [&](const cv::Mat& mask, const cv::Vec3b& yuv) {
        blend(plane(0), mask, yuv[0]);
        cv::Mat chroma_mask;
        cv::resize(mask, chroma_mask, cv::Size(strip.width / 2, strip.height / 2), 0, 0,
                   cv::INTER_AREA);
        blend(plane(1), chroma_mask, yuv[1]);
        blend(plane(2), chroma_mask, yuv[2]);
    };
    blend_planes(outline_mask, yuv_of(outline, full_range));
    blend_planes(text_mask, yuv_of(colour, full_range));
    return media::video_frame(std::move(copy));
}
