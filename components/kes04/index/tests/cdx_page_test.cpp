#include "components/kes04/index/cdx_page.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace tavrel::kes04::cdx {
namespace {

void addEntry(Node& n, const std::string& key, uint32_t record) {
    n.keys.insert(n.keys.end(), key.begin(), key.end());
    n.records.push_back(record);
}

TEST(LeafPage, MatchesTheByteLayoutByHand) {
    // Two 5-byte keys "ABC  " (record 1) and "ABD  " (record 2). Key length 5
    // needs 3 bits for the duplicate and trailing counts, so RN = 18, E = 3.
    Node n;
    n.root = true;
    addEntry(n, "ABC  ", 1);
    addEntry(n, "ABD  ", 2);
    uint8_t page[kPageSize];
    ASSERT_TRUE(encodeNode(n, 5, ' ', page));
    EXPECT_EQ(platform::loadLE16(page), 3);  // leaf + root
    EXPECT_EQ(platform::loadLE16(page + 2), 2);
    EXPECT_EQ(platform::loadLE32(page + 4), kNoPage);
    EXPECT_EQ(platform::loadLE32(page + 8), kNoPage);
    EXPECT_EQ(platform::loadLE16(page + 12), 488 - 2 * 3 - 3 - 1);
    EXPECT_EQ(platform::loadLE32(page + 14), (1u << 18) - 1);
    EXPECT_EQ(page[18], 7);
    EXPECT_EQ(page[19], 7);
    EXPECT_EQ(page[20], 18);
    EXPECT_EQ(page[21], 3);
    EXPECT_EQ(page[22], 3);
    EXPECT_EQ(page[23], 3);
    // Entry 0: record 1, dup 0, trail 2 -> 1 | 0 << 18 | 2 << 21.
    const uint32_t e0 = page[24] | page[25] << 8 | page[26] << 16;
    EXPECT_EQ(e0, 1u | (2u << 21));
    // Entry 1: record 2, dup 2 ("AB"), trail 2.
    const uint32_t e1 = page[27] | page[28] << 8 | page[29] << 16;
    EXPECT_EQ(e1, 2u | (2u << 18) | (2u << 21));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(page + 509), 3), "ABC");
    EXPECT_EQ(page[508], 'D');

    Node back;
    ASSERT_TRUE(decodeNode(page, 5, ' ', back, nullptr));
    EXPECT_TRUE(back.leaf);
    EXPECT_TRUE(back.root);
    EXPECT_EQ(back.keys, n.keys);
    EXPECT_EQ(back.records, n.records);
    EXPECT_EQ(back.storedFree, kLeafSpace - back.usedBytes);
}

TEST(LeafPage, DuplicateCountNeverReachesIntoEitherKeysTrailingBlanks) {
    // "AB   " then "AB  X": the common prefix is 4 bytes, but the previous key's
    // trailing blanks cap the stored duplicate count at 5 - 3 = 2.
    Node n;
    addEntry(n, "AB   ", 1);
    addEntry(n, "AB  X", 2);
    uint8_t page[kPageSize];
    ASSERT_TRUE(encodeNode(n, 5, ' ', page));
    const uint32_t e1 = page[27] | page[28] << 8 | page[29] << 16;
    EXPECT_EQ((e1 >> 18) & 7, 2u);
    Node back;
    ASSERT_TRUE(decodeNode(page, 5, ' ', back, nullptr));
    EXPECT_EQ(back.keys, n.keys);
}

TEST(LeafPage, RandomContentRoundTripsAndFillsAtMost488Bytes) {
    std::mt19937 rng(3);
    for (uint32_t kl : {1u, 4u, 8u, 10u, 20u, 100u, 240u}) {
        for (int round = 0; round < 50; ++round) {
            Node n;
            std::vector<std::string> keys;
            const int count = int(rng() % 60) + 1;
            for (int i = 0; i < count; ++i) {
                std::string k(kl, ' ');
                const uint32_t used = rng() % (kl + 1);
                for (uint32_t j = 0; j < used; ++j) k[j] = char('A' + rng() % 3);
                keys.push_back(k);
            }
            std::sort(keys.begin(), keys.end());
            for (int i = 0; i < count; ++i)
                addEntry(n, keys[size_t(i)], uint32_t(rng() % 5000000) + 1);
            uint8_t page[kPageSize];
            const bool fits = leafFits(n, kl, ' ');
            ASSERT_EQ(encodeNode(n, kl, ' ', page), fits);
            if (!fits) continue;
            Node back;
            std::string why;
            ASSERT_TRUE(decodeNode(page, kl, ' ', back, &why)) << why;
            EXPECT_EQ(back.keys, n.keys);
            EXPECT_EQ(back.records, n.records);
            EXPECT_EQ(back.storedFree, kLeafSpace - back.usedBytes);
            EXPECT_EQ(back.usedBytes, leafBytesNeeded(n, kl, ' '));
        }
    }
}

TEST(InteriorPage, StoresRecordAndChildBigEndian) {
    Node n;
    n.leaf = false;
    addEntry(n, "KEY1", 0x01020304);
    n.children.push_back(0x00000A00);
    uint8_t page[kPageSize];
    ASSERT_TRUE(encodeNode(n, 4, ' ', page));
    EXPECT_EQ(platform::loadLE16(page), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(page + 12), 4), "KEY1");
    EXPECT_EQ(platform::loadBE32(page + 16), 0x01020304u);
    EXPECT_EQ(platform::loadBE32(page + 20), 0x00000A00u);
    EXPECT_EQ(interiorCapacity(10), 27u);
    EXPECT_EQ(interiorCapacity(240), 2u);
}

TEST(BadPages, AreRefusedWithAReason) {
    uint8_t page[kPageSize] = {};
    Node n;
    std::string why;
    platform::storeLE16(page, 7);
    EXPECT_FALSE(decodeNode(page, 10, ' ', n, &why));
    EXPECT_NE(why.find("attribute"), std::string::npos);
    // Interior key count past the page.
    platform::storeLE16(page, 0);
    platform::storeLE16(page + 2, 28);
    EXPECT_FALSE(decodeNode(page, 10, ' ', n, &why));
    // Leaf with widths that do not add up.
    platform::storeLE16(page, 2);
    platform::storeLE16(page + 2, 1);
    page[20] = 16, page[21] = 4, page[22] = 4, page[23] = 2;
    EXPECT_FALSE(decodeNode(page, 10, ' ', n, &why));
    // Leaf with a key count whose entries overlap the key area.
    page[20] = 16, page[21] = 4, page[22] = 4, page[23] = 3;
    platform::storeLE16(page + 2, 163);
    EXPECT_FALSE(decodeNode(page, 10, ' ', n, &why));
    // A first entry claiming duplicate bytes.
    platform::storeLE16(page + 2, 1);
    page[24] = 1, page[25] = 0, page[26] = 0x01;  // dup = 1
    EXPECT_FALSE(decodeNode(page, 10, ' ', n, &why));
}

TEST(TagHeaderBytes, FollowTheFormat) {
    TagHeader h;
    h.root = 0x600;
    h.keyLength = 20;
    h.options = kOptCompact | kOptCompound | kOptFor | kOptUnique;
    h.descending = true;
    h.keyExpr = "UPPER(NAME)";
    h.forExpr = ".NOT. DELETED()";
    h.counter = 0x01020304;
    uint8_t b[kHeaderSize];
    encodeTagHeader(h, b);
    EXPECT_EQ(platform::loadLE32(b), 0x600u);
    EXPECT_EQ(platform::loadBE32(b + 8), 0x01020304u);
    EXPECT_EQ(platform::loadLE16(b + 12), 20);
    EXPECT_EQ(b[14], 0x69);
    EXPECT_EQ(b[15], 1);
    EXPECT_EQ(platform::loadLE16(b + 502), 1);
    EXPECT_EQ(platform::loadLE16(b + 508), 0);
    EXPECT_EQ(platform::loadLE16(b + 510), 12);
    EXPECT_EQ(platform::loadLE16(b + 504), 12);
    EXPECT_EQ(platform::loadLE16(b + 506), 16);
    EXPECT_STREQ(reinterpret_cast<char*>(b + 512), "UPPER(NAME)");
    EXPECT_STREQ(reinterpret_cast<char*>(b + 524), ".NOT. DELETED()");
    TagHeader back;
    ASSERT_TRUE(decodeTagHeader(platform::ByteView(b, sizeof b), back, nullptr));
    EXPECT_EQ(back.keyExpr, h.keyExpr);
    EXPECT_EQ(back.forExpr, h.forExpr);
    EXPECT_TRUE(back.descending);

    // Old files pad the key expression with blanks; pool positions past the pool are refused.
    std::memcpy(b + 512, "NAME       ", 12);
    ASSERT_TRUE(decodeTagHeader(platform::ByteView(b, sizeof b), back, nullptr));
    EXPECT_EQ(back.keyExpr, "NAME");
    platform::storeLE16(b + 508, 600);
    EXPECT_FALSE(decodeTagHeader(platform::ByteView(b, sizeof b), back, nullptr));
    platform::storeLE16(b + 508, 0);
    platform::storeLE16(b + 12, 241);
    EXPECT_FALSE(decodeTagHeader(platform::ByteView(b, sizeof b), back, nullptr));
}

}  // namespace
}  // namespace tavrel::kes04::cdx
