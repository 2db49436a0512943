// On-disk pieces of a FoxPro compound index (.CDX): tag headers and nodes.
//
// All pointers are absolute byte offsets, multiples of 512. Integers are
// little-endian except where marked BE.
//
// Tag header, 1024 bytes (also the tag directory's header at file offset 0).
// Invariant: root is a page of this tag; the pool holds the key expression at
// `keyStart` and the filter at `forStart`, each NUL-terminated.
// | Off | Size | Meaning                                                     |
// |-----|------|-------------------------------------------------------------|
// |   0 |    4 | root node offset                                            |
// |   4 |    4 | free list head (0 or 0xFFFFFFFF = none; we never use it)    |
// |   8 |    4 | change counter, BE (directory header only; bumped on writes)|
// |  12 |    2 | key length (1-240)                                          |
// |  14 |    1 | options: 0x01 unique, 0x04 candidate, 0x08 FOR, 0x20 compact,|
// |     |      | 0x40 compound, 0x80 directory                               |
// |  15 |    1 | signature (1)                                               |
// | 494 |    8 | collation name, NUL padded; empty or "MACHINE" = byte order |
// | 502 |    2 | 1 = descending                                              |
// | 504 |    2 | FOR expression start in the pool                            |
// | 506 |    2 | FOR expression length including NUL (1 = no filter)         |
// | 508 |    2 | key expression start in the pool                            |
// | 510 |    2 | key expression length including NUL                         |
// | 512 |  512 | expression pool                                             |
//
// Node, 512 bytes. Interior node invariant: entry i holds the largest
// (key, record) of child i's subtree, entries ascending. Leaf invariant:
// entries ascend by (key, record number); siblings link each level in order.
// | Off | Size | Meaning                                                     |
// |-----|------|-------------------------------------------------------------|
// |   0 |    2 | attribute: 0 interior, 1 root, 2 leaf (summed)              |
// |   2 |    2 | number of keys                                              |
// |   4 |    4 | left sibling (0xFFFFFFFF none)                              |
// |   8 |    4 | right sibling (0xFFFFFFFF none)                             |
// Interior: from 12, entries of key bytes, record number BE, child BE.
// Leaf:
// |  12 |    2 | free bytes                                                  |
// |  14 |    4 | record-number mask                                          |
// |  18 |    1 | duplicate-count mask                                        |
// |  19 |    1 | trailing-count mask                                         |
// |  20 |    1 | RN: record-number bits                                      |
// |  21 |    1 | DC: duplicate-count bits                                    |
// |  22 |    1 | TC: trailing-count bits                                     |
// |  23 |    1 | E: bytes per entry (RN + DC + TC = 8 E)                     |
// |  24 |  488 | entries (E bytes each, LE: record, dup, trail from the low  |
// |     |      | bits up) from 24 upward; key bytes from 512 downward        |
// A leaf entry keeps `dup` bytes of the previous key, then its stored bytes,
// then `trail` pad bytes; dup never exceeds keyLength - max(trail of this and
// of the previous entry).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_order.h"

namespace tavrel::kes04::cdx {

inline constexpr uint32_t kPageSize = 512;
inline constexpr uint32_t kHeaderSize = 1024;
inline constexpr uint32_t kNoPage = 0xFFFFFFFFu;
inline constexpr uint32_t kMaxKeyLength = 240;
inline constexpr uint32_t kLeafHeaderSize = 24;
inline constexpr uint32_t kLeafSpace = kPageSize - kLeafHeaderSize;  // 488
inline constexpr uint32_t kInteriorHeaderSize = 12;

inline constexpr uint8_t kOptUnique = 0x01;
inline constexpr uint8_t kOptNullable = 0x02;
inline constexpr uint8_t kOptCandidate = 0x04;
inline constexpr uint8_t kOptFor = 0x08;
inline constexpr uint8_t kOptCompact = 0x20;
inline constexpr uint8_t kOptCompound = 0x40;
inline constexpr uint8_t kOptDirectory = 0x80;

inline constexpr uint16_t kAttrRoot = 1;
inline constexpr uint16_t kAttrLeaf = 2;

struct TagHeader {
    uint32_t root = 0;
    uint32_t freeList = 0;
    uint32_t counter = 0;
    uint16_t keyLength = 0;
    uint8_t options = kOptCompact | kOptCompound;
    uint8_t signature = 1;
    std::string collation;  // trimmed of NULs
    bool descending = false;
    std::string keyExpr;
    std::string forExpr;
};

// Reads a tag header. False with `*error` set when the bytes are not one
// (short, key length 0 or above 240, pool positions outside the pool).
bool decodeTagHeader(platform::ByteView bytes, TagHeader& out, std::string* error);
// Writes the 1024 header bytes; expressions longer than the pool are cut.
void encodeTagHeader(const TagHeader& header, uint8_t* out1024);

// A decoded node: keys stored back to back, `keyLength` bytes each.
struct Node {
    bool leaf = true;
    bool root = false;
    uint32_t left = kNoPage;
    uint32_t right = kNoPage;
    std::vector<uint8_t> keys;
    std::vector<uint32_t> records;
    std::vector<uint32_t> children;  // interior nodes only
    // Set by decodeNode for leaves: the free-bytes field as stored and the
    // bytes the entries really take, so a checker can compare them.
    uint32_t storedFree = 0;
    uint32_t usedBytes = 0;
    // Leaves: the sum of stored key bytes and the largest record number, kept
    // while entries are inserted so that a fit check costs no full pass;
    // -1 when unknown (recomputed on demand).
    int32_t storedSum = -1;
    uint32_t maxRecord = 0;

    size_t count() const { return records.size(); }
    const uint8_t* key(size_t i, uint32_t keyLength) const { return keys.data() + i * keyLength; }
    const uint8_t* lastKey(uint32_t keyLength) const { return key(count() - 1, keyLength); }
};

// Entries an interior node can hold for this key length.
inline uint32_t interiorCapacity(uint32_t keyLength) {
    return (kPageSize - kInteriorHeaderSize) / (keyLength + 8);
}

// Decodes one 512-byte node. False with `*error` when the page is malformed
// (attribute, key count past the page, entries that overlap key bytes).
bool decodeNode(const uint8_t* page, uint32_t keyLength, uint8_t pad, Node& out,
                std::string* error);

// True when the leaf's entries fit one page with the widths `encodeNode` picks.
bool leafFits(const Node& node, uint32_t keyLength, uint8_t pad);
// Bytes a leaf's entries need (entry table plus stored key bytes).
uint32_t leafBytesNeeded(const Node& node, uint32_t keyLength, uint8_t pad);

// Encodes a node into 512 bytes. False when it does not fit (the caller
// splits first).
bool encodeNode(const Node& node, uint32_t keyLength, uint8_t pad, uint8_t* out512);

// Key bytes a leaf stores for `key` after `prev` (null for a page's first
// entry): the key length less the duplicate and trailing counts.
uint32_t storedBytes(const uint8_t* prev, const uint8_t* key, uint32_t keyLength, uint8_t pad);
// Bytes per leaf entry for a page whose largest record number is `maxRecord`.
uint32_t leafEntryBytes(uint32_t maxRecord, uint32_t keyLength);
// Fills `storedSum` and `maxRecord` of a leaf.
void measureLeaf(Node& node, uint32_t keyLength, uint8_t pad);

// Number of bits needed to hold `value` (0 for 0).
uint32_t bitsFor(uint64_t value);

}  // namespace tavrel::kes04::cdx
