#include "tests/support/test_media.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>
#include <vector>

namespace test_support {

cv::Mat camera_like_picture(int width, int height, int seed, double noise_sigma) {
    cv::Mat picture(height, width, CV_8UC3);
    for (int y = 0; y < height; ++y) {
        auto* row = picture.ptr<cv::Vec3b>(y);
        for (int x = 0; x < width; ++x)
            row[x] = cv::Vec3b(static_cast<uchar>((x + seed * 7) * 255 / width),
                               static_cast<uchar>(y * 255 / height),
                               static_cast<uchar>(((x / 40 + y / 40 + seed) % 2) * 120 + 60));
    }
    cv::rectangle(picture, {width / 4 + seed * 9, height / 3}, {width / 2 + seed * 9, height / 2},
                  {250, 240, 30}, cv::FILLED);
    cv::Mat noise(picture.size(), CV_16SC3);
    cv::theRNG().state = static_cast<uint64_t>(seed) + 1;
    cv::randn(noise, cv::Scalar::all(0), cv::Scalar::all(noise_sigma));
    cv::Mat noisy;
    cv::add(picture, noise, noisy, cv::noArray(), CV_8UC3);
    return noisy;
}

std::vector<std::string> files_with_extension(const std::string& folder,
                                              const std::string& extension) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == extension)
            found.push_back(entry.path().string());
    std::sort(found.begin(), found.end());
    return found;
}

void write_noise(const std::string& file, std::size_t bytes, unsigned seed) {
    std::mt19937_64 noise(seed);
    std::vector<uint64_t> block(1 << 17);
    std::ofstream out(file, std::ios::binary);
    for (std::size_t written = 0; written < bytes;) {
        for (uint64_t& word : block)
            word = noise();
        const std::size_t count = std::min(bytes - written, block.size() * sizeof(uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(count));
        written += count;
    }
}

} // namespace test_support
