// Points where a test may end the process at once, as a power cut would.
//
// Every file or table operation that changes the application folder during a
// package installation passes a crash point first. When the environment
// variable TAVREL_CRASH_AT holds a number N above 0, the Nth crash point
// reached in this process ends it at once with exit code kCrashExitCode: no
// destructors, no buffered output, no clean-up. Without the variable a crash
// point costs one comparison.
#pragma once

#include <cstdint>
#include <string_view>

namespace tavrel::platform {

inline constexpr int kCrashExitCode = 86;

// `what` names the operation about to run; it is written to standard error as
// the process ends, so a test can tell where it stopped.
void crashPoint(std::string_view what);

// Crash points passed so far in this process.
std::int64_t crashPointsPassed();

}  // namespace tavrel::platform
