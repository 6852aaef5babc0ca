#include "media/av_error.h"

extern "C" {
#include <libavutil/error.h>
}

namespace media {

std::string av_error_text(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

av_error::av_error(const std::string& what_failed, int code)
    : std::runtime_error(what_failed + ": " + av_error_text(code)), result(code) {}

int checked(int code, const char* what_failed) {
    if (code < 0)
        throw av_error(what_failed, code);
    return code;
}

} // namespace media
