// Key bytes as FoxPro stores them in compact indexes (MACHINE collation).
//
// | Key type  | Length        | Bytes                                                  |
// |-----------|---------------|--------------------------------------------------------|
// | Character | the expression| text padded with blanks (0x20) or cut to the length    |
// | Numeric   | 8             | IEEE double big-endian; sign bit flipped when >= 0,    |
// |           |               | all bits inverted when negative (-0 stored as +0)      |
// | Date      | 8             | Julian day number as a double, encoded like Numeric    |
// | Logical   | 1             | 'T' or 'F'                                             |
//
// Keys then sort as unsigned byte strings. Trailing pad bytes (blank for
// character keys, 0x00 otherwise) are what leaf pages compress.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "components/kes04/index/expression.h"

namespace tavrel::kes04::cdx {

// The byte that pads keys of this type in leaf pages.
inline uint8_t padByte(ValueType type) { return type == ValueType::Character ? 0x20 : 0x00; }

// Writes `keyLength` key bytes for `value` to `out`.
void encodeKey(const Value& value, uint32_t keyLength, uint8_t* out);
std::string encodeKey(const Value& value, uint32_t keyLength);

void encodeDouble(double value, uint8_t* out8);
double decodeDouble(const uint8_t* in8);

// The search bytes for a seek given as text: for character tags the text
// itself cut to the key length (a prefix of the keys it matches); for numeric
// tags the number "33.7" encoded; for date tags "CCYYMMDD" encoded; for
// logical tags T/Y or F/N. Numeric, date and logical seeks match whole keys.
std::string seekKeyFromText(std::string_view text, ValueType type, uint32_t keyLength);

// A key as readable text: character keys as they are, numbers and dates
// decoded ("12.5", "20240131"), logicals T/F.
std::string keyToText(std::string_view key, ValueType type);

}  // namespace tavrel::kes04::cdx
