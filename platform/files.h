// Files and folders.
//
// Names that the system specifies ("TAVRELUPD.VER", "LOG.TXT") are matched
// without regard to case: on a case-sensitive file system an existing entry
// whose name differs only in case counts as the same file. Every existence test
// and open of a specified name goes through `findPath`/`resolvePath`.
//
// Functions that change the file system return 0 on success or the platform's
// error number (errno here) on failure; none of them throws. Copies, moves,
// deletes, folder creation and writeFileAtomic ask the test hook of
// file_faults.h first.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::platform {

namespace fs = std::filesystem;

// The separator that joins path parts on this platform.
inline constexpr char kPathSeparator = '/';

// The existing entry that `path` names, matching each component exactly first
// and otherwise without regard to case; nullopt when there is none.
std::optional<fs::path> findPath(const fs::path& path);

// The path to open or create for `path`: the existing entry found by `findPath`,
// or else `path` with its folder part resolved the same way and its last
// component as given.
fs::path resolvePath(const fs::path& path);

// True when `path` names an existing regular file (any case).
bool fileExists(const fs::path& path);
// True when `path` names an existing folder (any case).
bool folderExists(const fs::path& path);
// Size of the file in bytes, or nullopt when it does not exist.
std::optional<uint64_t> fileSize(const fs::path& path);

// Makes the folder and any missing parents. 0 when it exists afterwards.
int ensureFolder(const fs::path& path);
// Copies a file. With `overwrite` false an existing target is an error (EEXIST).
int copyFile(const fs::path& from, const fs::path& to, bool overwrite);
// Renames or, across file systems, copies and deletes.
int moveFile(const fs::path& from, const fs::path& to);
// Deletes a file (ENOENT when it does not exist).
int deleteFile(const fs::path& path);
// Deletes a folder and everything in it.
int deleteFolderTree(const fs::path& path);
// Gives the file "normal" attributes: readable and writable by its owner.
int makeWritable(const fs::path& path);
// Takes away write permission (the read-only attribute).
int makeReadOnly(const fs::path& path);
// True when the file's owner may write it.
bool isWritable(const fs::path& path);

// The names (not paths) of the regular files directly inside `folder`, sorted.
std::vector<std::string> listFiles(const fs::path& folder);
// The names of the folders directly inside `folder`, sorted.
std::vector<std::string> listFolders(const fs::path& folder);

// The whole content of a file, or nullopt with `*error` set when it cannot be read.
std::optional<std::string> readFile(const fs::path& path, int* error = nullptr);
// Replaces the file's content so that a crash never leaves a half-written file:
// writes a new file beside it, flushes it, then renames it over the old one.
// A symbolic link stays a link: the file at the end of its chain (at most 40
// links, else ELOOP) is the one replaced. A file without write permission is
// refused with EACCES and left as it was.
int writeFileAtomic(const fs::path& path, std::string_view content);
// Writes `bytes` at the start of the file without shortening it, creating the
// file when it is missing.
int overwriteFileStart(const fs::path& path, std::string_view bytes);

// Joins a folder and a name with the platform's separator (one separator only).
std::string joinPath(std::string_view folder, std::string_view name);
// The folder with a trailing separator added when it has none (empty stays empty).
std::string withTrailingSeparator(std::string_view folder);

// The text of an error number, for log lines.
std::string errorText(int error);

}  // namespace tavrel::platform
