// The agent's command-line switches, separated by "/":
//   N       now: a window from the current time to 30 minutes later
//   Sh      start at h:00 (ignored below 1); S+h start h hours from now
//           (15 minutes when h is 0 or missing; ignored when negative)
//   Fh      finish at h:00 (ignored below 1); F+h finish h hours from now
//           (30 minutes when h is 0 or missing; ignored when negative)
//   U       unload after the run
// Lower case works too; other switches are ignored.
#pragma once

#include <string>
#include <string_view>

#include "agent/shell/run_state.h"
#include "platform/clock.h"

namespace tavrel::agent {

// Parses `commandLine` into the run mode of `state`: schedule mode, now mode,
// unload after run, schedule start and finish, and the restart switches.
void ParseSwitches(std::string_view commandLine, const platform::DateTime& now, RunState& state);

// The numeric value of a switch argument as the system reads it: blanks are
// ignored, a leading number is taken, anything unreadable gives 0; the result
// is rounded to a whole number (halves to even).
long long SwitchValue(std::string_view text);

}  // namespace tavrel::agent
