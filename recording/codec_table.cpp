#include "recording/codec_table.h"

#include <map>
#include <opencv2/videoio.hpp>

namespace {

const std::map<wxString, int>& codec_table() {
    // Built once, on first use, and only read afterwards: writers of both cameras share it.
    static const std::map<wxString, int> table = {
        {"MJPEG", cv::VideoWriter::fourcc('M', 'J', 'P', 'G')},
        {"XVID", cv::VideoWriter::fourcc('X', 'V', 'I', 'D')},
        {"DIVX", cv::VideoWriter::fourcc('D', 'I', 'V', 'X')},
        {"h264", cv::VideoWriter::fourcc('X', '2', '6', '4')},
        {"h265", cv::VideoWriter::fourcc('H', 'E', 'V', '1')},
    };
    return table;
}

} // namespace

bool codec_fits_avi(int fourcc) {
    return fourcc != cv::VideoWriter::fourcc('H', 'E', 'V', '1');
}

int codec_fourcc(const wxString& codec) {
    const auto& table = codec_table();
    const auto found = table.find(codec);
    return found == table.end() ? 0 : found->second;
}
