#pragma once
// Pictures and files for tests and benchmarks of recording.

#include <cstddef>
#include <opencv2/core/mat.hpp>
#include <string>
#include <vector>

namespace test_support {

// A camera's view: gradients, edges, a bright object placed by the seed, and sensor noise of
// the given standard deviation. A flat test pattern would flatter every encoder.
cv::Mat camera_like_picture(int width, int height, int seed, double noise_sigma = 12.0);

// A file of `bytes` bytes that neither compress nor repeat, the same for the same seed: a damaged
// or short copy of it cannot match by chance.
void write_noise(const std::string& file, std::size_t bytes, unsigned seed);

// The files of a folder whose extension is `extension` (".avi"), full paths, sorted.
std::vector<std::string> files_with_extension(const std::string& folder,
                                              const std::string& extension);

} // namespace test_support
