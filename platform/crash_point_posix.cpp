#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/crash_point.h"

namespace tavrel::platform {
namespace {

std::int64_t g_passed = 0;

std::int64_t crashTarget() {
    static const std::int64_t target = [] {
        const char* text = std::getenv("TAVREL_CRASH_AT");
        if (text == nullptr) return std::int64_t{0};
        char* end = nullptr;
        const long long value = std::strtoll(text, &end, 10);
        return (end != text && *end == '\0' && value > 0) ? std::int64_t{value} : std::int64_t{0};
    }();
    return target;
}

}  // namespace

void crashPoint(std::string_view what) {
    ++g_passed;
    const std::int64_t target = crashTarget();
    if (target == 0 || g_passed != target) return;
    const std::string line =
        "crash point " + std::to_string(g_passed) + ": " + std::string(what) + "\n";
    [[maybe_unused]] const ssize_t written = ::write(2, line.data(), line.size());
    ::_exit(kCrashExitCode);
}

std::int64_t crashPointsPassed() { return g_passed; }

}  // namespace tavrel::platform
