#pragma once
// A place on the track as an operator types it: kilometre and metres ("126+740", "126 740",
// "126+740.5") or one absolute coordinate ("126740", "126740.25").

#include <cstdint>
#include <optional>
#include <string>

// The place along the line in metres, as the kilometre posts count it: kilometre * 1000 +
// metres. Unlike the absolute coordinate it follows the kilometre numbers of the line.
inline double linear_place(int32_t km, double m) {
    return km * 1000.0 + m;
}

struct track_place {
    bool absolute = false;
    int32_t km = 0; // kilometre and metres when not absolute
    double m = 0.0;
    double abs = 0.0; // the absolute coordinate when absolute

    // Nothing when the text is neither form; spaces around the text are ignored, a decimal
    // comma is taken for a full stop.
    static std::optional<track_place> parse(const std::string& text);

    // The absolute coordinate, or the linear place of kilometre and metres.
    double along() const { return absolute ? abs : linear_place(km, m); }
};
