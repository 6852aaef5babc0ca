// The shared YUV picture and the normaliser that makes one from whatever a decoder gives.

#include "media/frame_normaliser.h"
#include "media/video_frame.h"

#include <cstring>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace {

// A picture with every level of red, green and blue somewhere in it.
cv::Mat colour_ramp(int width, int height) {
    cv::Mat rgb(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rgb.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(x * 255 / (width - 1)),
                                                static_cast<uchar>(y * 255 / (height - 1)),
                                                static_cast<uchar>((x + y) % 256));
    return rgb;
}

double largest_difference(const cv::Mat& a, const cv::Mat& b) {
    double largest = 0;
    cv::Mat difference;
    cv::absdiff(a, b, difference);
    cv::minMaxLoc(difference.reshape(1), nullptr, &largest);
    return largest;
}

media::frame_handle blank_frame(AVPixelFormat format, int width, int height, int luma, int chroma) {
    media::frame_handle frame = media::make_frame();
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        throw std::bad_alloc();
    const int chroma_rows = format == AV_PIX_FMT_YUVJ422P ? height : (height + 1) / 2;
    for (int y = 0; y < height; ++y)
        std::memset(frame->data[0] + y * frame->linesize[0], luma, width);
    for (int plane = 1; plane < 3; ++plane)
        for (int y = 0; y < chroma_rows; ++y)
            std::memset(frame->data[plane] + y * frame->linesize[plane], chroma, (width + 1) / 2);
    return frame;
}

} // namespace

TEST(video_frame, range_conversions_round_trip_within_one_level) {
    const media::video_frame video = media::video_frame::from_rgb(colour_ramp(64, 48));
    ASSERT_FALSE(video.full_range());
    const media::video_frame full(video.copy_in_range(true));
    EXPECT_TRUE(full.full_range());
    // Full range spreads the same picture over more levels.
    double video_low = 0;
    double full_low = 0;
    cv::minMaxLoc(video.plane(0), &video_low);
    cv::minMaxLoc(full.plane(0), &full_low);
    EXPECT_GE(video_low, 16.0);
    EXPECT_LT(full_low, video_low);
    const media::video_frame back(full.copy_in_range(false));
    EXPECT_FALSE(back.full_range());
    for (int plane = 0; plane < 3; ++plane)
        EXPECT_LE(largest_difference(video.plane(plane), back.plane(plane)), 1.0) << plane;
    // Both ranges show the same colours.
    cv::Mat from_video;
    cv::Mat from_full;
    video.to_rgb(from_video);
    full.to_rgb(from_full);
    EXPECT_LE(largest_difference(from_video, from_full), 4.0);
}

TEST(video_frame, copies_share_the_picture_and_a_private_copy_never_changes_it) {
    const cv::Mat rgb = colour_ramp(64, 48);
    const media::video_frame original = media::video_frame::from_rgb(rgb);
    const media::video_frame shared = original; // NOLINT: the copy is the point
    EXPECT_EQ(shared.av(), original.av()) << "a copy holds the same pixels";
    const cv::Mat luma_before = original.plane(0).clone();

    media::frame_handle writable = original.copy_in_range(false);
    ASSERT_NE(writable->data[0], original.av()->data[0]);
    std::memset(writable->data[0], 255, static_cast<std::size_t>(writable->linesize[0]) * 10);
    EXPECT_EQ(cv::countNonZero(original.plane(0) != luma_before), 0);
    EXPECT_EQ(cv::countNonZero(shared.plane(0) != luma_before), 0);

    cv::Mat back;
    original.to_rgb(back);
    EXPECT_LE(largest_difference(back, rgb), 12.0) << "the picture survives the trip to YUV";
}

TEST(video_frame, bytes_count_the_buffers_once_however_many_hold_them) {
    EXPECT_EQ(media::video_frame().bytes(), 0u);
    const media::video_frame frame = media::video_frame::from_rgb(colour_ramp(320, 240));
    const std::size_t pixels = 320 * 240 * 3 / 2;
    EXPECT_GE(frame.bytes(), pixels);
    EXPECT_LT(frame.bytes(), pixels * 2) << "no hidden copy";
    const media::video_frame copy = frame;
    EXPECT_EQ(copy.bytes(), frame.bytes());
}

TEST(video_frame, scaled_view_shows_the_picture_at_the_asked_size) {
    cv::Mat rgb(240, 320, CV_8UC3, cv::Scalar(200, 40, 90));
    rgb(cv::Rect(0, 0, 160, 240)).setTo(cv::Scalar(20, 180, 60));
    const media::video_frame frame = media::video_frame::from_rgb(rgb);
    cv::Mat shown;
    frame.to_rgb_scaled(cv::Size(81, 61), shown);
    ASSERT_EQ(shown.cols, 80) << "odd sides lose one column";
    ASSERT_EQ(shown.rows, 60);
    EXPECT_LE(largest_difference(shown(cv::Rect(5, 5, 30, 50)),
                                 cv::Mat(50, 30, CV_8UC3, cv::Scalar(20, 180, 60))),
              6.0);
    EXPECT_LE(largest_difference(shown(cv::Rect(45, 5, 30, 50)),
                                 cv::Mat(50, 30, CV_8UC3, cv::Scalar(200, 40, 90))),
              6.0);
}

TEST(video_frame, surface_pixels_are_written_in_place_in_the_surfaces_byte_order) {
    cv::Mat rgb(240, 320, CV_8UC3, cv::Scalar(200, 40, 90));
    const media::video_frame frame = media::video_frame::from_rgb(rgb);
    // A surface whose rows are longer than its pixels, as a drawing surface's stride may be.
    std::vector<unsigned char> surface(60 * 96 * 4);
    cv::Mat bgrx(60, 80, CV_8UC4, surface.data(), 96 * 4);
    cv::Mat packed;
    frame.to_bgrx_scaled(cv::Size(81, 61), bgrx, packed);
    ASSERT_EQ(bgrx.data, surface.data()) << "the surface's own memory, not a new buffer";
    cv::Mat channels[4];
    cv::split(bgrx, channels);
    EXPECT_LE(largest_difference(channels[2], cv::Mat(60, 80, CV_8UC1, cv::Scalar(200))), 6.0);
    EXPECT_LE(largest_difference(channels[1], cv::Mat(60, 80, CV_8UC1, cv::Scalar(40))), 6.0);
    EXPECT_LE(largest_difference(channels[0], cv::Mat(60, 80, CV_8UC1, cv::Scalar(90))), 6.0);
    EXPECT_EQ(cv::countNonZero(channels[3] != 255), 0);
}

TEST(frame_normaliser, passes_4_2_0_through_and_drops_an_odd_column_and_row_without_a_copy) {
    media::frame_normaliser normaliser;
    media::frame_handle even = blank_frame(AV_PIX_FMT_YUV420P, 64, 48, 100, 128);
    const uint8_t* even_pixels = even->data[0];
    const media::video_frame passed = normaliser.normalise(std::move(even));
    EXPECT_EQ(passed.av()->data[0], even_pixels);

    media::frame_handle odd = blank_frame(AV_PIX_FMT_YUVJ420P, 65, 49, 100, 128);
    const uint8_t* odd_pixels = odd->data[0];
    const media::video_frame cropped = normaliser.normalise(std::move(odd));
    EXPECT_EQ(cropped.width(), 64);
    EXPECT_EQ(cropped.height(), 48);
    EXPECT_EQ(cropped.av()->data[0], odd_pixels);
    EXPECT_TRUE(cropped.full_range());

    EXPECT_THROW(normaliser.normalise(blank_frame(AV_PIX_FMT_YUV420P, 1, 1, 0, 128)),
                 std::invalid_argument);
}

TEST(frame_normaliser, converts_other_formats_once_and_keeps_their_range) {
    media::frame_normaliser normaliser;
    // A 4:2:2 camera at JPEG levels stays at JPEG levels.
    const media::video_frame from_422 =
        normaliser.normalise(blank_frame(AV_PIX_FMT_YUVJ422P, 63, 40, 10, 200));
    EXPECT_EQ(from_422.width(), 62);
    EXPECT_EQ(from_422.height(), 40);
    EXPECT_TRUE(from_422.full_range());
    EXPECT_LE(largest_difference(from_422.plane(0), cv::Mat(40, 62, CV_8UC1, cv::Scalar(10))), 1.0);
    EXPECT_LE(largest_difference(from_422.plane(1), cv::Mat(20, 31, CV_8UC1, cv::Scalar(200))),
              1.0);

    // RGB becomes video range, the colours kept.
    media::frame_handle rgb = media::make_frame();
    rgb->format = AV_PIX_FMT_RGB24;
    rgb->width = 32;
    rgb->height = 32;
    ASSERT_GE(av_frame_get_buffer(rgb.get(), 0), 0);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            uint8_t* pixel = rgb->data[0] + y * rgb->linesize[0] + x * 3;
            pixel[0] = 230;
            pixel[1] = 30;
            pixel[2] = 30;
        }
    const media::video_frame from_rgb = normaliser.normalise(std::move(rgb));
    EXPECT_FALSE(from_rgb.full_range());
    cv::Mat back;
    from_rgb.to_rgb(back);
    EXPECT_LE(largest_difference(back, cv::Mat(32, 32, CV_8UC3, cv::Scalar(230, 30, 30))), 6.0);
}
