// Profile (INI) files with the behaviour of the Windows private-profile functions.
//
// Section and key names are matched without regard to case; the first section
// and the first key of a name win. Values are returned with surrounding blanks
// and one pair of surrounding quotes removed. A write changes only the one key
// line it is about: every other line, comment, blank line and the order of keys
// stay as they were, and the file is replaced atomically (never half-written).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavrel::platform {

// The value of `key` in `section`, or nullopt when the file, section or key is missing.
std::optional<std::string> readProfileValue(const std::filesystem::path& file,
                                            std::string_view section, std::string_view key);

// The value, or `defaultValue` when the key is missing.
std::string readProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue);

// The leading decimal number of the value (an optional sign, then digits;
// 0 when there are none), or `defaultValue` when the key is missing or its
// value is empty. Values
// beyond the range of long long saturate.
long long readProfileInteger(const std::filesystem::path& file, std::string_view section,
                             std::string_view key, long long defaultValue);

// Sets `key` in `section` to `value`; an empty value removes the key. The first
// write creates the file and the section. Returns 0 or the error number.
int writeProfileString(const std::filesystem::path& file, std::string_view section,
                       std::string_view key, std::string_view value);

// The same edits on profile text in memory; used by the file functions and by tests.
std::optional<std::string> findProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);
std::string editProfileText(std::string_view text, std::string_view section, std::string_view key,
                            std::string_view value);

}  // namespace tavrel::platform
