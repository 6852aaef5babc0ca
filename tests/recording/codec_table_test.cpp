// Codec names of the settings and the four characters an AVI file gives for each.

#include "recording/codec_table.h"

#include <cstdint>
#include <gtest/gtest.h>

namespace {

// The four characters as an AVI file stores them: the first in the lowest byte.
uint32_t tag(const char* four) {
    return uint32_t(uint8_t(four[0])) | uint32_t(uint8_t(four[1])) << 8 |
           uint32_t(uint8_t(four[2])) << 16 | uint32_t(uint8_t(four[3])) << 24;
}

TEST(CodecTable, KnownNamesOnlyExactly) {
    EXPECT_EQ(codec_fourcc("MJPEG"), tag("MJPG"));
    EXPECT_EQ(codec_fourcc("XVID"), tag("XVID"));
    EXPECT_EQ(codec_fourcc("DIVX"), tag("DIVX"));
    EXPECT_EQ(codec_fourcc("h264"), tag("X264"));
    EXPECT_EQ(codec_fourcc("h265"), tag("HEV1"));
    for (const char* unknown : {"H264", "xvid", "", "MJPEG "})
        EXPECT_EQ(codec_fourcc(unknown), 0u) << unknown;
    for (const char* fits : {"MJPEG", "XVID", "DIVX", "h264"})
        EXPECT_TRUE(codec_fits_avi(codec_fourcc(fits))) << fits;
    EXPECT_FALSE(codec_fits_avi(codec_fourcc("h265")));
}

} // namespace
