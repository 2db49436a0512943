#include <cerrno>
#include <ctime>

#include "platform/pause.h"

namespace tavrel::platform {

std::chrono::microseconds monotonicNow() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::duration_cast<std::chrono::microseconds>(
                                                 std::chrono::nanoseconds(ts.tv_nsec));
}

void pauseFor(std::chrono::microseconds length) {
    if (length.count() <= 0) return;
    timespec left{};
    left.tv_sec = time_t(length.count() / 1000000);
    left.tv_nsec = long(length.count() % 1000000) * 1000;
    // A signal cuts the sleep short; sleep the rest.
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace tavrel::platform
