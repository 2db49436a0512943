#include "platform/pause.h"

#include <gtest/gtest.h>

namespace tavrel::platform {
namespace {

TEST(Pause, SleepsAtLeastTheLengthAndMonotonicTimeMovesOn) {
    const auto before = monotonicNow();
    pauseFor(std::chrono::milliseconds(20));
    const auto slept = monotonicNow() - before;
    EXPECT_GE(slept, std::chrono::milliseconds(20));
    pauseFor(std::chrono::microseconds(0));  // nothing to wait for
    pauseFor(std::chrono::microseconds(-5));
    EXPECT_GE(monotonicNow(), before + slept);
}

}  // namespace
}  // namespace tavrel::platform
