#include "kes01/hash_context.h"

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tavrel::kes01 {

namespace {

constexpr uint32_t kInitialDigest[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};

size_t bytesWaiting(const SHAHashContext& context) { return (context.bitCountLow >> 3) & 63; }

void addToBitCount(SHAHashContext& context, size_t length) {
    const uint64_t count = (uint64_t(context.bitCountHigh) << 32) | context.bitCountLow;
    const uint64_t added = count + (uint64_t(length) << 3);
    context.bitCountLow = uint32_t(added);
    context.bitCountHigh = uint32_t(added >> 32);
}

void storeBigEndian(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

}  // namespace

void startMessage(SHAHashContext& context) {
    context.marker = kLiveMarker;
    context.state = ContextState::kAccepting;
    std::memcpy(context.digest, kInitialDigest, sizeof kInitialDigest);
    std::memset(context.block, 0, sizeof context.block);
    context.bitCountLow = 0;
    context.bitCountHigh = 0;
}

void feedMessage(SHAHashContext& context, const uint8_t* data, size_t length, Compressor compress) {
    if (length == 0) return;
    size_t waiting = bytesWaiting(context);
    addToBitCount(context, length);

    if (waiting > 0) {
        const size_t room = 64 - waiting;
        if (length < room) {
            std::memcpy(context.block + waiting, data, length);
            return;
        }
        std::memcpy(context.block + waiting, data, room);
        compress(context.digest, context.block, 1);
        data += room;
        length -= room;
    }
    const size_t wholeBlocks = length / 64;
    if (wholeBlocks > 0) {
        compress(context.digest, data, wholeBlocks);
        data += wholeBlocks * 64;
        length -= wholeBlocks * 64;
    }
    if (length > 0) std::memcpy(context.block, data, length);
}

void finishMessage(SHAHashContext& context, Compressor compress) {
    const size_t waiting = bytesWaiting(context);
    context.block[waiting] = 0x80;
    if (waiting >= 56) {
        std::memset(context.block + waiting + 1, 0, 63 - waiting);
        compress(context.digest, context.block, 1);
        std::memset(context.block, 0, 56);
    } else {
        std::memset(context.block + waiting + 1, 0, 55 - waiting);
    }
    storeBigEndian(context.block + 56, context.bitCountHigh);
    storeBigEndian(context.block + 60, context.bitCountLow);
    compress(context.digest, context.block, 1);
    context.state = ContextState::kFinalized;
}

namespace {

// The eight lower-case hex digits of `word`, one a byte, the first digit in
// the top byte.
uint64_t hexDigitsOf(uint32_t word) {
    // Spread the nibbles over the bytes, the top nibble in the top byte ...
    uint64_t x = uint64_t(word);
    x = ((x & 0xFFFF0000u) << 16) | (x & 0x0000FFFFu);
    x = ((x & 0x0000FF000000FF00u) << 8) | (x & 0x000000FF000000FFu);
    x = ((x & 0x00F000F000F000F0u) << 4) | (x & 0x000F000F000F000Fu);
    // ... make each a digit: '0' + n, and 'a' - 10 + n from ten on ...
    const uint64_t tens = ((x + 0x0606060606060606u) >> 4) & 0x0101010101010101u;
    x += 0x3030303030303030u + tens * ('a' - '0' - 10);
    return x;
}

// The digits of `word`, the top one first, at `out` (eight bytes).
void storeHexDigits(uint32_t word, char* out) {
    const uint64_t digits = hexDigitsOf(word);
    // Spelled out, compilers make this one byte swap and one store.
    for (int i = 0; i < 8; ++i) out[i] = char(digits >> (56 - 8 * i));
}

#if defined(__SSE2__)
// '0'..'9' and 'a'..'f' for sixteen values 0..15.
__m128i hexCharacters(__m128i values) {
    const __m128i letters =
        _mm_and_si128(_mm_cmpgt_epi8(values, _mm_set1_epi8(9)), _mm_set1_epi8('a' - '0' - 10));
    return _mm_add_epi8(_mm_add_epi8(values, _mm_set1_epi8('0')), letters);
}

// The digits of the 32-bit words in `words`, top digit first: those of the
// first two words in `*low`, of the last two in `*high`.
void hexDigitsOfWords(__m128i words, __m128i* low, __m128i* high) {
    // The bytes of each word turned top byte first (swapped within each half
    // word, then the half words), then each byte's high nibble and low one.
    __m128i bytes = _mm_or_si128(_mm_slli_epi16(words, 8), _mm_srli_epi16(words, 8));
    bytes = _mm_shufflehi_epi16(_mm_shufflelo_epi16(bytes, 0xB1), 0xB1);
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i top = _mm_and_si128(_mm_srli_epi16(bytes, 4), nibble);
    const __m128i bottom = _mm_and_si128(bytes, nibble);
    *low = hexCharacters(_mm_unpacklo_epi8(top, bottom));
    *high = hexCharacters(_mm_unpackhi_epi8(top, bottom));
}

void storeEight(char* out, __m128i digits) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), digits);
}
#endif

}  // namespace

void formatDigestText(const uint32_t digest[5], char* out) {
    // Made for every record a table run hashes: as few instructions as can
    // be, since they wait for the hashing's last result.
#if defined(__SSE2__)
    __m128i h0h1, h2h3, h4, unused;
    hexDigitsOfWords(_mm_loadu_si128(reinterpret_cast<const __m128i*>(digest)), &h0h1, &h2h3);
    hexDigitsOfWords(_mm_cvtsi32_si128(int(digest[4])), &h4, &unused);
    storeEight(out, h0h1);
    storeEight(out + 9, _mm_unpackhi_epi64(h0h1, h0h1));
    storeEight(out + 18, h2h3);
    storeEight(out + 27, _mm_unpackhi_epi64(h2h3, h2h3));
    storeEight(out + 36, h4);
    out[8] = out[17] = out[26] = out[35] = '-';
    out[44] = '\0';
#else
    formatDigestTextPortable(digest, out);
#endif
}

void formatDigestTextPortable(const uint32_t digest[5], char* out) {
    for (int word = 0; word < 5; ++word) storeHexDigits(digest[word], out + 9 * word);
    out[8] = out[17] = out[26] = out[35] = '-';
    out[44] = '\0';
}

void wipeContext(SHAHashContext& context) {
    volatile uint8_t* bytes = reinterpret_cast<volatile uint8_t*>(&context);
    for (size_t i = 0; i < sizeof context; ++i) bytes[i] = 0;
}

}  // namespace tavrel::kes01
