// Table bytes in JSON text: each byte passes as the code point of the same
// number (as Latin-1 does), so any byte survives a dump and an append.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavrel::xbtool {

// The bytes as UTF-8 text of their Latin-1 code points.
std::string bytesToUtf8(std::string_view bytes);

// UTF-8 text back to bytes; nullopt when the text is not valid UTF-8 or holds
// a code point above U+00FF.
std::optional<std::string> utf8ToBytes(std::string_view text);

// JSON text (as nlohmann::json dumps it with ensure_ascii) with every character
// outside printable ASCII as a \u00XX escape: also the short escapes \b \f
// \n \r \t and DEL. The result is pure printable ASCII, so no reader's idea of
// a line break (0x85, U+2028 ...) can cut a record in two.
std::string printableJson(std::string_view dumped);

}  // namespace tavrel::xbtool
