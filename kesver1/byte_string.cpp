#include "kesver1/byte_string.h"

#include <cstring>

namespace tavrel::kesver1 {

std::string_view zeroTerminatedView(const char* string) {
    if (!string) return {};
    const uint32_t length = byteStringLength(string);
    const void* zero = std::memchr(string, 0, length);
    return std::string_view(string, zero ? static_cast<const char*>(zero) - string : length);
}

}  // namespace tavrel::kesver1
