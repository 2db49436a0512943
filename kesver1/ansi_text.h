// Conversion of the version resource's UTF-16 texts to single-byte text.
//
// The library hands out texts as single-byte ("ANSI") strings. They are
// encoded in Windows code page 1252, the code page of the Western systems the
// callers run on: ASCII and Latin-1 map to themselves, the typographic
// characters of 0x80..0x9F (euro sign, quotes, dashes, trade mark) to their
// 1252 bytes, and every other character to "?".
#pragma once

#include <string>
#include <string_view>

#include "platform/byte_order.h"

namespace tavrel::kesver1 {

// The UTF-16LE text in `bytes` up to its first zero character (or the end; an
// odd last byte is ignored), converted to code page 1252. A surrogate pair
// gives one "?".
std::string utf16ToAnsi(platform::ByteView bytes);

// The reverse: code page 1252 text as UTF-16.
std::u16string ansiToUtf16(std::string_view text);

}  // namespace tavrel::kesver1
