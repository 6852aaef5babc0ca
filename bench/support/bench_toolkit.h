#pragma once
// What the benchmarks that run real camera screens share: the toolkit started without a main
// window and image work set up as in the recorder, an active event loop for the measurement,
// and the toolkit ended afterwards.

#include <functional>

namespace bench_support {

// Starts the toolkit (needs an X display), runs `measure` inside an active event loop, ends the
// toolkit and returns what `measure` returned; 2 without a display, having said so on stderr.
int run_under_toolkit(int argc, char** argv, const std::function<int()>& measure);

} // namespace bench_support
