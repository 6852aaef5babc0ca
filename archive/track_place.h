#pragma once
// A place on the track as an operator types it: kilometre and metres ("126+740", "126 740",
// "126+740.5") or one absolute coordinate ("126740", "126740.25").

#include <cstdint>
#include <optional>
#include <string>

struct track_place {
    bool absolute = false;
    int32_t km = 0; // kilometre and metres when not absolute
    double m = 0.0;
    double abs = 0.0; // the absolute coordinate when absolute

    // Nothing when the text is neither form; spaces around the text are ignored, a decimal
    // comma is taken for a full stop.
    static std::optional<track_place> parse(const std::string& text);
};
