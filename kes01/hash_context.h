// The hashing context behind a KES01 handle and the SHA-1 message operations
// on it (FIPS 180-1): start, feed, finalize, digest text.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kes01/sha1_compress.h"

namespace tavrel::kes01 {

// Marks a live context; a wiped context reads 0 here.
inline constexpr uint16_t kLiveMarker = 0xFEEB;

// The context's states.
enum class ContextState : uint8_t {
    kAccepting = 1,  // after create or initialize: takes data
    kFinalized = 2,  // digest available
};

// One message being hashed. The number of bytes waiting in `block` is not
// stored: it is the bit count divided by 8, modulo 64.
struct SHAHashContext {
    uint16_t marker;
    ContextState state;
    uint32_t digest[5];     // chaining values H0..H4; the digest once finalized
    uint8_t block[64];      // bytes of the current, incomplete block
    uint32_t bitCountLow;   // message bits hashed so far, low half
    uint32_t bitCountHigh;  // high half
};

// Puts the context in the accepting state with the initial chaining values and
// no bytes hashed.
void startMessage(SHAHashContext& context);

// Feeds `length` bytes at `data`, whole blocks straight from `data` through
// `compress`. The context must be accepting.
void feedMessage(SHAHashContext& context, const uint8_t* data, size_t length, Compressor compress);

// Appends the padding and the 64-bit bit count, compresses the last block(s)
// and sets the state to finalized. The context must be accepting.
void finishMessage(SHAHashContext& context, Compressor compress);

// Writes the digest text "%08x-%08x-%08x-%08x-%08x" of H0..H4 and its
// terminating zero: 45 bytes at `out`.
void formatDigestText(const uint32_t digest[5], char* out);
// The same a word at a time in plain integer code: what formatDigestText
// does where the processor has no SSE2 registers.
void formatDigestTextPortable(const uint32_t digest[5], char* out);

// Overwrites the whole context with zero bytes in a way the compiler keeps.
void wipeContext(SHAHashContext& context);

}  // namespace tavrel::kes01
