// Modification times of files, in seconds since the epoch (UTC).
//
// The zip component keeps an extracted file's stored time and compares it with
// the time of a file already in place ("skip older files").
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

namespace tavrel::platform {

// The last-modification time of the file or folder at `path` (as given, no case
// lookup), or nullopt when it does not exist or cannot be read.
std::optional<int64_t> fileModifiedTime(const std::filesystem::path& path);

// Sets the file's access and modification times to `seconds`. 0 or errno.
int setFileModifiedTime(const std::filesystem::path& path, int64_t seconds);

}  // namespace tavrel::platform
