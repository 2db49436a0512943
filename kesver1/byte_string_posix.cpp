// Length-prefixed strings on systems without a platform allocator for them.
// A Windows build replaces this file with one that calls the platform's
// SysAllocStringByteLen, SysStringByteLen and SysFreeString.
#include <cstdlib>
#include <cstring>

#include "kesver1/byte_string.h"
#include "platform/byte_order.h"

namespace tavrel::kesver1 {

namespace {

constexpr size_t kPrefix = 4;
constexpr size_t kTerminator = 2;
// Keeps prefix + text + terminator inside a 32-bit size, as on the platform.
constexpr uint32_t kMaxLength = 0xFFFFFFFFu - kPrefix - kTerminator - 8;

}  // namespace

char* allocByteString(const char* bytes, uint32_t length) {
    if (length > kMaxLength) return nullptr;
    auto* block = static_cast<uint8_t*>(std::malloc(kPrefix + size_t{length} + kTerminator));
    if (!block) return nullptr;
    platform::storeLE32(block, length);
    char* text = reinterpret_cast<char*>(block + kPrefix);
    if (bytes) {
        std::memcpy(text, bytes, length);
    } else {
        std::memset(text, 0, length);
    }
    std::memset(text + length, 0, kTerminator);
    return text;
}

uint32_t byteStringLength(const char* string) {
    if (!string) return 0;
    return platform::loadLE32(reinterpret_cast<const uint8_t*>(string) - kPrefix);
}

void freeByteString(char* string) {
    if (string) std::free(string - kPrefix);
}

}  // namespace tavrel::kesver1
