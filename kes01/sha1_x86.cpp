// The SHA-1 compression with the x86 SHA extensions, and the processor check.
//
// The four-step groups follow the usual pattern of these instructions: each
// group adds the next message words into E (sha1nexte), runs four steps
// (sha1rnds4 with the group's function), and advances the message schedule
// (sha1msg1, xor, sha1msg2) four words at a time, several groups ahead.
#include "kes01/sha1_compress.h"

#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
#define KES01_X86 1
#include <immintrin.h>
#if defined(_MSC_VER)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace tavrel::kes01 {

#if KES01_X86

#if defined(_MSC_VER)
#define KES01_TARGET_SHA
#else
#define KES01_TARGET_SHA __attribute__((target("sha,sse4.1,ssse3")))
#endif

// Group g of the middle of the compression (0-based, four steps each): E is
// the group's E register, `next` the other one, which takes ABCD for the
// following group. m0 holds the group's message words; m1, m2, m3 are the
// following message registers in order.
#define KES01_SHA_GROUP(E, next, m0, m1, m2, m3, func) \
    E = _mm_sha1nexte_epu32(E, m0);                    \
    next = abcd;                                       \
    m1 = _mm_sha1msg2_epu32(m1, m0);                   \
    abcd = _mm_sha1rnds4_epu32(abcd, E, func);         \
    m3 = _mm_sha1msg1_epu32(m3, m0);                   \
    m2 = _mm_xor_si128(m2, m0)

KES01_TARGET_SHA
void compressShaExtensions(uint32_t state[5], const uint8_t* blocks, size_t blockCount) {
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(int(state[4]), 0, 0, 0);
    __m128i e1;

    for (; blockCount > 0; --blockCount, blocks += 64) {
        const __m128i abcdSaved = abcd;
        const __m128i eSaved = e0;
        const __m128i* in = reinterpret_cast<const __m128i*>(blocks);
        __m128i m0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byteSwap);
        __m128i m1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byteSwap);
        __m128i m2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byteSwap);
        __m128i m3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byteSwap);

        // Steps 0-15: the message words as loaded, the schedule starting up.
        e0 = _mm_add_epi32(e0, m0);
        e1 = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);

        e1 = _mm_sha1nexte_epu32(e1, m1);
        e0 = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e1, 0);
        m0 = _mm_sha1msg1_epu32(m0, m1);

        e0 = _mm_sha1nexte_epu32(e0, m2);
        e1 = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e0, 0);
        m1 = _mm_sha1msg1_epu32(m1, m2);
        m0 = _mm_xor_si128(m0, m2);

        KES01_SHA_GROUP(e1, e0, m3, m0, m1, m2, 0);  // steps 12-15

        // Steps 16-63: the full pattern, the registers taking turns.
        KES01_SHA_GROUP(e0, e1, m0, m1, m2, m3, 0);  // 16-19
        KES01_SHA_GROUP(e1, e0, m1, m2, m3, m0, 1);  // 20-23
        KES01_SHA_GROUP(e0, e1, m2, m3, m0, m1, 1);
        KES01_SHA_GROUP(e1, e0, m3, m0, m1, m2, 1);
        KES01_SHA_GROUP(e0, e1, m0, m1, m2, m3, 1);
        KES01_SHA_GROUP(e1, e0, m1, m2, m3, m0, 1);  // 36-39
        KES01_SHA_GROUP(e0, e1, m2, m3, m0, m1, 2);  // 40-43
        KES01_SHA_GROUP(e1, e0, m3, m0, m1, m2, 2);
        KES01_SHA_GROUP(e0, e1, m0, m1, m2, m3, 2);
        KES01_SHA_GROUP(e1, e0, m1, m2, m3, m0, 2);
        KES01_SHA_GROUP(e0, e1, m2, m3, m0, m1, 2);  // 56-59
        KES01_SHA_GROUP(e1, e0, m3, m0, m1, m2, 3);  // 60-63
        KES01_SHA_GROUP(e0, e1, m0, m1, m2, m3, 3);  // 64-67

        // Steps 68-79: the schedule winding down.
        e1 = _mm_sha1nexte_epu32(e1, m1);
        e0 = abcd;
        m2 = _mm_sha1msg2_epu32(m2, m1);
        abcd = _mm_sha1rnds4_epu32(abcd, e1, 3);
        m3 = _mm_xor_si128(m3, m1);

        e0 = _mm_sha1nexte_epu32(e0, m2);
        e1 = abcd;
        m3 = _mm_sha1msg2_epu32(m3, m2);
        abcd = _mm_sha1rnds4_epu32(abcd, e0, 3);

        e1 = _mm_sha1nexte_epu32(e1, m3);
        e0 = abcd;
        abcd = _mm_sha1rnds4_epu32(abcd, e1, 3);

        e0 = _mm_sha1nexte_epu32(e0, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }

    abcd = _mm_shuffle_epi32(abcd, 0x1B);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), abcd);
    state[4] = uint32_t(_mm_extract_epi32(e0, 3));
}

bool hasShaExtensions() {
    unsigned int regs1[4] = {};
    unsigned int regs7[4] = {};
#if defined(_MSC_VER)
    int r[4];
    __cpuid(r, 0);
    if (r[0] < 7) return false;
    __cpuidex(r, 1, 0);
    for (int i = 0; i < 4; ++i) regs1[i] = unsigned(r[i]);
    __cpuidex(r, 7, 0);
    for (int i = 0; i < 4; ++i) regs7[i] = unsigned(r[i]);
#else
    if (__get_cpuid_max(0, nullptr) < 7) return false;
    __cpuid_count(1, 0, regs1[0], regs1[1], regs1[2], regs1[3]);
    __cpuid_count(7, 0, regs7[0], regs7[1], regs7[2], regs7[3]);
#endif
    const bool ssse3 = (regs1[2] >> 9) & 1;
    const bool sse41 = (regs1[2] >> 19) & 1;
    const bool sha = (regs7[1] >> 29) & 1;
    return ssse3 && sse41 && sha;
}

#else  // not x86

void compressShaExtensions(uint32_t state[5], const uint8_t* blocks, size_t blockCount) {
    compressPortable(state, blocks, blockCount);
}

bool hasShaExtensions() { return false; }

#endif

}  // namespace tavrel::kes01
