// Stored entry paths of zip archives and file-name masks.
//
// Archives made on Windows write "\" between folders, others "/"; both mean a
// folder here. A stored path is untrusted input: `isUnsafeEntryPath` names the
// paths that could land outside the target folder, and no entry with such a
// path is ever written or tested.
#pragma once

#include <string>
#include <string_view>

namespace tavrel::zip {

// An entry's stored path split into its folder (parts joined by the
// platform's separator, no leading or trailing separator) and its file name
// (empty for a folder entry, whose stored path ends in a separator).
struct EntryPath {
    std::string folder;
    std::string name;
};

EntryPath splitEntryPath(std::string_view stored);

// True when the stored path is absolute ("/x", "\x", "\\server\share"),
// carries a drive or any other ":" prefix ("C:x"), contains a ".." part, or
// holds no part at all.
bool isUnsafeEntryPath(std::string_view stored);

// The stored path with both separators written as "/" and empty and "." parts
// left out ("a\\.\b" gives "a/b"); compares entries with names given by callers.
std::string normalEntryPath(std::string_view stored);

// Matches a file name against a mask with "*" (any run) and "?" (one
// character), ignoring ASCII case; "*.*" also matches names without a dot.
bool matchesMask(std::string_view name, std::string_view mask);

}  // namespace tavrel::zip
