#include "kesver1/ansi_text.h"

#include <array>
#include <cstdint>

namespace tavrel::kesver1 {

namespace {

// The characters of code page 1252 at bytes 0x80..0x9F; 0 where the code page
// leaves the byte unassigned (those bytes map to the control characters
// U+0081, U+008D, U+008F, U+0090, U+009D, as the platform's conversion does).
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char toCodePage1252(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<char>(c);
    for (size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == c) return static_cast<char>(0x80 + i);
    }
    return '?';
}

bool isHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string utf16ToAnsi(platform::ByteView bytes) {
    std::string text;
    for (size_t at = 0; bytes.has(at, 2); at += 2) {
        const auto c = static_cast<char16_t>(*bytes.le16(at));
        if (c == 0) break;
        if (isHighSurrogate(c) && bytes.has(at + 2, 2) &&
            isLowSurrogate(static_cast<char16_t>(*bytes.le16(at + 2)))) {
            at += 2;
            text.push_back('?');
            continue;
        }
        text.push_back(toCodePage1252(c));
    }
    return text;
}

std::u16string ansiToUtf16(std::string_view text) {
    std::u16string result;
    result.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        result.push_back(byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80]
                                                     : static_cast<char16_t>(byte));
    }
    return result;
}

}  // namespace tavrel::kesver1
