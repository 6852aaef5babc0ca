#pragma once
// The line the simulated car runs along: stations at irregular distances with sections
// between them, maintenance distances ("ПЧ-n") every 60 km, a direction code and a main track
// that change every 150 km. Texts are UTF-8; the server converts them to its wire encoding.

#include "position/position_fix.h"

namespace coordsim {

// Where the car stands at absolute coordinate `abs` (metres): kilometre and metres follow the
// coordinate, the texts describe that place of the line. With a `scale` below 1 the line's
// stretches are that much shorter (0.01: a new section every 70-140 m, a new track every
// 1.5 km), so a short run sees the texts change.
position_fix route_position(double abs, double scale = 1.0);

} // namespace coordsim
