#pragma once
// The line the simulated car runs along: stations at irregular distances with sections
// between them, maintenance distances ("ПЧ-n") every 60 km, a direction code and a main track
// that change every 150 km. Texts are UTF-8; the server converts them to its wire encoding.

#include "position/position_fix.h"

namespace coordsim {

// Where the car stands at absolute coordinate `abs` (metres): kilometre and metres follow the
// coordinate, the texts describe that place of the line.
position_fix route_position(double abs);

} // namespace coordsim
