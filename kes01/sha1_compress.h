// The SHA-1 compression function and the choice of its implementation.
//
// A compressor runs the 80-step compression over `blockCount` consecutive
// 64-byte blocks at `blocks` (big-endian message words, read only) and adds
// the result into the chaining values `state` (H0..H4). Every implementation
// gives the same result for the same input; the portable one is the reference.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrel::kes01 {

using Compressor = void (*)(uint32_t state[5], const uint8_t* blocks, size_t blockCount);

// The unrolled compression in plain C++; runs on every processor.
void compressPortable(uint32_t state[5], const uint8_t* blocks, size_t blockCount);

// The compression with the x86 SHA extensions. Call only when
// `hasShaExtensions()` is true.
void compressShaExtensions(uint32_t state[5], const uint8_t* blocks, size_t blockCount);

// True when this processor has the x86 SHA extensions (and SSE4.1 and SSSE3,
// which the same code uses). False on every other processor.
bool hasShaExtensions();

// Which implementation `selectedCompressor` runs.
enum class CompressorKind : int {
    kPortable = 0,       // the unrolled C++ code
    kShaExtensions = 1,  // x86 SHA extensions
};

// The fastest implementation this processor runs, chosen once, on first use,
// for the whole process. Setting the environment variable KES01_PORTABLE to 1
// before that forces the portable code (for measurements and tests).
CompressorKind selectedCompressorKind();
Compressor selectedCompressor();

// The implementation of a kind (the portable one when the processor lacks the
// other).
Compressor compressorOf(CompressorKind kind);

// A readable name of the kind: "portable" or "sha-extensions".
const char* compressorName(CompressorKind kind);

}  // namespace tavrel::kes01
