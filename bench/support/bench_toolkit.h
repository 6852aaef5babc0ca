#pragma once
// What the benchmarks that run real camera screens share: the toolkit started without a main
// window and image work set up as in the recorder, an active event loop for the measurement,
// and the toolkit ended afterwards.

#include <chrono>
#include <functional>

namespace bench_support {

// Starts the toolkit (needs an X display), runs `measure` inside an active event loop, ends the
// toolkit and returns what `measure` returned; 2 without a display, having said so on stderr.
int run_under_toolkit(int argc, char** argv, const std::function<int()>& measure);

// Runs the toolkit's own event loop for `length`, as the recorder's main loop runs: asleep
// until an event comes. (The tests' event pumping wakes every few milliseconds to check its
// conditions, which would bill the recorder for CPU it never spends.)
void run_event_loop_for(std::chrono::milliseconds length);

} // namespace bench_support
