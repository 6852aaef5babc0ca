#include "position/dpp_frame_recogniser.h"

namespace {

constexpr uint8_t tag_mask = 0xC0;
constexpr uint8_t value_mask = 0x3F;
constexpr uint8_t frame7_start = 0x53;
constexpr uint8_t frame7_second = 0x04;

void append(std::deque<uint8_t>& window, uint8_t byte, size_t capacity) {
    window.push_back(byte);
    while (window.size() > capacity)
        window.pop_front();
}

bool holds_frame4(const std::deque<uint8_t>& window) {
    if (window.size() != 4)
        return false;
    for (size_t i = 0; i < 4; ++i) {
        if ((window[i] & tag_mask) != static_cast<uint8_t>(i << 6))
            return false;
    }
    return true;
}

int32_t frame4_value(const std::deque<uint8_t>& window) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(window[i] & value_mask) << (6 * i);
    return static_cast<int32_t>(value);
}

bool holds_frame7(const std::deque<uint8_t>& window) {
    if (window.size() != 7 || window[0] != frame7_start || window[1] != frame7_second)
        return false;
    unsigned sum = 0;
    for (size_t i = 0; i < 6; ++i)
        sum += window[i];
    return static_cast<uint8_t>(sum) == window[6];
}

int32_t frame7_value(const std::deque<uint8_t>& window) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(window[2 + i]) << (8 * i);
    return static_cast<int32_t>(value);
}

} // namespace

std::vector<dpp_reading> dpp_frame_recogniser::push(uint8_t byte) {
    append(window4, byte, 4);
    append(window7, byte, 7);
    std::vector<dpp_reading> readings;
    if (holds_frame4(window4))
        readings.push_back({4, frame4_value(window4)});
    if (holds_frame7(window7))
        readings.push_back({7, frame7_value(window7)});
    return readings;
}
