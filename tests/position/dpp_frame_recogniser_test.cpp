#include "position/dpp_frame_recogniser.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

// Feeds the bytes one at a time; the readings each byte completed, by byte index.
std::vector<std::vector<dpp_reading>> feed(dpp_frame_recogniser& recogniser,
                                           const std::vector<uint8_t>& bytes) {
    std::vector<std::vector<dpp_reading>> per_byte;
    for (const uint8_t byte : bytes)
        per_byte.push_back(recogniser.push(byte));
    return per_byte;
}

std::vector<dpp_reading> all_readings(const std::vector<uint8_t>& bytes) {
    dpp_frame_recogniser recogniser;
    std::vector<dpp_reading> readings;
    for (const auto& completed : feed(recogniser, bytes))
        readings.insert(readings.end(), completed.begin(), completed.end());
    return readings;
}

TEST(dpp_frame_recogniser, four_byte_frame_completes_with_its_fourth_byte) {
    dpp_frame_recogniser recogniser;
    const auto per_byte = feed(recogniser, {0x01, 0x42, 0x83, 0xC4});
    EXPECT_TRUE(per_byte[0].empty());
    EXPECT_TRUE(per_byte[1].empty());
    EXPECT_TRUE(per_byte[2].empty());
    EXPECT_EQ(per_byte[3], (std::vector<dpp_reading>{{4, 1060993}}));
}

TEST(dpp_frame_recogniser, seven_byte_frames_need_header_and_checksum) {
    EXPECT_EQ(all_readings({0x53, 0x04, 0x10, 0x27, 0x00, 0x00, 0x8E}),
              (std::vector<dpp_reading>{{7, 10000}}));
    // All 32 bits travel: the top bit makes the reading negative.
    EXPECT_EQ(all_readings({0x53, 0x04, 0x00, 0x00, 0x00, 0x80, 0xD7}),
              (std::vector<dpp_reading>{{7, INT32_MIN}}));
    EXPECT_TRUE(all_readings({0x53, 0x04, 0x00, 0x00, 0x00, 0x80, 0xD8}).empty());
    EXPECT_TRUE(all_readings({0x54, 0x04, 0x00, 0x00, 0x00, 0x80, 0xD8}).empty());
}

TEST(dpp_frame_recogniser, one_byte_can_complete_both_frames_four_byte_first) {
    // The last four bytes of this 7-byte frame carry the tags 00, 01, 10, 11.
    const std::vector<uint8_t> bytes = {0x53, 0x04, 0xA3, 0x01, 0x42, 0x83, 0xC0};
    dpp_frame_recogniser recogniser;
    const auto per_byte = feed(recogniser, bytes);
    for (size_t i = 0; i + 1 < per_byte.size(); ++i)
        EXPECT_TRUE(per_byte[i].empty()) << "byte " << i;
    EXPECT_EQ(per_byte.back(), (std::vector<dpp_reading>{{4, 1 | 2 << 6 | 3 << 12},
                                                         {7, static_cast<int32_t>(0x834201A3u)}}));
}

TEST(dpp_frame_recogniser, back_to_back_frames_in_noise_each_give_one_reading) {
    std::vector<uint8_t> bytes = {0xC4, 0x83, 0x00, 0x53, 0x04}; // noise and a cut-off start
    for (int i = 0; i < 3; ++i)
        bytes.insert(bytes.end(), {0x01, 0x42, 0x83, 0xC4});
    bytes.insert(bytes.end(), {0x53, 0x04, 0x10, 0x27, 0x00, 0x00, 0x8E, 0x3F, 0x7F, 0xBF, 0xFF});
    EXPECT_EQ(all_readings(bytes),
              (std::vector<dpp_reading>{
                  {4, 1060993}, {4, 1060993}, {4, 1060993}, {7, 10000}, {4, (1 << 24) - 1}}));
}

} // namespace
