// The portable SHA-1 compression: all 80 steps written out, no loop and no
// 80-word schedule. The message schedule is computed in place in a 16-word
// window, W[t] living in w[t mod 16].
#include "kes01/sha1_compress.h"

namespace tavrel::kes01 {

namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t loadBigEndian(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

constexpr uint32_t kK0 = 0x5A827999;
constexpr uint32_t kK1 = 0x6ED9EBA1;
constexpr uint32_t kK2 = 0x8F1BBCDC;
constexpr uint32_t kK3 = 0xCA62C1D6;

}  // namespace

// W[t] for t >= 16, computed into the slot of W[t-16], which is no longer needed.
#define KES01_SCHEDULE(t) \
    (w[(t)&15] = rotl(w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t)&15], 1))

// One step. The names rotate from step to step instead of the values: the
// step's new `a` is written into `e`, and `b` is rotated in place. The
// message word and constant go into `e` first, off the critical path through `a`.
#define KES01_STEP(a, b, c, d, e, f, k, word) \
    do {                                      \
        e += (word) + (k);                    \
        e += (f);                             \
        e += rotl(a, 5);                      \
        b = rotl(b, 30);                      \
    } while (0)

#define KES01_CHOICE(b, c, d) ((((c) ^ (d)) & (b)) ^ (d))
#define KES01_PARITY(b, c, d) ((b) ^ (c) ^ (d))
// Majority as the sum of two disjoint parts, so the two halves add independently.
#define KES01_MAJORITY(b, c, d) (((b) & (c)) + ((d) & ((b) ^ (c))))

#define KES01_R0(a, b, c, d, e, t) KES01_STEP(a, b, c, d, e, KES01_CHOICE(b, c, d), kK0, w[t])
#define KES01_R1(a, b, c, d, e, t) \
    KES01_STEP(a, b, c, d, e, KES01_CHOICE(b, c, d), kK0, KES01_SCHEDULE(t))
#define KES01_R2(a, b, c, d, e, t) \
    KES01_STEP(a, b, c, d, e, KES01_PARITY(b, c, d), kK1, KES01_SCHEDULE(t))
#define KES01_R3(a, b, c, d, e, t) \
    KES01_STEP(a, b, c, d, e, KES01_MAJORITY(b, c, d), kK2, KES01_SCHEDULE(t))
#define KES01_R4(a, b, c, d, e, t) \
    KES01_STEP(a, b, c, d, e, KES01_PARITY(b, c, d), kK3, KES01_SCHEDULE(t))

// Five consecutive steps starting at step t, after which the names are back
// in their original places.
#define KES01_FIVE(R, t)       \
    R(a, b, c, d, e, (t) + 0); \
    R(e, a, b, c, d, (t) + 1); \
    R(d, e, a, b, c, (t) + 2); \
    R(c, d, e, a, b, (t) + 3); \
    R(b, c, d, e, a, (t) + 4)

void compressPortable(uint32_t state[5], const uint8_t* blocks, size_t blockCount) {
    uint32_t h0 = state[0], h1 = state[1], h2 = state[2], h3 = state[3], h4 = state[4];
    for (; blockCount > 0; --blockCount, blocks += 64) {
        uint32_t w[16];
        for (int i = 0; i < 16; ++i) w[i] = loadBigEndian(blocks + 4 * i);

        uint32_t a = h0, b = h1, c = h2, d = h3, e = h4;
        KES01_FIVE(KES01_R0, 0);
        KES01_FIVE(KES01_R0, 5);
        KES01_FIVE(KES01_R0, 10);
        KES01_R0(a, b, c, d, e, 15);
        KES01_R1(e, a, b, c, d, 16);
        KES01_R1(d, e, a, b, c, 17);
        KES01_R1(c, d, e, a, b, 18);
        KES01_R1(b, c, d, e, a, 19);
        KES01_FIVE(KES01_R2, 20);
        KES01_FIVE(KES01_R2, 25);
        KES01_FIVE(KES01_R2, 30);
        KES01_FIVE(KES01_R2, 35);
        KES01_FIVE(KES01_R3, 40);
        KES01_FIVE(KES01_R3, 45);
        KES01_FIVE(KES01_R3, 50);
        KES01_FIVE(KES01_R3, 55);
        KES01_FIVE(KES01_R4, 60);
        KES01_FIVE(KES01_R4, 65);
        KES01_FIVE(KES01_R4, 70);
        KES01_FIVE(KES01_R4, 75);

        h0 += a;
        h1 += b;
        h2 += c;
        h3 += d;
        h4 += e;
    }
    state[0] = h0;
    state[1] = h1;
    state[2] = h2;
    state[3] = h3;
    state[4] = h4;
}

}  // namespace tavrel::kes01
