#include "camera/subtitle_burner.h"

#include <gtest/gtest.h>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <thread>

namespace {

subtitle_style blue_style(int position) {
    subtitle_style style;
    style.font_description = "Sans 14";
    style.position = position;
    return style;
}

// Rows (first, last) that hold changed pixels, or (-1, -1).
std::pair<int, int> changed_rows(const cv::Mat& picture) {
    int first = -1;
    int last = -1;
    for (int row = 0; row < picture.rows; ++row)
        if (cv::countNonZero(picture.row(row).reshape(1)) > 0) {
            first = first < 0 ? row : first;
            last = row;
        }
    return {first, last};
}

} // namespace

TEST(subtitle_burner, draws_the_text_in_its_colour_at_the_top_left) {
    cv::Mat picture(240, 320, CV_8UC3, cv::Scalar(0, 0, 0));
    subtitle_burner(blue_style(0)).burn(picture, wxString::FromUTF8("123456-1 0012:346 [Перегон]"));

    const auto [first, last] = changed_rows(picture);
    ASSERT_GE(first, 9);
    EXPECT_LT(last, 60);
    std::vector<cv::Mat> channels;
    cv::split(picture, channels);
    EXPECT_GT(cv::countNonZero((channels[2] > 200) & (channels[0] < 50)), 50)
        << "pure blue letters";
    EXPECT_EQ(cv::countNonZero(picture.colRange(0, 9).reshape(1)), 0)
        << "text starts at x 10, its outline one pixel before";
}

// Pixels of the text's colour and of the outline's, each within a tolerance.
cv::Mat pixels_of(const cv::Mat& rgb, const cv::Scalar& colour) {
    cv::Mat found;
    cv::inRange(rgb, colour - cv::Scalar::all(40), colour + cv::Scalar::all(40), found);
    return found;
}

TEST(subtitle_burner, outlines_the_text_in_a_contrasting_shade_on_dark_and_light_pictures) {
    struct scene {
        cv::Scalar background;
        unsigned char red, green, blue;
        cv::Scalar outline;
    };
    // Dark blue gets a white outline, yellow a black one, on either picture.
    const std::vector<scene> scenes = {
        {cv::Scalar(0, 0, 0), 0, 0, 255, cv::Scalar(255, 255, 255)},
        {cv::Scalar(200, 200, 200), 0, 0, 255, cv::Scalar(255, 255, 255)},
        {cv::Scalar(60, 60, 60), 255, 255, 0, cv::Scalar(0, 0, 0)},
        {cv::Scalar(255, 255, 255), 255, 255, 0, cv::Scalar(0, 0, 0)}};
    for (const scene& each : scenes) {
        subtitle_style style = blue_style(0);
        style.red = each.red;
        style.green = each.green;
        style.blue = each.blue;
        subtitle_burner burner(style);
        const cv::Scalar text_colour(each.red, each.green, each.blue);
        const media::video_frame source =
            media::video_frame::from_rgb(cv::Mat(240, 320, CV_8UC3, each.background));
        for (const bool full : {false, true}) {
            cv::Mat burned;
            burner.burn(source, "0012:346", full).to_rgb(burned);
            const cv::Mat text = pixels_of(burned, text_colour);
            const cv::Mat outline = pixels_of(burned, each.outline);
            ASSERT_GT(cv::countNonZero(text), 30) << "full range " << full;
            // Around every letter: the outline's shade right next to the text's colour.
            cv::Mat near_text;
            cv::dilate(text, near_text, cv::Mat::ones(3, 3, CV_8UC1));
            EXPECT_GT(cv::countNonZero(near_text & outline), 30) << "full range " << full;
            if (each.background == cv::Scalar(0, 0, 0)) {
                EXPECT_GT(cv::countNonZero(outline), 30) << "a light outline on the dark picture";
            }
        }
    }
    EXPECT_EQ(outline_colour(wxColour(0, 0, 255)), *wxWHITE);
    EXPECT_EQ(outline_colour(wxColour(255, 255, 0)), *wxBLACK);
}

TEST(subtitle_burner, bottom_position_ends_ten_pixels_above_the_bottom) {
    cv::Mat picture(240, 320, CV_8UC3, cv::Scalar(0, 0, 0));
    subtitle_burner(blue_style(1)).burn(picture, "0012:346");
    const auto [first, last] = changed_rows(picture);
    EXPECT_GT(first, 180);
    EXPECT_LE(last, 229);
}

TEST(subtitle_burner, text_that_does_not_fit_is_cut_at_the_picture_edge) {
    // At the bottom of a picture too narrow and too low for it, the line is cut where the
    // picture ends, neither shrunk nor moved: the picture holds exactly the part of the line
    // that the same place of a large picture holds.
    const wxString line = "a long subtitle line";
    cv::Mat large(60, 400, CV_8UC3, cv::Scalar(0, 0, 0));
    subtitle_burner(blue_style(1)).burn(large, line);
    cv::Mat small(20, 60, CV_8UC3, cv::Scalar(0, 0, 0));
    subtitle_burner(blue_style(1)).burn(small, line);
    // The small picture is the large one's bottom-left corner, 10 pixels above the bottom.
    const cv::Mat corner = large(cv::Rect(0, 40, 60, 20));
    ASSERT_GT(cv::countNonZero(large.colRange(60, 400).reshape(1)), 0) << "more line to the right";
    ASSERT_GT(cv::countNonZero(large.rowRange(0, 40).reshape(1)), 0) << "more line above";
    ASSERT_GT(cv::countNonZero(small.reshape(1)), 0);
    EXPECT_EQ(cv::norm(small, corner, cv::NORM_INF), 0.0);
}

TEST(subtitle_burner, burners_on_several_threads_draw_alike) {
    const wxString text = wxString::FromUTF8("000000-0 0000:0 [0]");
    cv::Mat reference(120, 320, CV_8UC3, cv::Scalar(10, 20, 30));
    subtitle_burner(blue_style(0)).burn(reference, text);

    // Each burner is made here, on the GUI thread, and then used by one worker alone.
    std::vector<std::unique_ptr<subtitle_burner>> burners;
    for (int i = 0; i < 3; ++i)
        burners.push_back(std::make_unique<subtitle_burner>(blue_style(0)));
    std::vector<cv::Mat> results(burners.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < burners.size(); ++i)
        threads.emplace_back([&, i] {
            for (int round = 0; round < 20; ++round) {
                results[i] = cv::Mat(120, 320, CV_8UC3, cv::Scalar(10, 20, 30));
                burners[i]->burn(results[i], text);
            }
        });
    for (auto& thread : threads)
        thread.join();
    for (const auto& result : results)
        EXPECT_EQ(cv::norm(result, reference, cv::NORM_INF), 0.0);
}

TEST(subtitle_burner, burns_a_yuv_picture_into_a_private_copy_in_the_range_asked_for) {
    const cv::Mat grey(240, 320, CV_8UC3, cv::Scalar(90, 90, 90));
    const media::video_frame source = media::video_frame::from_rgb(grey);
    const cv::Mat source_luma = source.plane(0).clone();
    const wxString text = wxString::FromUTF8("123456-1 0012:346 [Перегон]");
    subtitle_burner burner(blue_style(1));
    cv::Mat expected;
    source.to_rgb(expected);
    burner.burn(expected, text);

    for (const bool full : {false, true}) {
        const media::video_frame burned = burner.burn(source, text, full);
        EXPECT_EQ(burned.full_range(), full);
        cv::Mat drawn;
        burned.to_rgb(drawn);
        // Chroma at half resolution softens the letters' edges; nothing else may differ.
        EXPECT_LT(cv::norm(drawn, expected, cv::NORM_L1) / static_cast<double>(drawn.total() * 3),
                  2.0)
            << "full range " << full;
        std::vector<cv::Mat> channels;
        cv::split(drawn, channels);
        const cv::Mat blue_text = channels[2] > channels[0] + 60;
        EXPECT_GT(cv::countNonZero(blue_text), 50) << "full range " << full;
        EXPECT_EQ(cv::countNonZero(blue_text.rowRange(0, 170)), 0) << "text at the bottom only";
    }
    EXPECT_EQ(cv::norm(source.plane(0), source_luma, cv::NORM_INF), 0)
        << "the decoder's shared picture is never drawn on";
}
