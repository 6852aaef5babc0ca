// Any byte stream from the serial line: every reading must be one of the two frame kinds and
// lie in its range, and at most two readings can end at one byte, the 4-byte one first.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "position/dpp_frame_recogniser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dpp_frame_recogniser recogniser;
    for (size_t i = 0; i < size; ++i) {
        const auto readings = recogniser.push(data[i]);
        if (readings.size() > 2 || (readings.size() == 2 && (readings[0].frame_length != 4 ||
                                                              readings[1].frame_length != 7)))
            std::abort();
        for (const dpp_reading& reading : readings) {
            if (reading.frame_length == 4 && (reading.value < 0 || reading.value >= (1 << 24)))
                std::abort();
            if (reading.frame_length != 4 && reading.frame_length != 7)
                std::abort();
            if (i + 1 < static_cast<size_t>(reading.frame_length))
                std::abort();
        }
    }
    return 0;
}
