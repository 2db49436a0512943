#include "components/kes04/index/cdx_index.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "components/kes04/index/key_encoding.h"
#include "components/kes04/index/tests/stdio_page_store.h"
#include "components/kes04/index/tests/test_table.h"

namespace tavrel::kes04::cdx {
namespace {

using testing::MemorySource;
using testing::Records;
using testing::sampleLayout;

class CdxIndexTest : public ::testing::Test {
  protected:
    Records records{sampleLayout()};
    MemorySource table;
    std::unique_ptr<CdxIndex> index;

    void SetUp() override {
        CdxStatus s;
        index = CdxIndex::create(std::make_unique<MemoryPageStore>(), records.layout(), &s);
        ASSERT_EQ(s, CdxStatus::Ok);
    }
    CdxTag& addTag(const std::string& name, const std::string& key, const std::string& filter = "",
                   TagUniqueness unique = TagUniqueness::kNone, bool descending = false) {
        std::string msg;
        EXPECT_EQ(index->addTag(TagSpec{name, key, filter, unique, descending}, &msg),
                  CdxStatus::Ok)
            << msg;
        return *index->findTag(name);
    }
    CdxStatus append(std::vector<uint8_t> row) {
        const uint32_t recno = uint32_t(table.rows.size() + 1);
        const CdxStatus s = index->applyChange(recno, {}, row);
        if (s == CdxStatus::Ok) table.rows.push_back(std::move(row));
        return s;
    }
    CdxStatus change(uint32_t recno, std::vector<uint8_t> row) {
        const CdxStatus s = index->applyChange(recno, table.rows[recno - 1], row);
        if (s == CdxStatus::Ok) table.rows[recno - 1] = std::move(row);
        return s;
    }
    // Record numbers in the tag's order.
    std::vector<uint32_t> walk(CdxTag& tag) {
        std::vector<uint32_t> out;
        CdxCursor c;
        EXPECT_EQ(index->first(tag, c), CdxStatus::Ok);
        while (c.valid) {
            out.push_back(c.record);
            EXPECT_EQ(index->next(tag, c), CdxStatus::Ok);
        }
        return out;
    }
    std::vector<uint32_t> walkBack(CdxTag& tag) {
        std::vector<uint32_t> out;
        CdxCursor c;
        EXPECT_EQ(index->last(tag, c), CdxStatus::Ok);
        while (c.valid) {
            out.push_back(c.record);
            EXPECT_EQ(index->prev(tag, c), CdxStatus::Ok);
        }
        return out;
    }
    // The record a seek lands on (0 past the end) and whether it matched.
    std::pair<uint32_t, bool> seek(CdxTag& tag, const std::string& text) {
        CdxCursor c;
        bool found = false;
        EXPECT_EQ(index->seek(tag, seekKeyFromText(text, tag.keyType(), tag.keyLength()), c, found),
                  CdxStatus::Ok);
        return {c.valid ? c.record : 0, found};
    }
    void expectSound() {
        std::vector<std::string> problems;
        EXPECT_EQ(index->checkData(table, problems), CdxStatus::Ok);
        for (const auto& p : problems) ADD_FAILURE() << p;
    }
};

TEST_F(CdxIndexTest, KeepsCharacterNumericAndDateTagsInOrder) {
    CdxTag& name = addTag("NAME", "UPPER(NAME)");
    CdxTag& amount = addTag("AMOUNT", "AMOUNT");
    CdxTag& day = addTag("DAY", "DAY");
    ASSERT_EQ(append(records.make("delta", "1", 5, "20240301")), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("Alpha", "2", -3.25, "19991231")), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("charlie", "3", 100, "")), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("Bravo", "4", 0, "20240229")), CdxStatus::Ok);
    EXPECT_EQ(walk(name), (std::vector<uint32_t>{2, 4, 3, 1}));
    EXPECT_EQ(walk(amount), (std::vector<uint32_t>{2, 4, 1, 3}));
    EXPECT_EQ(walk(day), (std::vector<uint32_t>{3, 2, 4, 1}));  // empty date first
    EXPECT_EQ(walkBack(name), (std::vector<uint32_t>{1, 3, 4, 2}));
    EXPECT_EQ(name.keyLength(), 20u);
    EXPECT_EQ(amount.keyLength(), 8u);
    expectSound();
}

TEST_F(CdxIndexTest, SeeksMatchPrefixesAndReportTheFollowingEntry) {
    CdxTag& tag = addTag("TBL_ORDER", "CODE + NAME");
    ASSERT_EQ(append(records.make("b", "A1", 0)), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("a", "A1", 0)), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("c", "A2", 0)), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("a", "B1", 0)), CdxStatus::Ok);
    EXPECT_EQ(seek(tag, "A1"), std::make_pair(2u, true));
    EXPECT_EQ(seek(tag, "A"), std::make_pair(2u, true));
    EXPECT_EQ(seek(tag, "A1        b"), std::make_pair(1u, true));
    EXPECT_EQ(seek(tag, "A3"), std::make_pair(4u, false));
    EXPECT_EQ(seek(tag, "C"), std::make_pair(0u, false));
    EXPECT_EQ(seek(tag, ""), std::make_pair(2u, true));
    // Walking on from a seek stays on the prefix run.
    CdxCursor c;
    bool found;
    ASSERT_EQ(index->seek(tag, "A1", c, found), CdxStatus::Ok);
    ASSERT_EQ(index->next(tag, c), CdxStatus::Ok);
    EXPECT_EQ(c.record, 1u);
    ASSERT_EQ(index->next(tag, c), CdxStatus::Ok);
    EXPECT_EQ(c.key.substr(0, 2), "A2");
}

TEST_F(CdxIndexTest, EqualKeysFollowRecordNumbers) {
    CdxTag& tag = addTag("CODE", "CODE");
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(append(records.make("x", i % 2 ? "odd" : "even", i)), CdxStatus::Ok);
    std::vector<uint32_t> order = walk(tag);
    ASSERT_EQ(order.size(), 300u);
    for (size_t i = 1; i < 150; ++i) EXPECT_LT(order[i - 1], order[i]);
    EXPECT_EQ(order[0], 1u);    // "even" first, lowest record first
    EXPECT_EQ(order[150], 2u);  // then "odd"
    EXPECT_EQ(seek(tag, "odd"), std::make_pair(2u, true));
    expectSound();
}

TEST_F(CdxIndexTest, DescendingTagsWalkFromTheLargestKey) {
    CdxTag& tag = addTag("DATE_BACK", "DTOS(DAY)", "", TagUniqueness::kNone, true);
    ASSERT_EQ(append(records.make("a", "1", 0, "20240105")), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("b", "2", 0, "20231231")), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("c", "3", 0, "20240301")), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("d", "4", 0, "20240105")), CdxStatus::Ok);
    EXPECT_EQ(walk(tag), (std::vector<uint32_t>{3, 4, 1, 2}));
    EXPECT_EQ(walkBack(tag), (std::vector<uint32_t>{2, 1, 4, 3}));
    EXPECT_EQ(seek(tag, "2024"), std::make_pair(3u, true));
    EXPECT_EQ(seek(tag, "202401"), std::make_pair(4u, true));
    EXPECT_EQ(seek(tag, "20240201"), std::make_pair(4u, false));  // the next one down
    EXPECT_EQ(seek(tag, "2022"), std::make_pair(0u, false));
    EXPECT_TRUE(tag.descending());
    expectSound();
}

TEST_F(CdxIndexTest, NumericAndDateSeeksMatchWholeKeys) {
    CdxTag& amount = addTag("AMOUNT", "AMOUNT");
    CdxTag& day = addTag("DAY", "DAY");
    ASSERT_EQ(append(records.make("a", "1", 33.7, "20240105")), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("b", "2", 3.37, "20240106")), CdxStatus::Ok);
    EXPECT_EQ(seek(amount, "33.7"), std::make_pair(1u, true));
    EXPECT_EQ(seek(amount, "33"), std::make_pair(1u, false));
    EXPECT_EQ(seek(amount, "3.37"), std::make_pair(2u, true));
    EXPECT_EQ(seek(day, "20240106"), std::make_pair(2u, true));
    EXPECT_EQ(seek(day, "2024"), std::make_pair(1u, false));
}

TEST_F(CdxIndexTest, FiltersKeepRecordsOutAndFollowChanges) {
    CdxTag& tag = addTag("LIVE", "NAME", ".NOT. DELETED() .AND. AMOUNT > 0");
    ASSERT_EQ(append(records.make("a", "1", 5)), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("b", "2", -5)), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("c", "3", 1)), CdxStatus::Ok);
    EXPECT_EQ(walk(tag), (std::vector<uint32_t>{1, 3}));
    std::vector<uint8_t> row = table.rows[0];
    row[0] = '*';
    ASSERT_EQ(change(1, row), CdxStatus::Ok);
    EXPECT_EQ(walk(tag), (std::vector<uint32_t>{3}));
    row = table.rows[1];
    records.set(row, "AMOUNT", "7");
    ASSERT_EQ(change(2, row), CdxStatus::Ok);
    EXPECT_EQ(walk(tag), (std::vector<uint32_t>{2, 3}));
    expectSound();
}

TEST_F(CdxIndexTest, OnlyChangesToBytesATagReadsTouchTheIndex) {
    // NAME reads bytes 1-20; DAY with its FLAG filter bytes 41-49, one range
    // once merged. CODE, AMOUNT and NOTE lie outside, and so does the
    // deletion flag (no DELETED() here).
    CdxTag& name = addTag("NAME", "NAME");
    CdxTag& day = addTag("DAY", "DAY", "FLAG");
    auto row = [&](const std::string& n, const std::string& d) {
        std::vector<uint8_t> r = records.make(n, "1", 5, d);
        records.set(r, "FLAG", "T");
        return r;
    };
    ASSERT_EQ(append(row("b", "20240101")), CdxStatus::Ok);
    ASSERT_EQ(append(row("b", "20230101")), CdxStatus::Ok);
    ASSERT_EQ(index->flush(), CdxStatus::Ok);
    const uint64_t generation = index->generation();

    std::vector<uint8_t> r = table.rows[0];
    records.set(r, "CODE", "changed");
    records.set(r, "AMOUNT", "-99");
    records.set(r, "NOTE", "a long note no key reads");
    r[0] = '*';
    ASSERT_EQ(change(1, r), CdxStatus::Ok);
    EXPECT_EQ(index->generation(), generation) << "a change no tag reads moved the cursors";
    expectSound();

    // The last byte of NAME and the FLAG byte closing the merged range count:
    // record 1 moves behind its equal-named neighbour.
    EXPECT_EQ(walk(name), (std::vector<uint32_t>{1, 2}));
    r = table.rows[0];
    r[20] = 'z';
    ASSERT_EQ(change(1, r), CdxStatus::Ok);
    EXPECT_EQ(walk(name), (std::vector<uint32_t>{2, 1}));
    r = table.rows[1];
    records.set(r, "FLAG", "F");
    ASSERT_EQ(change(2, r), CdxStatus::Ok);
    EXPECT_EQ(walk(day), (std::vector<uint32_t>{1}));
    EXPECT_GT(index->generation(), generation);
    expectSound();
}

TEST_F(CdxIndexTest, Uniqueness20RefusesADuplicateAndChangesNothing) {
    CdxTag& code = addTag("CODE", "CODE", "", TagUniqueness::kRefuse);
    CdxTag& name = addTag("NAME", "NAME");
    ASSERT_EQ(append(records.make("a", "K1", 0)), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("b", "K2", 0)), CdxStatus::Ok);
    EXPECT_EQ(append(records.make("c", "K1", 0)), CdxStatus::UniqueViolation);
    EXPECT_EQ(walk(name), (std::vector<uint32_t>{1, 2}));
    std::vector<uint8_t> row = table.rows[1];
    records.set(row, "CODE", "K1");
    EXPECT_EQ(change(2, row), CdxStatus::UniqueViolation);
    // Re-writing a record with its own key is no duplicate.
    records.set(row, "CODE", "K2");
    records.set(row, "NAME", "renamed");
    EXPECT_EQ(change(2, row), CdxStatus::Ok);
    EXPECT_EQ(code.uniqueness(), TagUniqueness::kRefuse);
    expectSound();
}

TEST_F(CdxIndexTest, Uniqueness25KeepsTheFirstRecordOfEachKey) {
    CdxTag& tag = addTag("CODE", "CODE", "", TagUniqueness::kContinue);
    ASSERT_EQ(append(records.make("a", "K1", 0)), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("b", "K1", 0)), CdxStatus::Ok);
    ASSERT_EQ(append(records.make("c", "K0", 0)), CdxStatus::Ok);
    EXPECT_EQ(walk(tag), (std::vector<uint32_t>{3, 1}));
    // Changing the second K1 record (not in the tag) is fine.
    std::vector<uint8_t> row = table.rows[1];
    records.set(row, "NAME", "z");
    EXPECT_EQ(change(2, row), CdxStatus::Ok);
    expectSound();
    // A rebuild keeps the lowest record of each key too.
    ASSERT_EQ(index->reindex(table), CdxStatus::Ok);
    EXPECT_EQ(walk(*index->findTag("code")), (std::vector<uint32_t>{3, 1}));
}

TEST_F(CdxIndexTest, RebuildGivesTheSameEntriesAsIncrementalUpdates) {
    addTag("NAME", "UPPER(NAME)");
    addTag("AMT", "STR(AMOUNT, 10, 2) + CODE", "AMOUNT > 10");
    addTag("BACK", "AMOUNT", "", TagUniqueness::kNone, true);
    std::mt19937 rng(11);
    for (int i = 0; i < 3000; ++i) {
        std::string n;
        for (int k = 0; k < 8; ++k) n += char('a' + rng() % 26);
        ASSERT_EQ(append(records.make(n, std::to_string(rng() % 50), double(rng() % 1000) / 4)),
                  CdxStatus::Ok);
    }
    std::vector<std::vector<uint32_t>> before;
    for (size_t i = 0; i < index->tagCount(); ++i) before.push_back(walk(index->tag(i)));
    const uint64_t grownSize = (index->flush(), index->store().size());
    ASSERT_EQ(index->reindex(table), CdxStatus::Ok);
    for (size_t i = 0; i < index->tagCount(); ++i) EXPECT_EQ(walk(index->tag(i)), before[i]);
    EXPECT_LT(index->store().size(), grownSize);  // full leaves after a rebuild
    expectSound();
    // And the rebuilt trees take further changes.
    ASSERT_EQ(append(records.make("zzz", "1", 11)), CdxStatus::Ok);
    expectSound();
}

// A store whose writes fail from the Nth on while `failFrom` is set.
class FlakyStore final : public PageStore {
  public:
    explicit FlakyStore(int* failFrom) : m_failFrom(failFrom) {}
    bool read(uint64_t offset, uint8_t* out, size_t count) override {
        return m_bytes.read(offset, out, count);
    }
    bool write(uint64_t offset, const uint8_t* data, size_t count) override {
        if (*m_failFrom > 0 && --*m_failFrom == 0) {
            *m_failFrom = 1;  // and every write after it
            return false;
        }
        return m_bytes.write(offset, data, count);
    }
    uint64_t size() override { return m_bytes.size(); }
    bool truncate(uint64_t size) override { return m_bytes.truncate(size); }
    std::vector<uint8_t>& bytes() { return m_bytes.bytes(); }

  private:
    MemoryPageStore m_bytes;
    int* m_failFrom;
};

// A flush that fails part-way keeps every changed page; the next one writes
// them all, so the file ends up as if nothing had failed.
TEST_F(CdxIndexTest, AFailedFlushLosesNoChangedPage) {
    int failFrom = 0;
    CdxStatus s;
    index = CdxIndex::create(std::make_unique<FlakyStore>(&failFrom), records.layout(), &s);
    ASSERT_EQ(s, CdxStatus::Ok);
    addTag("NAME", "UPPER(NAME)");
    addTag("BACK", "AMOUNT", "", TagUniqueness::kNone, true);
    ASSERT_EQ(index->flush(), CdxStatus::Ok);
    std::mt19937 rng(5);
    for (int i = 0; i < 20000; ++i) {  // pages for several runs of writes
        std::string n;
        for (int k = 0; k < 10; ++k) n += char('a' + rng() % 26);
        ASSERT_EQ(append(records.make(n, "c", double(rng() % 100000) / 4)), CdxStatus::Ok);
    }
    failFrom = 2;  // the first run goes out, the rest does not
    EXPECT_NE(index->flush(), CdxStatus::Ok);
    failFrom = 0;
    ASSERT_EQ(index->flush(), CdxStatus::Ok);

    const std::vector<uint32_t> names = walk(*index->findTag("NAME"));
    const std::vector<uint8_t> bytes = static_cast<FlakyStore&>(index->store()).bytes();
    index = CdxIndex::open(std::make_unique<MemoryPageStore>(bytes), records.layout(), &s);
    ASSERT_EQ(s, CdxStatus::Ok);
    EXPECT_EQ(walk(*index->findTag("NAME")), names);
    EXPECT_EQ(walk(*index->findTag("BACK")).size(), 20000u);
    expectSound();
}

TEST_F(CdxIndexTest, Uniqueness20RebuildRefusesDuplicateData) {
    addTag("CODE", "CODE", "", TagUniqueness::kRefuse);
    table.rows.push_back(records.make("a", "same", 0));
    table.rows.push_back(records.make("b", "same", 0));
    EXPECT_EQ(index->reindex(table), CdxStatus::UniqueViolation);
}

TEST_F(CdxIndexTest, RefusesBadTagDescriptions) {
    std::string msg;
    EXPECT_EQ(index->addTag(TagSpec{"", "NAME", "", TagUniqueness::kNone, false}, &msg),
              CdxStatus::BadTagName);
    EXPECT_EQ(index->addTag(TagSpec{"ELEVENCHARS", "NAME", "", TagUniqueness::kNone, false}, &msg),
              CdxStatus::BadTagName);
    EXPECT_EQ(index->addTag(TagSpec{"1ST", "NAME", "", TagUniqueness::kNone, false}, &msg),
              CdxStatus::BadTagName);
    EXPECT_EQ(index->addTag(TagSpec{"T", "NAME +", "", TagUniqueness::kNone, false}, &msg),
              CdxStatus::BadExpression);
    EXPECT_EQ(index->addTag(TagSpec{"T", "NOSUCH", "", TagUniqueness::kNone, false}, &msg),
              CdxStatus::BadExpression);
    EXPECT_EQ(index->addTag(TagSpec{"T", "NAME", "AMOUNT", TagUniqueness::kNone, false}, &msg),
              CdxStatus::BadExpression);
    EXPECT_EQ(index->addTag(TagSpec{"T", "NAME", "", static_cast<TagUniqueness>(7), false}, &msg),
              CdxStatus::BadExpression);
    EXPECT_EQ(index->addTag(
                  TagSpec{"T", "NOTE+NOTE+NOTE+NOTE+NAME", "", TagUniqueness::kNone, false}, &msg),
              CdxStatus::KeyTooLong);
    EXPECT_EQ(index->addTag(TagSpec{"T", "NAME", "", TagUniqueness::kNone, false}, &msg),
              CdxStatus::Ok);
    EXPECT_EQ(index->addTag(TagSpec{"t", "CODE", "", TagUniqueness::kNone, false}, &msg),
              CdxStatus::DuplicateTag);
    EXPECT_EQ(index->tagCount(), 1u);
}

TEST_F(CdxIndexTest, ReopensFromDiskWithTagsInCreationOrder) {
    const auto path = std::filesystem::temp_directory_path() / "kes04_index_reopen.cdx";
    {
        CdxStatus s;
        index = CdxIndex::create(StdioPageStore::open(path, true), records.layout(), &s);
        ASSERT_EQ(s, CdxStatus::Ok);
        addTag("ZED", "NAME", ".NOT. DELETED()", TagUniqueness::kContinue);
        addTag("ALPHA", "AMOUNT", "", TagUniqueness::kRefuse, true);
        for (int i = 0; i < 500; ++i)
            ASSERT_EQ(append(records.make("n" + std::to_string(i), "c", i)), CdxStatus::Ok);
        ASSERT_EQ(index->flush(), CdxStatus::Ok);
        index.reset();
    }
    CdxStatus s;
    std::string msg;
    index = CdxIndex::open(StdioPageStore::open(path, false), records.layout(), &s, &msg);
    ASSERT_EQ(s, CdxStatus::Ok) << msg;
    ASSERT_EQ(index->tagCount(), 2u);
    EXPECT_EQ(index->tag(0).name(), "ZED");
    EXPECT_EQ(index->tag(0).forExpression(), ".NOT. DELETED()");
    EXPECT_EQ(index->tag(0).uniqueness(), TagUniqueness::kContinue);
    EXPECT_EQ(index->tag(1).name(), "ALPHA");
    EXPECT_EQ(index->tag(1).uniqueness(), TagUniqueness::kRefuse);
    EXPECT_TRUE(index->tag(1).descending());
    EXPECT_EQ(walk(index->tag(1)).front(), 500u);
    expectSound();
    index.reset();
    std::filesystem::remove(path);
}

TEST_F(CdxIndexTest, TagExpressionThatNoLongerFitsTheTableIsAnOpenError) {
    addTag("NAME", "UPPER(NAME)");
    ASSERT_EQ(index->flush(), CdxStatus::Ok);
    auto bytes = static_cast<MemoryPageStore&>(index->store()).bytes();
    RecordLayout other = records.layout();
    other.fields[0].name = "FULLNAME";
    CdxStatus s;
    std::string msg;
    EXPECT_EQ(CdxIndex::open(std::make_unique<MemoryPageStore>(bytes), other, &s, &msg), nullptr);
    EXPECT_EQ(s, CdxStatus::BadExpression);
    EXPECT_NE(msg.find("NAME"), std::string::npos);
}

TEST_F(CdxIndexTest, OtherCollationsOpenButRefuseChanges) {
    addTag("NAME", "NAME");
    ASSERT_EQ(append(records.make("a", "1", 0)), CdxStatus::Ok);
    ASSERT_EQ(index->flush(), CdxStatus::Ok);
    auto bytes = static_cast<MemoryPageStore&>(index->store()).bytes();
    const uint32_t header = index->tag(0).headerOffset();
    std::memcpy(bytes.data() + header + 494, "GENERAL", 7);
    CdxStatus s;
    index = CdxIndex::open(std::make_unique<MemoryPageStore>(bytes), records.layout(), &s);
    ASSERT_EQ(s, CdxStatus::Ok);
    EXPECT_FALSE(index->tag(0).writable());
    EXPECT_EQ(walk(index->tag(0)), (std::vector<uint32_t>{1}));
    EXPECT_EQ(append(records.make("b", "2", 0)), CdxStatus::ReadOnlyTag);
}

TEST_F(CdxIndexTest, CursorSurvivesChangesToTheTree) {
    CdxTag& tag = addTag("NAME", "NAME");
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(append(records.make("k" + std::to_string(1000 + i), "", 0)), CdxStatus::Ok);
    CdxCursor c;
    bool found;
    ASSERT_EQ(index->seek(tag, "k1100", c, found), CdxStatus::Ok);
    ASSERT_TRUE(found);
    // Remove the current record's entry and the one after it, then step on.
    for (uint32_t r : {101u, 102u}) {
        std::vector<uint8_t> row = table.rows[r - 1];
        records.set(row, "NAME", "zz");
        ASSERT_EQ(change(r, row), CdxStatus::Ok);
    }
    ASSERT_EQ(index->next(tag, c), CdxStatus::Ok);
    EXPECT_EQ(c.record, 103u);
    ASSERT_EQ(index->prev(tag, c), CdxStatus::Ok);
    EXPECT_EQ(c.record, 100u);
}

}  // namespace
}  // namespace tavrel::kes04::cdx
