// File helpers of the update session: the package download and the package
// installation make folders, copy, delete and build paths only through these.
//
// Where the system joins path parts with a backslash, these join with the
// platform's separator (platform::kPathSeparator); a backslash is accepted as
// a separator on input too, so a folder path read from a zip entry or a
// configuration value works either way. Existing names are found without
// regard to case (platform::findPath). Nothing throws.
#pragma once

#include <string>
#include <string_view>

namespace tavrel::session {

// What FixTrailingBackslash does. The numbers are the system's; never renumber.
enum class TrailingSeparator : int {
    kAdd = 1,     // add a separator when the path has none at its end
    kRemove = 2,  // remove trailing separators, but keep the root ("/", "C:\")
};

// Makes `folder` absolute (against the current folder) and, with `create`,
// creates it and every missing folder above it. Returns 1 when the folder
// exists at the end, 0 otherwise (also for an empty path). Errors on the way
// are not reported beyond that result.
int EnsureFolder(std::string_view folder, bool create);

// Copies `source` over `target` (with `overwrite`; without it an existing
// target stays as it is) and, with `deleteSource`, removes the source after a
// good copy (a move). Returns whether `target` exists afterwards, so a target
// that stood before and was not overwritten also answers true; a copy that was
// tried and failed answers false, whatever it left at the target.
bool CopyOrMoveFile(std::string_view source, std::string_view target, bool overwrite,
                    bool deleteSource);

// Deletes the file when it exists; with `force` a read-only file is made
// writable first. Returns whether the file still exists afterwards (false for
// a file that never existed).
bool DeleteFileIfExists(std::string_view path, bool force);

// Normalises the end of a folder path; see TrailingSeparator. kAdd gives an
// empty path no separator; kRemove leaves "/" and a bare drive ("C:") with
// their separator.
std::string FixTrailingBackslash(std::string_view path, TrailingSeparator mode);

// `base` joined with each non-empty part by exactly one separator (separators
// at the joints are not doubled); an empty base gives the parts alone.
std::string JoinPath(std::string_view base, std::string_view part1 = {},
                     std::string_view part2 = {}, std::string_view part3 = {});

// Copies the folder `source` with everything in it over `target`, creating
// what is missing and overwriting files. Returns 0, or the error number of the
// first copy that failed (the copy goes on with the other files).
int CopyFolderOver(std::string_view source, std::string_view target);

}  // namespace tavrel::session
