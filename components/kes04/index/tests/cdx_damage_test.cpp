// Damaged index files: every fault gives an error result, never a crash or
// a walk that does not end.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "components/kes04/index/cdx_index.h"
#include "components/kes04/index/key_encoding.h"
#include "components/kes04/index/tests/test_table.h"

namespace tavrel::kes04::cdx {
namespace {

using testing::MemorySource;
using testing::Records;
using testing::sampleLayout;

class DamagedIndex : public ::testing::Test {
  protected:
    Records records{sampleLayout()};
    MemorySource table;
    std::vector<uint8_t> bytes;
    uint32_t nameHeader = 0;

    // A two-tag index over 3000 records: trees of two levels and more.
    void SetUp() override {
        CdxStatus s;
        auto index = CdxIndex::create(std::make_unique<MemoryPageStore>(), records.layout(), &s);
        ASSERT_EQ(s, CdxStatus::Ok);
        ASSERT_EQ(index->addTag(TagSpec{"NAME", "NAME", "", TagUniqueness::kNone, false}),
                  CdxStatus::Ok);
        ASSERT_EQ(index->addTag(TagSpec{"AMOUNT", "AMOUNT", "", TagUniqueness::kNone, false}),
                  CdxStatus::Ok);
        for (int i = 0; i < 3000; ++i) {
            auto row = records.make("name" + std::to_string(i * 7919 % 3000), "c", i);
            ASSERT_EQ(index->applyChange(uint32_t(i + 1), {}, row), CdxStatus::Ok);
            table.rows.push_back(std::move(row));
        }
        ASSERT_EQ(index->flush(), CdxStatus::Ok);
        nameHeader = index->findTag("NAME")->headerOffset();
        bytes = static_cast<MemoryPageStore&>(index->store()).bytes();
    }

    uint32_t u32(uint32_t at) const { return platform::loadLE32(bytes.data() + at); }
    uint32_t nameRoot() const { return u32(nameHeader); }
    // The first child of an interior page (big-endian pointer after key and record).
    uint32_t firstChild(uint32_t page) const {
        return platform::loadBE32(bytes.data() + page + 12 + 20 + 4);
    }
    uint32_t leftmostLeaf() const {
        uint32_t page = nameRoot();
        while ((platform::loadLE16(bytes.data() + page) & kAttrLeaf) == 0) page = firstChild(page);
        return page;
    }

    std::unique_ptr<CdxIndex> open(CdxStatus* status, std::string* msg = nullptr) {
        return CdxIndex::open(std::make_unique<MemoryPageStore>(bytes), records.layout(), status,
                              msg);
    }
    // Opens, walks the NAME tag both ways and checks; returns the first
    // non-Ok status seen (Ok when the damage went unnoticed).
    CdxStatus openWalkCheck(std::vector<std::string>* problemsOut = nullptr) {
        CdxStatus s;
        auto index = open(&s);
        if (!index) return s;
        CdxStatus result = CdxStatus::Ok;
        for (size_t t = 0; t < index->tagCount(); ++t) {
            CdxTag& tag = index->tag(t);
            CdxCursor c;
            size_t steps = 0;
            for (s = index->first(tag, c); s == CdxStatus::Ok && c.valid; s = index->next(tag, c))
                EXPECT_LT(++steps, 10000u) << "walk does not end";
            if (s != CdxStatus::Ok) result = s;
            steps = 0;
            for (s = index->last(tag, c); s == CdxStatus::Ok && c.valid; s = index->prev(tag, c))
                EXPECT_LT(++steps, 10000u) << "walk does not end";
            if (s != CdxStatus::Ok) result = s;
            bool found;
            s = index->seek(tag, seekKeyFromText("name1", tag.keyType(), tag.keyLength()), c,
                            found);
            if (s != CdxStatus::Ok) result = s;
        }
        std::vector<std::string> problems;
        s = index->checkData(table, problems);
        if (s != CdxStatus::Ok) {
            EXPECT_FALSE(problems.empty());
            if (result == CdxStatus::Ok) result = s;
        }
        if (problemsOut) *problemsOut = problems;
        return result;
    }
};

TEST_F(DamagedIndex, IntactFileIsSound) { EXPECT_EQ(openWalkCheck(), CdxStatus::Ok); }

TEST_F(DamagedIndex, TruncatedDirectoryHeader) {
    bytes.resize(700);
    CdxStatus s;
    std::string msg;
    EXPECT_EQ(open(&s, &msg), nullptr);
    EXPECT_EQ(s, CdxStatus::Corrupt);
    EXPECT_NE(msg.find("1024"), std::string::npos);
}

TEST_F(DamagedIndex, DirectoryRootOutsideTheFile) {
    platform::storeLE32(bytes.data(), 0x7FFFFE00);
    CdxStatus s;
    std::string msg;
    EXPECT_EQ(open(&s, &msg), nullptr);
    EXPECT_EQ(s, CdxStatus::Corrupt);
    EXPECT_NE(msg.find("outside"), std::string::npos) << msg;
}

TEST_F(DamagedIndex, DirectoryRootNotOnAPageBoundary) {
    platform::storeLE32(bytes.data(), 1030);
    CdxStatus s;
    EXPECT_EQ(open(&s), nullptr);
    EXPECT_EQ(s, CdxStatus::Corrupt);
}

TEST_F(DamagedIndex, DirectoryEntryPointingPastTheEnd) {
    // The directory root leaf: one entry's record number is the tag header offset.
    const uint32_t dirRoot = u32(0);
    const uint8_t e = bytes[dirRoot + 23];
    const uint8_t rn = bytes[dirRoot + 20];
    uint64_t v = 0;
    for (int b = 0; b < e; ++b) v |= uint64_t(bytes[dirRoot + 24 + b]) << (8 * b);
    v = (v & ~((uint64_t(1) << rn) - 1)) | ((uint64_t(1) << rn) - 512);
    for (int b = 0; b < e; ++b) bytes[dirRoot + 24 + b] = uint8_t(v >> (8 * b));
    CdxStatus s;
    EXPECT_EQ(open(&s), nullptr);
    EXPECT_EQ(s, CdxStatus::Corrupt);
}

TEST_F(DamagedIndex, DirectoryKeyCountPastThePage) {
    platform::storeLE16(bytes.data() + u32(0) + 2, 400);
    CdxStatus s;
    EXPECT_EQ(open(&s), nullptr);
    EXPECT_EQ(s, CdxStatus::Corrupt);
}

TEST_F(DamagedIndex, BadKeyLengthInATagHeader) {
    platform::storeLE16(bytes.data() + nameHeader + 12, 0);
    CdxStatus s;
    EXPECT_EQ(open(&s), nullptr);
    EXPECT_EQ(s, CdxStatus::Corrupt);
    platform::storeLE16(bytes.data() + nameHeader + 12, 300);
    EXPECT_EQ(open(&s), nullptr);
}

TEST_F(DamagedIndex, TagRootOutsideTheFile) {
    platform::storeLE32(bytes.data() + nameHeader, 0x40000000);
    EXPECT_EQ(openWalkCheck(), CdxStatus::Corrupt);
}

TEST_F(DamagedIndex, InteriorPageThatPointsBackToTheRoot) {
    const uint32_t root = nameRoot();
    ASSERT_EQ(platform::loadLE16(bytes.data() + root) & kAttrLeaf, 0);
    platform::storeBE32(bytes.data() + root + 12 + 24, root);  // first child = root
    std::vector<std::string> problems;
    EXPECT_EQ(openWalkCheck(&problems), CdxStatus::Corrupt);
}

TEST_F(DamagedIndex, SiblingChainWithACycle) {
    // The second leaf's right pointer goes back to the first leaf.
    const uint32_t first = leftmostLeaf();
    const uint32_t second = u32(first + 8);
    ASSERT_NE(second, kNoPage);
    platform::storeLE32(bytes.data() + second + 8, first);
    std::vector<std::string> problems;
    EXPECT_EQ(openWalkCheck(&problems), CdxStatus::Corrupt);
}

TEST_F(DamagedIndex, LeafKeyCountPastThePage) {
    platform::storeLE16(bytes.data() + leftmostLeaf() + 2, 0xFFFF);
    EXPECT_EQ(openWalkCheck(), CdxStatus::Corrupt);
}

TEST_F(DamagedIndex, WrongFreeSpaceFieldIsReportedByTheChecker) {
    const uint32_t leaf = leftmostLeaf();
    platform::storeLE16(bytes.data() + leaf + 12, platform::loadLE16(bytes.data() + leaf + 12) + 1);
    std::vector<std::string> problems;
    EXPECT_EQ(openWalkCheck(&problems), CdxStatus::Corrupt);
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems[0].find("free-space"), std::string::npos) << problems[0];
}

TEST_F(DamagedIndex, KeysOutOfOrderAreReported) {
    // Swap the stored bytes of the leftmost leaf's first key with 0xFF.
    const uint32_t leaf = leftmostLeaf();
    bytes[leaf + 511] = 0xFF;
    std::vector<std::string> problems;
    EXPECT_EQ(openWalkCheck(&problems), CdxStatus::Corrupt);
}

TEST_F(DamagedIndex, ChangesToADamagedTreeFailCleanly) {
    platform::storeLE32(bytes.data() + nameHeader, 0x40000000);
    CdxStatus s;
    auto index = open(&s);
    ASSERT_NE(index, nullptr);
    auto row = records.make("new", "c", 1);
    EXPECT_EQ(index->applyChange(3001, {}, row), CdxStatus::Corrupt);
    EXPECT_FALSE(index->lastError().empty());
}

TEST_F(DamagedIndex, RandomByteDamageNeverCrashesOrHangs) {
    const std::vector<uint8_t> intact = bytes;
    std::mt19937 rng(99);
    int noticed = 0;
    for (int round = 0; round < 150; ++round) {
        bytes = intact;
        const int flips = 1 + int(rng() % 8);
        for (int f = 0; f < flips; ++f) bytes[rng() % bytes.size()] = uint8_t(rng());
        if (openWalkCheck() != CdxStatus::Ok) ++noticed;
        if (::testing::Test::HasFailure()) return;
    }
    EXPECT_GT(noticed, 50);
}

}  // namespace
}  // namespace tavrel::kes04::cdx
