#include "components/kes04/index/cdx_page.h"

#include <algorithm>
#include <cstring>

namespace tavrel::kes04::cdx {

using platform::ByteView;

uint32_t bitsFor(uint64_t value) {
    uint32_t n = 0;
    while (value) {
        ++n;
        value >>= 1;
    }
    return n;
}

namespace {

struct LeafWidths {
    uint32_t rn, dc, tc, e;
};

LeafWidths leafWidths(const Node& node, uint32_t keyLength) {
    uint32_t maxRecord = 0;
    for (uint32_t r : node.records) maxRecord = std::max(maxRecord, r);
    LeafWidths w;
    w.dc = w.tc = bitsFor(keyLength);
    const uint32_t rn = std::max<uint32_t>(12, bitsFor(maxRecord));
    w.e = (rn + w.dc + w.tc + 7) / 8;
    w.rn = 8 * w.e - w.dc - w.tc;
    return w;
}

uint32_t trailing(const uint8_t* key, uint32_t keyLength, uint8_t pad) {
    uint32_t t = 0;
    while (t < keyLength && key[keyLength - 1 - t] == pad) ++t;
    return t;
}

// Per-entry duplicate and trailing counts as the writer stores them.
void leafCounts(const Node& node, uint32_t keyLength, uint8_t pad, std::vector<uint16_t>& dup,
                std::vector<uint16_t>& trail) {
    const size_t n = node.count();
    dup.assign(n, 0);
    trail.assign(n, 0);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* k = node.key(i, keyLength);
        trail[i] = uint16_t(trailing(k, keyLength, pad));
        if (i == 0) continue;
        const uint8_t* p = node.key(i - 1, keyLength);
        const uint32_t cap = keyLength - std::max<uint32_t>(trail[i], trail[i - 1]);
        uint32_t d = 0;
        while (d < cap && p[d] == k[d]) ++d;
        dup[i] = uint16_t(d);
    }
}

}  // namespace

uint32_t storedBytes(const uint8_t* prev, const uint8_t* key, uint32_t keyLength, uint8_t pad) {
    const uint32_t trail = trailing(key, keyLength, pad);
    if (!prev) return keyLength - trail;
    const uint32_t cap = keyLength - std::max(trail, trailing(prev, keyLength, pad));
    uint32_t d = 0;
    while (d < cap && prev[d] == key[d]) ++d;
    return keyLength - d - trail;
}

uint32_t leafEntryBytes(uint32_t maxRecord, uint32_t keyLength) {
    const uint32_t dc = bitsFor(keyLength);
    return (std::max<uint32_t>(12, bitsFor(maxRecord)) + 2 * dc + 7) / 8;
}

void measureLeaf(Node& node, uint32_t keyLength, uint8_t pad) {
    uint32_t sum = 0, maxRecord = 0;
    for (size_t i = 0; i < node.count(); ++i) {
        sum += storedBytes(i ? node.key(i - 1, keyLength) : nullptr, node.key(i, keyLength),
                           keyLength, pad);
        maxRecord = std::max(maxRecord, node.records[i]);
    }
    node.storedSum = int32_t(sum);
    node.maxRecord = maxRecord;
}

uint32_t leafBytesNeeded(const Node& node, uint32_t keyLength, uint8_t pad) {
    const LeafWidths w = leafWidths(node, keyLength);
    std::vector<uint16_t> dup, trail;
    leafCounts(node, keyLength, pad, dup, trail);
    uint32_t total = uint32_t(node.count()) * w.e;
    for (size_t i = 0; i < node.count(); ++i) total += keyLength - dup[i] - trail[i];
    return total;
}

bool leafFits(const Node& node, uint32_t keyLength, uint8_t pad) {
    return leafBytesNeeded(node, keyLength, pad) <= kLeafSpace;
}

bool encodeNode(const Node& node, uint32_t keyLength, uint8_t pad, uint8_t* out) {
    std::memset(out, 0, kPageSize);
    const uint16_t attr = uint16_t((node.leaf ? kAttrLeaf : 0) | (node.root ? kAttrRoot : 0));
    platform::storeLE16(out, attr);
    platform::storeLE16(out + 2, uint16_t(node.count()));
    platform::storeLE32(out + 4, node.left);
    platform::storeLE32(out + 8, node.right);
    if (!node.leaf) {
        if (node.count() > interiorCapacity(keyLength)) return false;
        uint8_t* p = out + kInteriorHeaderSize;
        for (size_t i = 0; i < node.count(); ++i) {
            std::memcpy(p, node.key(i, keyLength), keyLength);
            platform::storeBE32(p + keyLength, node.records[i]);
            platform::storeBE32(p + keyLength + 4, node.children[i]);
            p += keyLength + 8;
        }
        return true;
    }
    const LeafWidths w = leafWidths(node, keyLength);
    std::vector<uint16_t> dup, trail;
    leafCounts(node, keyLength, pad, dup, trail);
    uint32_t needed = uint32_t(node.count()) * w.e;
    for (size_t i = 0; i < node.count(); ++i) needed += keyLength - dup[i] - trail[i];
    if (needed > kLeafSpace) return false;
    platform::storeLE16(out + 12, uint16_t(kLeafSpace - needed));
    platform::storeLE32(out + 14, uint32_t((uint64_t(1) << w.rn) - 1));
    out[18] = uint8_t((1u << w.dc) - 1);
    out[19] = uint8_t((1u << w.tc) - 1);
    out[20] = uint8_t(w.rn);
    out[21] = uint8_t(w.dc);
    out[22] = uint8_t(w.tc);
    out[23] = uint8_t(w.e);
    uint32_t cursor = kPageSize;
    for (size_t i = 0; i < node.count(); ++i) {
        const uint64_t v = uint64_t(node.records[i]) | (uint64_t(dup[i]) << w.rn) |
                           (uint64_t(trail[i]) << (w.rn + w.dc));
        uint8_t* e = out + kLeafHeaderSize + i * w.e;
        for (uint32_t b = 0; b < w.e; ++b) e[b] = uint8_t(v >> (8 * b));
        const uint32_t stored = keyLength - dup[i] - trail[i];
        cursor -= stored;
        std::memcpy(out + cursor, node.key(i, keyLength) + dup[i], stored);
    }
    return true;
}

namespace {

bool fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

bool decodeLeaf(const uint8_t* page, uint32_t keyLength, uint8_t pad, uint32_t count, Node& out,
                std::string* error) {
    const uint32_t rn = page[20], dc = page[21], tc = page[22], e = page[23];
    if (e == 0 || e > 8 || rn + dc + tc != 8 * e || rn > 32 || dc > 16 || tc > 16)
        return fail(error, "leaf entry widths " + std::to_string(rn) + "/" + std::to_string(dc) +
                               "/" + std::to_string(tc) + " in " + std::to_string(e) + " bytes");
    if (uint64_t(count) * e > kLeafSpace)
        return fail(error, "leaf key count " + std::to_string(count) + " runs past the page");
    const uint32_t tableEnd = kLeafHeaderSize + count * e;
    out.keys.resize(size_t(count) * keyLength);
    out.records.resize(count);
    const uint64_t rnMask = (uint64_t(1) << rn) - 1;
    const uint64_t dcMask = (uint64_t(1) << dc) - 1;
    const uint64_t tcMask = (uint64_t(1) << tc) - 1;
    uint32_t cursor = kPageSize;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* p = page + kLeafHeaderSize + i * e;
        uint64_t v = 0;
        for (uint32_t b = 0; b < e; ++b) v |= uint64_t(p[b]) << (8 * b);
        const uint32_t record = uint32_t(v & rnMask);
        const uint32_t dup = uint32_t((v >> rn) & dcMask);
        const uint32_t trail = uint32_t((v >> (rn + dc)) & tcMask);
        if (dup + trail > keyLength || (i == 0 && dup != 0))
            return fail(error, "leaf entry " + std::to_string(i) + " has bad counts (dup " +
                                   std::to_string(dup) + ", trail " + std::to_string(trail) + ")");
        const uint32_t stored = keyLength - dup - trail;
        if (cursor < tableEnd + stored)
            return fail(error,
                        "leaf entry " + std::to_string(i) + " key bytes overlap the entries");
        cursor -= stored;
        uint8_t* k = out.keys.data() + size_t(i) * keyLength;
        if (dup) std::memcpy(k, k - keyLength, dup);
        std::memcpy(k + dup, page + cursor, stored);
        std::memset(k + dup + stored, pad, trail);
        out.records[i] = record;
    }
    out.storedFree = platform::loadLE16(page + 12);
    out.usedBytes = (tableEnd - kLeafHeaderSize) + (kPageSize - cursor);
    return true;
}

}  // namespace

bool decodeNode(const uint8_t* page, uint32_t keyLength, uint8_t pad, Node& out,
                std::string* error) {
    if (keyLength == 0 || keyLength > kMaxKeyLength) return fail(error, "bad key length");
    const uint16_t attr = platform::loadLE16(page);
    if (attr > 3) return fail(error, "node attribute " + std::to_string(attr));
    const uint32_t count = platform::loadLE16(page + 2);
    out.leaf = (attr & kAttrLeaf) != 0;
    out.root = (attr & kAttrRoot) != 0;
    out.left = platform::loadLE32(page + 4);
    out.right = platform::loadLE32(page + 8);
    out.children.clear();
    if (out.leaf) return decodeLeaf(page, keyLength, pad, count, out, error);
    if (count > interiorCapacity(keyLength))
        return fail(error, "interior key count " + std::to_string(count) + " runs past the page");
    out.keys.resize(size_t(count) * keyLength);
    out.records.resize(count);
    out.children.resize(count);
    const uint8_t* p = page + kInteriorHeaderSize;
    for (uint32_t i = 0; i < count; ++i) {
        std::memcpy(out.keys.data() + size_t(i) * keyLength, p, keyLength);
        out.records[i] = platform::loadBE32(p + keyLength);
        out.children[i] = platform::loadBE32(p + keyLength + 4);
        p += keyLength + 8;
    }
    return true;
}

bool decodeTagHeader(ByteView bytes, TagHeader& out, std::string* error) {
    if (!bytes.has(0, kHeaderSize)) return fail(error, "tag header shorter than 1024 bytes");
    const uint8_t* p = bytes.data();
    out.root = platform::loadLE32(p);
    out.freeList = platform::loadLE32(p + 4);
    out.counter = platform::loadBE32(p + 8);
    out.keyLength = platform::loadLE16(p + 12);
    out.options = p[14];
    out.signature = p[15];
    if (out.keyLength == 0 || out.keyLength > kMaxKeyLength)
        return fail(error, "key length " + std::to_string(out.keyLength));
    out.collation.clear();
    for (int i = 494; i < 502 && p[i]; ++i) out.collation += char(p[i]);
    out.descending = platform::loadLE16(p + 502) != 0;
    auto poolText = [&](uint32_t start, uint32_t len, std::string& text) {
        text.clear();
        if (len == 0) return true;
        if (start + len > kPageSize) return false;
        const uint8_t* s = p + kPageSize + start;
        for (uint32_t i = 0; i < len && s[i]; ++i) text += char(s[i]);
        while (!text.empty() && text.back() == ' ') text.pop_back();
        return true;
    };
    if (!poolText(platform::loadLE16(p + 508), platform::loadLE16(p + 510), out.keyExpr))
        return fail(error, "key expression outside the pool");
    if (!poolText(platform::loadLE16(p + 504), platform::loadLE16(p + 506), out.forExpr))
        return fail(error, "filter expression outside the pool");
    return true;
}

void encodeTagHeader(const TagHeader& h, uint8_t* out) {
    std::memset(out, 0, kHeaderSize);
    platform::storeLE32(out, h.root);
    platform::storeLE32(out + 4, h.freeList);
    platform::storeBE32(out + 8, h.counter);
    platform::storeLE16(out + 12, h.keyLength);
    out[14] = h.options;
    out[15] = h.signature;
    for (size_t i = 0; i < h.collation.size() && i < 8; ++i) out[494 + i] = uint8_t(h.collation[i]);
    platform::storeLE16(out + 502, h.descending ? 1 : 0);
    const size_t keyLen = std::min<size_t>(h.keyExpr.size(), kPageSize - 2);
    const size_t forLen = std::min<size_t>(h.forExpr.size(), kPageSize - 2 - keyLen);
    std::memcpy(out + kPageSize, h.keyExpr.data(), keyLen);
    std::memcpy(out + kPageSize + keyLen + 1, h.forExpr.data(), forLen);
    platform::storeLE16(out + 508, 0);
    platform::storeLE16(out + 510, uint16_t(keyLen + 1));
    platform::storeLE16(out + 504, uint16_t(keyLen + 1));
    platform::storeLE16(out + 506, uint16_t(forLen + 1));
}

}  // namespace tavrel::kes04::cdx
