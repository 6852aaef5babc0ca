#pragma once
// Finds the path sensor's readings in its byte stream. The line has no synchronisation other
// than the frame patterns, so every byte is a candidate end of either frame:
//   4-byte frame: tags 00, 01, 10, 11 in bits 7-6, a 24-bit value in bits 5-0, low bits first;
//   7-byte frame: 0x53 0x04, a 32-bit value (least significant byte first), the sum of the six
//   bytes before it modulo 256.
// Pure and free of the toolkit, so it can be fuzzed and tested byte by byte.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

struct dpp_reading {
    int frame_length = 0; // 4 or 7
    int32_t value = 0;    // 0 to 2^24 - 1 for 4-byte frames; all 32 bits for 7-byte frames

    bool operator==(const dpp_reading& other) const {
        return frame_length == other.frame_length && value == other.value;
    }
};

class dpp_frame_recogniser {
public:
    // Takes the next byte of the line and returns the readings it completes: none, one, or
    // both frames at once, the 4-byte reading first.
    std::vector<dpp_reading> push(uint8_t byte);

private:
    std::deque<uint8_t> window4; // the last at most 4 bytes, oldest first
    std::deque<uint8_t> window7; // the last at most 7 bytes, oldest first
};
