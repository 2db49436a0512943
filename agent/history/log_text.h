// Pieces shared by the agent's log writers: the line break of every log text
// and file, and the current-time text that log lines carry.
#pragma once

#include <string>
#include <string_view>

#include "platform/clock.h"

namespace tavrel::history {

// Lines of the log texts and files are separated by a carriage return and a
// line feed on every platform, so that saved logs read the same everywhere.
inline constexpr std::string_view kLineBreak = "\r\n";

// The current date and time as "ddd dd mmm yyyy - Hh:Nn:Ss", with English day
// and month names whatever the machine's locale ("Mon 07 Dec 2026 - 08:05:09").
std::string NowText(const platform::Clock& clock);

// `count` copies of `mark`: the separator lines of the logs.
std::string separatorLine(char mark, std::size_t count);

}  // namespace tavrel::history
