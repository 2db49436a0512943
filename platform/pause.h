// Waiting: a monotonic time for deadlines and a sleep of the calling thread.
//
// Polling loops (a lock tried until a deadline) measure with `monotonicNow`,
// which never jumps when the wall clock is set, and wait with `pauseFor`.
#pragma once

#include <chrono>

namespace tavrel::platform {

// Time since an arbitrary fixed point; only differences mean anything.
std::chrono::microseconds monotonicNow();

// Suspends the calling thread for about `length` (at least, unless interrupted).
void pauseFor(std::chrono::microseconds length);

}  // namespace tavrel::platform
