// The JPEG encoder on 4:2:0 planes: every picture decodes, including those whose symbols the
// picture the tables were fitted to never used; JPEG levels come out right from either range;
// sizes that are no multiple of the block size keep their edges.

#include "media/jpeg_encoder.h"
#include "tests/support/test_media.h"

#include <chrono>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <vector>

namespace {

cv::Mat decoded_luma(const media::jpeg_bytes& bytes) {
    const std::vector<unsigned char> copy(bytes.data, bytes.data + bytes.size);
    return cv::imdecode(copy, cv::IMREAD_GRAYSCALE);
}

// Luma PSNR of the decoded picture against the picture's own full-range luma.
double luma_psnr(const media::video_frame& picture, const media::jpeg_bytes& bytes) {
    const cv::Mat decoded = decoded_luma(bytes);
    EXPECT_EQ(decoded.cols, picture.width());
    EXPECT_EQ(decoded.rows, picture.height());
    if (decoded.size() != cv::Size(picture.width(), picture.height()))
        return 0;
    const media::video_frame full(picture.copy_in_range(true));
    return cv::PSNR(full.plane(0), decoded);
}

media::video_frame camera_like(int width, int height, int seed) {
    return media::video_frame::from_rgb(test_support::camera_like_picture(width, height, seed));
}

media::video_frame flat(int width, int height, int luma) {
    return media::video_frame::from_rgb(cv::Mat(height, width, CV_8UC3, cv::Scalar::all(luma)));
}

TEST(JpegEncoder, PicturesAfterTheFittedOneDecodeEvenWithSymbolsItNeverUsed) {
    media::jpeg_encoder encoder(media::jpeg_settings::video());
    // A flat first picture uses almost no symbols: its fitted tables alone could not code the
    // noisy pictures that follow.
    const media::video_frame grey = flat(320, 240, 128);
    EXPECT_GT(luma_psnr(grey, encoder.encode(grey)), 45.0);
    for (int seed = 0; seed < 4; ++seed) {
        const media::video_frame picture = camera_like(320, 240, seed);
        EXPECT_GT(luma_psnr(picture, encoder.encode(picture)), 33.0) << "picture " << seed;
    }
}

TEST(JpegEncoder, TablesFittedAgainTellInTheBytes) {
    media::jpeg_settings settings = media::jpeg_settings::video();
    settings.refit_interval = std::chrono::hours(1);
    media::jpeg_encoder encoder(settings);
    const media::video_frame grey = flat(320, 240, 128);
    const media::video_frame picture = camera_like(320, 240, 1);
    encoder.encode(grey);
    const media::jpeg_bytes with_grey_tables = encoder.encode(picture);
    const std::size_t grey_fitted_size = with_grey_tables.size;
    encoder.refit();
    const std::size_t own_fitted_size = encoder.encode(picture).size;
    EXPECT_LT(own_fitted_size, grey_fitted_size) << "tables fitted to the picture itself";
    // The next picture is coded with those tables widened to every symbol: barely larger.
    const std::size_t kept_size = encoder.encode(picture).size;
    EXPECT_LT(kept_size, grey_fitted_size);
    EXPECT_LT(double(kept_size), own_fitted_size * 1.03);
}

TEST(JpegEncoder, BothRangesComeOutAtJpegLevels) {
    media::jpeg_encoder encoder(media::jpeg_settings::video());
    for (const int level : {0, 255}) {
        // from_rgb gives video range (16..235); the encoder must stretch it.
        const media::video_frame video_range = flat(64, 48, level);
        ASSERT_FALSE(video_range.full_range());
        const cv::Mat from_video = decoded_luma(encoder.encode(video_range));
        EXPECT_NEAR(cv::mean(from_video)[0], level, 2.0);
        const media::video_frame full(video_range.copy_in_range(true));
        const cv::Mat from_full = decoded_luma(encoder.encode(full));
        EXPECT_NEAR(cv::mean(from_full)[0], level, 2.0);
    }
}

TEST(JpegEncoder, SidesThatAreNoMultipleOfTheBlockKeepTheirEdges) {
    media::jpeg_encoder encoder(media::jpeg_settings::still(95));
    const media::video_frame picture = camera_like(1002, 602, 3);
    const media::jpeg_bytes bytes = encoder.encode(picture);
    EXPECT_GT(luma_psnr(picture, bytes), 35.0);
    const cv::Mat decoded = decoded_luma(bytes);
    const media::video_frame full(picture.copy_in_range(true));
    const cv::Rect last_columns(1000, 0, 2, 602);
    const cv::Rect last_rows(0, 600, 1002, 2);
    EXPECT_LT(cv::norm(decoded(last_columns), full.plane(0)(last_columns), cv::NORM_L1) / 1204,
              6.0);
    EXPECT_LT(cv::norm(decoded(last_rows), full.plane(0)(last_rows), cv::NORM_L1) / 2004, 6.0);
    EXPECT_THROW(encoder.encode(media::video_frame()), std::invalid_argument);
}

} // namespace
