// Length-prefixed byte strings, the string layout of the library's exports.
//
// A string is a pointer to its first character; the 32-bit byte count sits in
// the four bytes before it, and two zero bytes follow the characters. A null
// pointer is the empty string. On POSIX the library allocates these itself
// (byte_string_posix.cpp, and exports the allocator for callers); a Windows
// build uses the platform's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrel::kesver1 {

// A new string holding `length` bytes copied from `bytes` (zeros when `bytes`
// is null). The caller owns it and releases it with `freeByteString`. Returns
// null when memory runs out or `length` is too large.
char* allocByteString(const char* bytes, uint32_t length);
// The byte count of `string`; 0 for null.
uint32_t byteStringLength(const char* string);
// Releases a string made by `allocByteString`; null is allowed.
void freeByteString(char* string);

// The characters of `string` up to its first zero byte, as the platform's
// single-byte text functions see them.
std::string_view zeroTerminatedView(const char* string);

}  // namespace tavrel::kesver1
