#pragma once
// A failed FFmpeg call, with FFmpeg's own text for its result code.

#include <stdexcept>
#include <string>

namespace media {

class av_error : public std::runtime_error {
public:
    av_error(const std::string& what_failed, int code);
    int code() const { return result; }

private:
    int result;
};

// FFmpeg's own text for a result code.
std::string av_error_text(int code);

// Throws av_error when `code` is negative; returns it otherwise.
int checked(int code, const char* what_failed);

} // namespace media
