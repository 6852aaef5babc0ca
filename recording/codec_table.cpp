#include "recording/codec_table.h"

#include "media/encoded_video_file.h"

#include <map>

const wxString default_codec = "XVID";

namespace {

constexpr uint32_t fourcc_of(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

const std::map<wxString, uint32_t>& codec_table() {
    // Built once, on first use, and only read afterwards: writers of both cameras share it.
    static const std::map<wxString, uint32_t> table = {
        {"MJPEG", fourcc_of('M', 'J', 'P', 'G')}, {"XVID", fourcc_of('X', 'V', 'I', 'D')},
        {"DIVX", fourcc_of('D', 'I', 'V', 'X')},  {"h264", fourcc_of('X', '2', '6', '4')},
        {"h265", fourcc_of('H', 'E', 'V', '1')},
    };
    return table;
}

} // namespace

bool codec_fits_avi(uint32_t fourcc) {
    return media::encoded_video_file::can_encode(fourcc);
}

uint32_t codec_fourcc(const wxString& codec) {
    const auto& table = codec_table();
    const auto found = table.find(codec);
    return found == table.end() ? 0 : found->second;
}
