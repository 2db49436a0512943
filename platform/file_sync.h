// Making written files durable.
//
// A run that writes many files (an installation stage, an extraction) does
// not flush each one; it makes the whole stage durable once, before its
// journal records the stage as done, so that a power cut loses at most a
// stage that the journal can still undo.
#pragma once

#include <filesystem>

namespace tavrel::platform {

// Flushes one file's data and metadata to the disk. 0 or the error number.
int syncFile(const std::filesystem::path& path);

// Flushes everything written to the file system that holds `path` (a file or
// folder on it), and the folder itself so that new names in it are durable.
// 0 or the error number.
int syncFileSystemOf(const std::filesystem::path& path);

}  // namespace tavrel::platform
