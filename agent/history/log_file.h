// How the log writers put a file on disk (internal to this folder).
//
// A log file is always replaced as a whole: the new content goes to a new file
// beside it that is then renamed over the old one, so a crash or a full disk
// leaves either the old file or the new one, never a mixture. A file marked
// read-only is never replaced, and a missing folder is never made here: the
// session makes the folders before the writers run.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace tavrel::history {

// The log file `name` in `folder`, with an existing file whose name differs
// only in case taken as that file; nullopt when `folder` is empty (an unset
// folder must not turn into the root or the current folder).
std::optional<std::filesystem::path> logFilePath(std::string_view folder, std::string_view name);

// Replaces the file's whole content. Returns 0, EACCES when the file is
// read-only, or the error number of the failed step; the old file is then
// untouched.
int replaceLogFile(const std::filesystem::path& path, std::string_view content);

}  // namespace tavrel::history
