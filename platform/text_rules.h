#pragma once
// The text rules every part of the system shares: upper and lower case, trimming
// and comparing names. They are ASCII-only and do not depend on the locale, so a
// name compares the same way in a profile file, a table, an index key and a log
// line, whatever the machine's language settings. Bytes 0x80-0xFF pass unchanged.

#include <string>
#include <string_view>

namespace tavrel::platform {

// 'a'..'z' become 'A'..'Z'; every other byte is returned as it is.
constexpr char upperAscii(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

// 'A'..'Z' become 'a'..'z'; every other byte is returned as it is.
constexpr char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// True for the blanks that trimming removes: space, tab, CR, LF, vertical tab, form feed.
constexpr bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

constexpr bool isDigitAscii(char c) { return c >= '0' && c <= '9'; }
constexpr bool isAlphaAscii(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A copy of text with ASCII letters upper-cased (lower-cased).
std::string upperText(std::string_view text);
std::string lowerText(std::string_view text);

// Upper-cases (lower-cases) text in place.
void upperInPlace(std::string& text);
void lowerInPlace(std::string& text);

// The view without leading and/or trailing blanks (isBlank). The result points into text.
std::string_view trimText(std::string_view text);
std::string_view trimLeftText(std::string_view text);
std::string_view trimRightText(std::string_view text);

// The view without the given characters at its start and/or end, for the places
// whose files trim a narrower set than isBlank (only spaces, or spaces and tabs).
std::string_view trimCharsText(std::string_view text, std::string_view chars);
std::string_view trimCharsLeftText(std::string_view text, std::string_view chars);
std::string_view trimCharsRightText(std::string_view text, std::string_view chars);

// The view without trailing spaces and NUL bytes, as fixed-width fields and
// index names are padded.
std::string_view trimPadding(std::string_view text);

// True when a and b are the same text with ASCII letters compared without regard to case.
bool sameTextIgnoringCase(std::string_view a, std::string_view b);

// True when text starts (ends) with prefix (suffix), ASCII letters compared without case.
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);
bool endsWithIgnoringCase(std::string_view text, std::string_view suffix);

}  // namespace tavrel::platform
