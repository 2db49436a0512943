// The allocator of length-prefixed strings, exported for callers on systems
// that have none of their own. A Windows build uses the platform's instead and
// leaves this file out.
#include "kesver1/byte_string.h"
#include "kesver1/kesver1.h"

extern "C" {

KESVER1_API Kesver1String SysAllocStringByteLen(const char* bytes, unsigned int length) {
    return tavrel::kesver1::allocByteString(bytes, length);
}

KESVER1_API unsigned int SysStringByteLen(Kesver1String string) {
    return tavrel::kesver1::byteStringLength(string);
}

KESVER1_API void SysFreeString(Kesver1String string) { tavrel::kesver1::freeByteString(string); }

}  // extern "C"
