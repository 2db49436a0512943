// Exclusive appends in batches of bounded size: full batches spilled to the
// file as sorted runs and merged into the tags, each tag checked against a
// rebuild of the same records; failed writes and reads on the way.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "components/kes04/index/cdx_index.h"
#include "components/kes04/index/cdx_table_index.h"
#include "components/kes04/index/tests/table_support.h"
#include "components/kes04/index/tests/test_table.h"

namespace tavrel::kes04::cdx {
namespace {

using testing::MemorySource;
using testing::Records;
using testing::sampleLayout;
using Entry = std::pair<std::string, uint32_t>;

// A store in memory whose writes or reads fail while the matching flag is set.
class FailingStore final : public PageStore {
  public:
    bool failWrites = false;
    bool failReads = false;
    bool read(uint64_t offset, uint8_t* out, size_t count) override {
        return !failReads && m_bytes.read(offset, out, count);
    }
    bool write(uint64_t offset, const uint8_t* data, size_t count) override {
        return !failWrites && m_bytes.write(offset, data, count);
    }
    uint64_t size() override { return m_bytes.size(); }
    bool truncate(uint64_t size) override { return m_bytes.truncate(size); }
    std::vector<uint8_t>& bytes() { return m_bytes.bytes(); }

  private:
    MemoryPageStore m_bytes;
};

enum class KeyOrder { Random, Descending };

class AppendBatchTest : public ::testing::Test {
  protected:
    Records records{sampleLayout()};
    MemorySource table;
    std::unique_ptr<CdxIndex> index;
    FailingStore* store = nullptr;  // owned by `index`
    std::mt19937 rng{11};

    void SetUp() override {
        table.rows.clear();
        auto s = std::make_unique<FailingStore>();
        store = s.get();
        CdxStatus status;
        index = CdxIndex::create(std::move(s), records.layout(), &status);
        ASSERT_EQ(status, CdxStatus::Ok);
        // Plain tags take deferred appends; CODE (uniqueness 25) takes them at once.
        for (const TagSpec& t :
             {TagSpec{"NAME", "UPPER(NAME)", "", TagUniqueness::kNone, false},
              TagSpec{"BACK", "AMOUNT", "", TagUniqueness::kNone, true},
              TagSpec{"LONGKEY", "NOTE + NAME", "AMOUNT > 0", TagUniqueness::kNone, false},
              TagSpec{"DAYCODE", "DTOS(DAY) + CODE", "", TagUniqueness::kNone, false},
              TagSpec{"CODE", "CODE", "", TagUniqueness::kContinue, false}}) {
            std::string msg;
            ASSERT_EQ(index->addTag(t, &msg), CdxStatus::Ok) << msg;
        }
        ASSERT_EQ(index->flush(), CdxStatus::Ok);
        index->setDeferAppends(true);
    }

    // Record `i` of `count`: in Descending order every key falls as i grows.
    std::vector<uint8_t> row(int i, int count, KeyOrder order) {
        const int v = order == KeyOrder::Descending ? (count - i) * 7 : int(rng() % 900000);
        char name[24], day[16], code[8];
        std::snprintf(name, sizeof name, "%c%07d", 'a' + v % 26, v);
        std::snprintf(day, sizeof day, "%04d%02d%02d", 1990 + v / 5000 % 40, 1 + v / 400 % 12,
                      1 + v % 28);
        std::snprintf(code, sizeof code, "%04d", v % 10000);
        std::vector<uint8_t> r = records.make(name, code, double(v % 20000 - 5000) / 4, day);
        records.set(r, "NOTE", std::string(size_t(v % 50), char('a' + v % 3)));
        return r;
    }
    CdxStatus append(std::vector<uint8_t> r) {
        const CdxStatus s = index->applyChange(uint32_t(table.rows.size() + 1), {}, r);
        if (s == CdxStatus::Ok) table.rows.push_back(std::move(r));
        return s;
    }
    void appendRows(int count, KeyOrder order) {
        for (int i = 0; i < count; ++i) ASSERT_EQ(append(row(i, count, order)), CdxStatus::Ok);
    }
    // Appends until NAME, the first tag, has two runs and returns the offset
    // of the second run's first page: NAME spills first, so that run starts
    // where the file ended before the append.
    uint32_t secondRunOfName() {
        CdxTag& name = *index->findTag("NAME");
        uint64_t end = 0;
        for (int i = 0; i < 5000 && name.spilledRuns() < 2; ++i) {
            end = store->size();
            EXPECT_EQ(append(row(i, 5000, KeyOrder::Random)), CdxStatus::Ok);
        }
        EXPECT_EQ(name.spilledRuns(), 2u);
        return uint32_t((end + kPageSize - 1) / kPageSize * kPageSize);
    }
    std::vector<Entry> entries(CdxTag& tag) {
        std::vector<Entry> out;
        CdxCursor c;
        EXPECT_EQ(index->first(tag, c), CdxStatus::Ok) << index->lastError();
        while (c.valid && out.size() <= table.rows.size()) {
            out.emplace_back(c.key, c.record);
            EXPECT_EQ(index->next(tag, c), CdxStatus::Ok) << index->lastError();
        }
        return out;
    }
    std::vector<std::vector<Entry>> allEntries() {
        std::vector<std::vector<Entry>> all;
        for (size_t i = 0; i < index->tagCount(); ++i) all.push_back(entries(index->tag(i)));
        return all;
    }
    size_t runs() {
        size_t n = 0;
        for (size_t i = 0; i < index->tagCount(); ++i) n += index->tag(i).spilledRuns();
        return n;
    }
    void expectSound() {
        std::vector<std::string> problems;
        EXPECT_EQ(index->checkData(table, problems), CdxStatus::Ok);
        for (const auto& p : problems) ADD_FAILURE() << p;
    }
    // Flushed, checked, then every tag in the same order as after a rebuild.
    void expectLikeARebuild() {
        ASSERT_EQ(index->flush(), CdxStatus::Ok) << index->lastError();
        EXPECT_EQ(runs(), 0u);
        expectSound();
        const auto merged = allEntries();
        ASSERT_EQ(index->reindex(table), CdxStatus::Ok);
        const auto rebuilt = allEntries();
        ASSERT_EQ(merged.size(), rebuilt.size());
        for (size_t i = 0; i < merged.size(); ++i)
            EXPECT_TRUE(merged[i] == rebuilt[i]) << "tag " << index->tag(i).name();
        expectSound();
    }
};

TEST_F(AppendBatchTest, RandomAndDescendingKeysSpilledManyTimesMatchARebuild) {
    for (const KeyOrder order : {KeyOrder::Random, KeyOrder::Descending}) {
        SetUp();
        index->setAppendBatchBytes(4096);
        appendRows(6000, order);
        // LONGKEY's entries take up to 84 bytes: dozens of runs for it alone.
        EXPECT_GT(index->findTag("LONGKEY")->spilledRuns(), 20u);
        EXPECT_GT(index->findTag("BACK")->spilledRuns(), 10u);
        EXPECT_EQ(index->findTag("CODE")->spilledRuns(), 0u);
        expectLikeARebuild();
        if (HasFailure()) return;
    }
}

TEST_F(AppendBatchTest, PendingBytesStayWithinTheDefaultBatch) {
    // Enough records to fill LONGKEY's batch several times over.
    constexpr size_t kLimit = CdxIndex::kAppendBatchBytes;
    CdxTag& longKey = *index->findTag("LONGKEY");
    size_t most = 0;
    for (int i = 0; i < 60000; ++i) {
        ASSERT_EQ(append(row(i, 60000, KeyOrder::Random)), CdxStatus::Ok);
        for (size_t t = 0; t < index->tagCount(); ++t) {
            ASSERT_LE(index->tag(t).pendingBytes(), kLimit) << index->tag(t).name();
            most = std::max(most, index->tag(t).pendingBytes());
        }
    }
    EXPECT_GT(most, kLimit - 100);  // the batches did fill
    EXPECT_GE(longKey.spilledRuns(), 3u);
    ASSERT_EQ(index->flush(), CdxStatus::Ok);
    for (size_t t = 0; t < index->tagCount(); ++t) {
        EXPECT_EQ(index->tag(t).pendingBytes(), 0u);
        EXPECT_EQ(index->tag(t).spilledRuns(), 0u);
    }
    expectLikeARebuild();
}

TEST_F(AppendBatchTest, MergedTreeTakesThePagesOfItsRuns) {
    index->setAppendBatchBytes(size_t(64) << 10);
    appendRows(20000, KeyOrder::Random);
    ASSERT_GT(runs(), 8u);
    const uint64_t withRuns = store->size();
    ASSERT_EQ(index->flush(), CdxStatus::Ok);
    const uint64_t merged = store->size();
    ASSERT_EQ(index->reindex(table), CdxStatus::Ok);
    const uint64_t rebuilt = store->size();
    // The runs hold about the trees' worth of pages (a little more: short
    // runs compress less); the merged trees go there, not after them.
    EXPECT_LT(merged, withRuns + withRuns / 10);
    EXPECT_LT(merged, rebuilt + rebuilt / 4);
}

TEST_F(AppendBatchTest, AppendsToTagsWithEntriesMergeEntryByEntry) {
    // Trees of thousands of pages, so that the merge sheds cached pages on its way.
    appendRows(20000, KeyOrder::Random);
    ASSERT_EQ(index->flush(), CdxStatus::Ok);
    index->setAppendBatchBytes(size_t(32) << 10);
    for (const KeyOrder order : {KeyOrder::Descending, KeyOrder::Random}) appendRows(10000, order);
    EXPECT_GT(runs(), 50u);
    expectLikeARebuild();
}

TEST_F(AppendBatchTest, ReadsAndChangesBetweenAppendsMergeTheRunsFirst) {
    index->setAppendBatchBytes(2048);
    appendRows(2000, KeyOrder::Descending);
    ASSERT_GT(index->findTag("NAME")->spilledRuns(), 0u);
    // A walk of one tag merges that tag's runs; the others keep theirs.
    EXPECT_EQ(entries(*index->findTag("NAME")).size(), 2000u);
    EXPECT_EQ(index->findTag("NAME")->spilledRuns(), 0u);
    EXPECT_GT(index->findTag("LONGKEY")->spilledRuns(), 0u);
    // A record change merges the runs of every tag whose key it may move.
    std::vector<uint8_t> changed = table.rows[10];
    records.set(changed, "NOTE", "changed");
    ASSERT_EQ(index->applyChange(11, table.rows[10], changed), CdxStatus::Ok);
    table.rows[10] = changed;
    EXPECT_EQ(index->findTag("LONGKEY")->spilledRuns(), 0u);
    appendRows(3000, KeyOrder::Random);  // now into trees with entries
    expectLikeARebuild();
}

TEST_F(AppendBatchTest, AFailedSpillLeavesTheRecordOutOfEveryTag) {
    index->setAppendBatchBytes(2048);
    int refused = 0;
    for (int i = 0; i < 3000; ++i) {
        store->failWrites = i % 700 >= 650;  // now and then the disk is full for a while
        const CdxStatus s = append(row(i, 3000, KeyOrder::Random));
        if (s != CdxStatus::Ok) {
            ASSERT_EQ(s, CdxStatus::Io);
            ++refused;
        }
    }
    store->failWrites = false;
    EXPECT_GT(refused, 0);
    EXPECT_LT(table.rows.size(), 3000u);
    expectLikeARebuild();
}

TEST_F(AppendBatchTest, AFailedMergeIsReportedUntilARebuild) {
    index->setAppendBatchBytes(2048);
    appendRows(2000, KeyOrder::Random);
    ASSERT_GT(runs(), 0u);
    store->failReads = true;
    EXPECT_NE(index->flush(), CdxStatus::Ok);
    store->failReads = false;
    // The entries of the runs are gone; every flush says so.
    EXPECT_EQ(index->flush(), CdxStatus::Corrupt);
    EXPECT_NE(index->lastError().find("rebuild"), std::string::npos) << index->lastError();
    EXPECT_EQ(index->flush(), CdxStatus::Corrupt);
    ASSERT_EQ(index->reindex(table), CdxStatus::Ok);
    EXPECT_EQ(index->flush(), CdxStatus::Ok);
    expectSound();
}

TEST_F(AppendBatchTest, DamagedRunPageIsCorruptionNotAWrongTree) {
    index->setAppendBatchBytes(2048);
    CdxTag& name = *index->findTag("NAME");
    const uint32_t page = secondRunOfName();
    // The first key is stored at the page's end, 8 bytes (the rest pads):
    // make it larger than every key after it.
    store->bytes()[page + kPageSize - 8] = 0xFF;
    CdxCursor c;
    EXPECT_EQ(index->first(name, c), CdxStatus::Corrupt);
    EXPECT_NE(
        index->lastError().find("appended entries at " + std::to_string(page) + " out of order"),
        std::string::npos)
        << index->lastError();
    EXPECT_EQ(index->flush(), CdxStatus::Corrupt);
}

TEST_F(AppendBatchTest, RunPageThatIsNotALeafIsCorruption) {
    index->setAppendBatchBytes(2048);
    const uint32_t page = secondRunOfName();
    store->bytes()[page + 2] = 0xFF;  // a key count past the page
    store->bytes()[page + 3] = 0xFF;
    EXPECT_EQ(index->flush(), CdxStatus::Corrupt);
    EXPECT_NE(index->lastError().find("appended entries at " + std::to_string(page)),
              std::string::npos)
        << index->lastError();
    ASSERT_EQ(index->reindex(table), CdxStatus::Ok);
    expectSound();
}

// Through a real table and its .CDX on disk: appends in exclusive use that
// spill, the table closed and opened again, the tags checked and in the same
// order as after a rebuild.
TEST(AppendBatchTable, ExclusiveAppendsOnDiskCheckAndMatchARebuild) {
    using testing::access;
    using testing::assignField;
    setIndexFactory(&CdxTableIndex::factory);
    testing::TempFolder dir;
    const std::vector<FieldSpec> fields = {{"ID", 'C', 12, 0}, {"SEQ", 'N', 8, 0}};
    const std::vector<kes04::TagSpec> tags = {
        {"ID", "UPPER(ID)", "", TagUniqueness::kNone, false},
        {"SEQ_BACK", "SEQ", "", TagUniqueness::kNone, true},
        {"ODD", "ID + STR(SEQ, 8)", "VAL(RIGHT(STR(SEQ, 8), 1)) < 5", TagUniqueness::kNone, false}};
    std::unique_ptr<Table> table;
    std::string detail;
    ASSERT_EQ(Table::create(dir / "ITEMS", fields, tags, false, access(AccessMode::kDenyRW), &table,
                            &detail),
              0)
        << detail;
    auto& index = *static_cast<CdxTableIndex*>(table->index());
    index.index().setAppendBatchBytes(4096);
    std::mt19937 rng(3);
    constexpr int kCount = 20000;
    for (int i = 0; i < kCount; ++i) {
        const int seq = i < kCount / 2 ? kCount - i : int(rng() % 100000);  // falling, then random
        ASSERT_EQ(table->appendStart(false), 0);
        ASSERT_EQ(assignField(*table, "ID", "k" + std::to_string(seq * 7919 % 100003)), 0);
        ASSERT_EQ(assignField(*table, "SEQ", std::to_string(seq)), 0);
        ASSERT_EQ(table->append(), 0);
    }
    EXPECT_GT(index.findTag("ID")->spilledRuns(), 10u);
    ASSERT_EQ(table->close(), 0);
    table.reset();

    ASSERT_EQ(Table::open(dir / "ITEMS", access(AccessMode::kDenyRW), &table, &detail), 0)
        << detail;
    auto& reopened = *static_cast<CdxTableIndex*>(table->index());
    std::vector<std::string> problems;
    EXPECT_EQ(reopened.check(problems), 0);
    for (const auto& p : problems) ADD_FAILURE() << p;
    auto orders = [&] {
        std::vector<std::vector<uint32_t>> all;
        for (const char* name : {"ID", "SEQ_BACK", "ODD"}) {
            reopened.select(reopened.findTag(name));
            std::vector<uint32_t> order;
            for (int rc = table->top(); rc == 0 && !table->eof() && order.size() <= kCount;
                 rc = table->skip(1))
                order.push_back(table->recno());
            all.push_back(std::move(order));
        }
        reopened.select(nullptr);
        return all;
    };
    const auto merged = orders();
    EXPECT_EQ(merged[0].size(), size_t(kCount));
    ASSERT_EQ(reopened.reindex(), 0);
    EXPECT_TRUE(orders() == merged);
    EXPECT_EQ(reopened.check(problems), 0);
}

// Deny-write use defers appends too but locks and refreshes around every
// call: the pages a seek's merge adds stay unwritten until the flush, and
// the next refresh must not take them for another process's change.
TEST(AppendBatchTable, DenyWriteSeeksBetweenAppendsKeepEveryEntry) {
    using testing::access;
    using testing::assignField;
    setIndexFactory(&CdxTableIndex::factory);
    for (const size_t batch : {size_t(0), size_t(2048)}) {
        testing::TempFolder dir;
        const std::vector<FieldSpec> fields = {{"ID", 'C', 12, 0}};
        const std::vector<kes04::TagSpec> tags = {{"ID", "ID", "", TagUniqueness::kNone, false}};
        std::unique_ptr<Table> table;
        std::string detail;
        ASSERT_EQ(Table::create(dir / "SEEN", fields, tags, false, access(AccessMode::kDenyWrite),
                                &table, &detail),
                  0)
            << detail;
        auto& index = *static_cast<CdxTableIndex*>(table->index());
        if (batch) index.index().setAppendBatchBytes(batch);
        index.select(index.findTag("ID"));
        for (int i = 0; i < 3000; ++i) {
            const std::string id = "k" + std::to_string(i * 7919 % 10007);
            ASSERT_EQ(table->appendStart(false), 0);
            ASSERT_EQ(assignField(*table, "ID", id), 0);
            ASSERT_EQ(table->append(), 0);
            if (i % 500 != 499) continue;
            uint32_t recno = 0;
            ASSERT_EQ(index.seek(id, &recno), 0);
            EXPECT_EQ(recno, uint32_t(i + 1));
        }
        std::vector<std::string> problems;
        EXPECT_EQ(index.check(problems), 0) << "batch " << batch;
        for (const auto& p : problems) ADD_FAILURE() << p;
        ASSERT_EQ(table->close(), 0);
    }
}

}  // namespace
}  // namespace tavrel::kes04::cdx
