#include "camera/subtitle_burner.h"

#include "camera/pipeline_rules.h"

#include <algorithm>
#include <memory>
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

void subtitle_burner::burn(cv::Mat& picture, const wxString& text) {
    if (text.empty() || picture.empty())
        return;
    const text_size size = measure(font, colour, text);
    const int text_width = static_cast<int>(size.width + 1);
    const int text_height = static_cast<int>(size.height + 0.5);
    const int top = subtitle_top(position, picture.rows, text_height);

    // Only the strip under the text is copied out, drawn on and copied back.
    const cv::Rect wanted(10, top, text_width, text_height);
    const cv::Rect strip = wanted & cv::Rect(0, 0, picture.cols, picture.rows);
    if (strip.empty())
        return;
    wxImage image(strip.width, strip.height, false);
    cv::Mat image_pixels(strip.height, strip.width, CV_8UC3, image.GetData());
    picture(strip).copyTo(image_pixels);
    {
        const std::unique_ptr<wxGraphicsContext> context(wxGraphicsContext::Create(image));
        context->SetFont(font, colour);
        context->DrawText(text, wanted.x - strip.x, wanted.y - strip.y);
    } // the context writes its drawing back into the image as it ends
    cv::Mat(strip.height, strip.width, CV_8UC3, image.GetData()).copyTo(picture(strip));
}
