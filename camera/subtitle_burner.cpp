#include "camera/subtitle_burner.h"

#include "camera/pipeline_rules.h"
#include "camera/subtitle_outline.h"

#include <algorithm>
#include <memory>
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

struct text_size {
    double width = 0;
    double height = 0;
};

text_size measure(const wxFont& font, const wxColour& colour, const wxString& text) {
    wxImage scratch(1, 1);
    const std::unique_ptr<wxGraphicsContext> context(wxGraphicsContext::Create(scratch));
    context->SetFont(font, colour);
    text_size size;
    context->GetTextExtent(text, &size.width, &size.height);
    return size;
}

} // namespace

subtitle_burner::subtitle_burner(const subtitle_style& style)
    : font(font_from(style.font_description)), colour(style.red, style.green, style.blue),
      position(style.position) {}

cv::Rect subtitle_burner::text_strip(const wxString& text, cv::Size picture,
                                     cv::Rect& wanted) const {
    const text_size size = measure(font, colour, text);
    const int text_width = static_cast<int>(size.width + 1);
    const int text_height = static_cast<int>(size.height + 0.5);
    wanted =
        cv::Rect(10, subtitle_top(position, picture.height, text_height), text_width, text_height);
    // Room for the outline around the glyphs.
    const int margin = outline_width(text_height);
    const cv::Rect outlined(wanted.x - margin, wanted.y - margin, wanted.width + 2 * margin,
                            wanted.height + 2 * margin);
    return outlined & cv::Rect(cv::Point(0, 0), picture);
}

void subtitle_burner::draw(cv::Mat& strip, const wxString& text, cv::Point origin,
                           int outline) const {
    // The glyphs drawn white on black say how much of each pixel they cover; the outline and
    // the text are then painted by that.
    wxImage image(strip.cols, strip.rows, true);
    {
        const std::unique_ptr<wxGraphicsContext> context(wxGraphicsContext::Create(image));
        context->SetFont(font, *wxWHITE);
        context->DrawText(text, origin.x, origin.y);
    } // the context writes its drawing back into the image as it ends, into a new buffer
    cv::Mat coverage;
    cv::cvtColor(cv::Mat(strip.rows, strip.cols, CV_8UC3, image.GetData()), coverage,
                 cv::COLOR_RGB2GRAY);
    paint_outlined_text(strip, coverage, colour, outline);
}

void subtitle_burner::burn(cv::Mat& picture, const wxString& text) {
    if (text.empty() || picture.empty())
        return;
    // Only the strip under the text is copied out, drawn on and copied back.
    cv::Rect wanted;
    const cv::Rect strip = text_strip(text, picture.size(), wanted);
    if (strip.empty())
        return;
    cv::Mat pixels = picture(strip);
    draw(pixels, text, wanted.tl() - strip.tl(), outline_width(wanted.height));
}

media::video_frame subtitle_burner::burn(const media::video_frame& picture, const wxString& text,
                                         bool full_range) {
    if (picture.empty())
        return picture;
    media::frame_handle copy = picture.copy_in_range(full_range);
    cv::Rect wanted;
    cv::Rect strip = text.empty()
                         ? cv::Rect()
                         : text_strip(text, cv::Size(picture.width(), picture.height()), wanted);
    if (strip.empty())
        return media::video_frame(std::move(copy));
    // Chroma comes in 2x2 blocks: the strip grows to even edges.
    const cv::Point top_left(strip.x & ~1, strip.y & ~1);
    const cv::Point bottom_right((strip.br().x + 1) & ~1, (strip.br().y + 1) & ~1);
    strip = cv::Rect(top_left, bottom_right);

    // The strip as packed I420 in video range, the range of OpenCV's conversions.
    cv::Mat i420(strip.height * 3 / 2, strip.width, CV_8UC1);
    const cv::Size chroma(strip.width / 2, strip.height / 2);
    const auto packed_plane = [&](int index) {
        if (index == 0)
            return i420.rowRange(0, strip.height);
        uchar* start = i420.ptr(strip.height) + (index - 1) * chroma.area();
        return cv::Mat(chroma, CV_8UC1, start);
    };
    const auto frame_plane = [&](int index) {
        const int shift = index == 0 ? 0 : 1;
        const cv::Rect area(strip.x >> shift, strip.y >> shift, strip.width >> shift,
                            strip.height >> shift);
        const cv::Size size = media::plane_size(index, copy->width, copy->height);
        return cv::Mat(size, CV_8UC1, copy->data[index],
                       static_cast<size_t>(copy->linesize[index]))(area);
    };
    for (int index = 0; index < 3; ++index) {
        cv::Mat packed = packed_plane(index);
        media::convert_plane_range(frame_plane(index), full_range, packed, false, index == 0);
    }
    cv::Mat rgb;
    cv::cvtColor(i420, rgb, cv::COLOR_YUV2RGB_I420);
    draw(rgb, text, wanted.tl() - strip.tl(), outline_width(wanted.height));
    cv::cvtColor(rgb, i420, cv::COLOR_RGB2YUV_I420);
    for (int index = 0; index < 3; ++index) {
        cv::Mat target = frame_plane(index);
        media::convert_plane_range(packed_plane(index), false, target, full_range, index == 0);
    }
    return media::video_frame(std::move(copy));
}
