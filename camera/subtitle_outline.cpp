#include "camera/subtitle_outline.h"

#include <opencv2/imgproc.hpp>

namespace {

constexpr int large_text_height = 24;

// Blends `colour` over the picture by the weights (0..1, one channel).
void blend(cv::Mat& rgb, const cv::Mat& weights, const wxColour& colour) {
    cv::Mat picture;
    rgb.convertTo(picture, CV_32FC3);
    cv::Mat weights3;
    cv::merge(std::vector<cv::Mat>(3, weights), weights3);
    const cv::Scalar paint(colour.Red(), colour.Green(), colour.Blue());
    cv::Mat painted(picture.size(), CV_32FC3, paint);
    // picture + w * (paint - picture)
    cv::Mat difference = painted - picture;
    picture += difference.mul(weights3);
    picture.convertTo(rgb, CV_8UC3);
}

} // namespace

wxColour outline_shade(const wxColour& text) {
    const double luma = 0.299 * text.Red() + 0.587 * text.Green() + 0.114 * text.Blue();
    return luma >= 128 ? wxColour(0, 0, 0) : wxColour(255, 255, 255);
}

int outline_width(int text_height) {
    return text_height >= large_text_height ? 2 : 1;
}

void paint_outlined_text(cv::Mat& rgb, const cv::Mat& coverage, const wxColour& colour, int width) {
    cv::Mat text_weights;
    coverage.convertTo(text_weights, CV_32F, 1.0 / 255);
    cv::Mat outline_weights;
    const cv::Mat round =
        cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(2 * width + 1, 2 * width + 1));
    cv::dilate(text_weights, outline_weights, round);
    blend(rgb, outline_weights, outline_shade(colour));
    blend(rgb, text_weights, colour);
}
