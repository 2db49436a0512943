// The FTP trace file: every command and reply of a session, one per line with
// a time stamp, appended to the file the owner names (FTPTRACE5.LOG).
#pragma once
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace tavrel::ftpclient {

// The line as it may be written down: a PASS command keeps its verb and loses
// its argument, so the password never reaches a file.
std::string maskedCommand(std::string_view command);

// One trace line: "YYYY-MM-DD HH:MM:SS <direction> <text>", direction ">" for
// commands, "<" for replies, "*" for the component's own notes.
std::string traceLine(const platform::DateTime& at, char direction, std::string_view text);

// Appends `line` and a line end to `file`; false when it cannot be written
// (the trace is a help, so a failure never stops the session).
bool appendTraceLine(const std::filesystem::path& file, std::string_view line);

}  // namespace tavrel::ftpclient
