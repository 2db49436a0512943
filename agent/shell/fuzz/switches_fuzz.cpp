// Feeds arbitrary command lines to the switch parser: no crash, and the run
// mode it reaches is consistent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "agent/shell/switches.h"

using namespace tavrel::agent;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    RunState state;
    ParseSwitches(line, tavrel::platform::DateTime{2026, 12, 7, 23, 59, 0}, state);
    if (state.scheduleMode != !state.restartSwitches.empty()) std::abort();
    if (state.scheduleMode && state.restartSwitches.front() != ' ') std::abort();
    return 0;
}
