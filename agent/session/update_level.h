// Update levels: the ten-character texts that name how far the application or
// the agent is up to date ("TAVREL0123" for application levels and packages,
// "UPDATE0011" for agent versions).
//
// Newer always means greater in an ordinal comparison of the character codes,
// case-sensitive, over the whole texts. For levels of one prefix that is the
// order of their numbers.
#pragma once

#include <compare>
#include <cstddef>
#include <string_view>

namespace tavrel::session {

// Characters in a level: a six-letter prefix and four digits.
inline constexpr std::size_t kLevelLength = 10;
// Characters of the prefix; the number part follows it.
inline constexpr std::size_t kLevelPrefixLength = 6;

// Ordinal comparison of two level texts by unsigned character codes; a text that
// is a proper prefix of the other orders first.
std::strong_ordering compareLevels(std::string_view left, std::string_view right);

// True when `candidate` names a newer level than `current`.
bool isNewerLevel(std::string_view candidate, std::string_view current);

// The number part of a level: its characters 7 to 10. Shorter texts give what
// stands there (possibly nothing). The view points into `level`.
std::string_view levelNumber(std::string_view level);

}  // namespace tavrel::session
