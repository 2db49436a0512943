// Shared use: two processes append to one table at the same time; locks keep
// writers apart.
#include <gtest/gtest.h>

#include <cerrno>
#include <set>

#include "components/kes04/index/cdx_table_index.h"
#include "platform/byte_order.h"
#include "platform/random_access_file.h"
#include "test_support.h"

namespace tavrel::kes04 {
namespace {

using namespace testing;

const std::vector<FieldSpec> kFields = {
    {"ID", 'C', 12, 0}, {"N", 'N', 6, 0}, {"NOTES", 'M', 10, 0}};

std::string expectedMemo(const std::string& id, int i) {
    return id + std::string(size_t(i % 500), char('a' + i % 26));
}

// Runs with both lock schemes: the FoxPro 2.x one (header byte 0x40000000)
// and the one of tables with a structural index (header byte 0x7FFFFFFE).
class SharedAppend : public ::testing::TestWithParam<bool> {};

TEST_P(SharedAppend, TwoProcessesAppendingAtOnceLoseNothing) {
    TempDir dir;
    if (GetParam()) {
        // A table with a structural index (flag 0x01): the helpers keep its tag up to date.
        setIndexFactory(&cdx::CdxTableIndex::factory);
        std::unique_ptr<Table> table;
        std::string detail;
        const std::vector<TagSpec> tags = {{"ID", "ID", "", TagUniqueness::kNone, false}};
        ASSERT_EQ(
            Table::create(dir / "SHARED", kFields, tags, false, sharedAccess(), &table, &detail), 0)
            << detail;
        table->close();
        setIndexFactory(nullptr);
    } else {
        createTable(dir / "SHARED", kFields, sharedAccess())->close();
    }
    const std::string helper =
        binDir() + "/kes04_append_helper " + binDir() + "/KES04.DLL " + (dir / "SHARED").string();
    const int count = 5000;
    int status = -1;
    std::string out =
        run("(" + helper + " A " + std::to_string(count) + " & a=$!; " + helper + " B " +
                std::to_string(count) + " & b=$!; wait $a; ra=$?; wait $b; echo $ra $?)",
            &status);
    ASSERT_EQ(out, "0 0\n");

    auto t = openTable(dir / "SHARED", sharedAccess());
    ASSERT_TRUE(t);
    ASSERT_EQ(t->recordCount(), uint32_t(2 * count));
    std::set<std::string> seen;
    std::set<uint32_t> blocks;
    int lastA = -1, lastB = -1;
    for (int rc = t->top(); rc == 0; rc = t->skip(1)) {
        const std::string id = text(*t, "ID");
        ASSERT_TRUE(seen.insert(id).second) << "twice: " << id;
        const int i = std::stoi(id.substr(2));
        EXPECT_EQ(text(*t, "N"), std::to_string(i));
        ASSERT_EQ(text(*t, "NOTES"), expectedMemo(id, i)) << id;
        uint32_t block = 0;
        ASSERT_TRUE(memoBlock(t->layout().fields[2], t->record(), &block));
        EXPECT_TRUE(blocks.insert(block).second) << "two memos share block " << block;
        // Each process's records keep their own order.
        int& last = id[0] == 'A' ? lastA : lastB;
        EXPECT_EQ(i, last + 1);
        last = i;
    }
    EXPECT_EQ(seen.size(), size_t(2 * count));
    t->close();

    // The files end exactly where their headers say.
    const std::string dbf = readBytes(dir / "SHARED.DBF");
    const uint8_t* p = reinterpret_cast<const uint8_t*>(dbf.data());
    EXPECT_EQ(dbf.size(),
              platform::loadLE16(p + 8) + size_t(2 * count) * platform::loadLE16(p + 10) + 1);
    EXPECT_EQ(dbf.back(), '\x1A');
    EXPECT_EQ(uint8_t(dbf[28]), GetParam() ? 0x01 : 0x00);
    const std::string fpt = readBytes(dir / "SHARED.FPT");
    const uint8_t* m = reinterpret_cast<const uint8_t*>(fpt.data());
    EXPECT_EQ(size_t(platform::loadBE32(m)) * platform::loadBE16(m + 6), fpt.size());
}

INSTANTIATE_TEST_SUITE_P(LockSchemes, SharedAppend, ::testing::Bool(), [](const auto& info) {
    return info.param ? "IndexedTable" : "PlainTable";
});

TEST(SharedLocks, ARecordLockedByOneWriterHoldsOffAnother) {
    TempDir dir;
    {
        auto t = createTable(dir / "L", kFields, sharedAccess());
        ASSERT_EQ(t->appendBlank(), 0);
        ASSERT_EQ(t->appendBlank(), 0);
        t->close();
    }
    TableOptions impatient = sharedAccess();
    impatient.lockWait = std::chrono::milliseconds(50);
    auto first = openTable(dir / "L", sharedAccess());
    auto second = openTable(dir / "L", impatient);
    ASSERT_TRUE(first && second);
    ASSERT_EQ(first->go(1, true), 0);  // locked for writing
    ASSERT_EQ(second->go(1, false), 0);
    ASSERT_EQ(assign(*second, "ID", "theirs"), 0);
    EXPECT_EQ(second->flush(), code(EngineCode::kLocked));
    // The change stays pending: the table does not move away from it.
    EXPECT_EQ(second->go(2, false), code(EngineCode::kLocked));
    EXPECT_EQ(second->recno(), 1u);
    // Appends take the header lock and see records the other writer added.
    ASSERT_EQ(first->appendBlank(), 0);
    EXPECT_EQ(first->recno(), 3u);
    ASSERT_EQ(first->unlock(), 0);
    EXPECT_EQ(second->flush(), 0) << second->lastDetail();
    ASSERT_EQ(second->appendBlank(), 0);
    EXPECT_EQ(second->recno(), 4u);
    EXPECT_EQ(first->recordCount(), 4u);
    ASSERT_EQ(first->go(1, false), 0);
    EXPECT_EQ(text(*first, "ID"), "theirs");
}

TEST(SharedLocks, AnAppendedRecordThatCannotBeLockedIsReported) {
    TempDir dir;
    {
        auto t = createTable(dir / "L", kFields, sharedAccess());
        ASSERT_EQ(t->appendBlank(), 0);
        t->close();
    }
    // Another program already holds the lock byte of record 2 (FoxPro 2.x scheme).
    const std::string header = readBytes(dir / "L.DBF");
    const uint64_t headerLength =
        platform::loadLE16(reinterpret_cast<const uint8_t*>(header.data()) + 8);
    const uint64_t recordLength =
        platform::loadLE16(reinterpret_cast<const uint8_t*>(header.data()) + 10);
    int err = 0;
    auto other = platform::RandomAccessFile::open(
        dir / "L.DBF", platform::RandomAccessFile::OpenMode::kReadWrite, &err);
    ASSERT_TRUE(other);
    ASSERT_EQ(other->lock(0x40000000 + headerLength + recordLength, 1,
                          platform::RandomAccessFile::LockKind::kExclusive),
              0);
    TableOptions impatient = sharedAccess();
    impatient.lockWait = std::chrono::milliseconds(50);
    auto t = openTable(dir / "L", impatient);
    ASSERT_TRUE(t);
    ASSERT_EQ(t->appendStart(false), 0);
    ASSERT_EQ(t->blank(), 0);
    ASSERT_EQ(assign(*t, "ID", "second"), 0);
    EXPECT_EQ(t->append(), code(EngineCode::kLocked));
    // The record was written all the same, and is the current one.
    EXPECT_EQ(t->recno(), 2u);
    EXPECT_EQ(t->recordCount(), 2u);
    EXPECT_EQ(text(*t, "ID"), "second");
    other->unlock(0x40000000 + headerLength + recordLength, 1);
    EXPECT_EQ(t->appendBlank(), 0);
    EXPECT_EQ(t->recno(), 3u);
}

// Another FoxPro-family program holds the lock bytes of the documented
// schemes: our writers must wait for exactly those bytes.
TEST_P(SharedAppend, WritersWaitForTheFoxProLockBytes) {
    using platform::RandomAccessFile;
    TempDir dir;
    createTable(dir / "F", kFields, sharedAccess())->close();
    std::string dbf = readBytes(dir / "F.DBF");
    if (GetParam()) dbf[28] = char(0x01);
    writeBytes(dir / "F.DBF", dbf);
    const uint64_t headerLength = 32 + 3 * 32 + 1, recordLength = 1 + 12 + 6 + 10;
    const uint64_t headerByte = GetParam() ? 0x7FFFFFFE : 0x40000000;
    const uint64_t record1Byte = GetParam() ? 0x7FFFFFFD : 0x40000000 + headerLength;
    const uint64_t record2Byte = GetParam() ? 0x7FFFFFFC : 0x40000000 + headerLength + recordLength;
    auto other = RandomAccessFile::open(dir / "F.DBF", RandomAccessFile::OpenMode::kReadWrite);
    ASSERT_TRUE(other);
    TableOptions impatient = sharedAccess();
    impatient.lockWait = std::chrono::milliseconds(30);
    auto t = openTable(dir / "F", impatient);
    ASSERT_TRUE(t);

    ASSERT_EQ(other->lock(headerByte, 1, RandomAccessFile::LockKind::kExclusive), 0);
    EXPECT_EQ(t->appendBlank(), code(EngineCode::kLocked));
    EXPECT_EQ(t->recordCount(), 0u);
    ASSERT_EQ(other->unlock(headerByte, 1), 0);
    ASSERT_EQ(t->appendBlank(), 0);
    ASSERT_EQ(t->appendBlank(), 0);
    ASSERT_EQ(t->unlock(), 0);

    ASSERT_EQ(other->lock(record1Byte, 1, RandomAccessFile::LockKind::kExclusive), 0);
    EXPECT_EQ(t->go(1, true), code(EngineCode::kLocked));
    EXPECT_EQ(t->go(2, true), 0);  // its neighbour is free
    ASSERT_EQ(t->unlock(), 0);
    // And the engine's own record lock sits where the other program looks.
    ASSERT_EQ(other->unlock(record1Byte, 1), 0);
    ASSERT_EQ(t->go(2, true), 0);
    EXPECT_EQ(other->lock(record2Byte, 1, RandomAccessFile::LockKind::kExclusive), EAGAIN);
    ASSERT_EQ(t->unlock(), 0);
    EXPECT_EQ(other->lock(record2Byte, 1, RandomAccessFile::LockKind::kExclusive), 0);
}

}  // namespace
}  // namespace tavrel::kes04
