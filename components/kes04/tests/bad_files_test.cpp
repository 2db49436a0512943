// Damaged tables and memo files give an error code and a clean close.
#include <gtest/gtest.h>

#include "platform/byte_order.h"
#include "test_support.h"

namespace tavrel::kes04 {
namespace {

using namespace testing;

class BadFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        auto t = createTable(dir / "GOOD", {{"NAME", 'C', 8, 0}, {"NOTES", 'M', 10, 0}});
        for (const char* memo : {"first memo", "second"}) {
            ASSERT_EQ(t->appendStart(false), 0);
            ASSERT_EQ(assign(*t, "NAME", "x"), 0);
            ASSERT_EQ(assign(*t, "NOTES", memo), 0);
            ASSERT_EQ(t->append(), 0);
        }
        ASSERT_EQ(t->close(), 0);
        dbf = readBytes(dir / "GOOD.DBF");
        fpt = readBytes(dir / "GOOD.FPT");
    }

    // Writes the (damaged) pair as BAD.DBF/BAD.FPT and opens it.
    int open(std::string* detail = nullptr) {
        writeBytes(dir / "BAD.DBF", dbf);
        writeBytes(dir / "BAD.FPT", fpt);
        int rc = -1;
        table = openTable(dir / "BAD", exclusive(), &rc, detail);
        return rc;
    }
    void put32(std::string& bytes, size_t at, uint32_t v) {
        platform::storeLE32(reinterpret_cast<uint8_t*>(bytes.data()) + at, v);
    }
    void putBE32(std::string& bytes, size_t at, uint32_t v) {
        platform::storeBE32(reinterpret_cast<uint8_t*>(bytes.data()) + at, v);
    }

    static constexpr size_t kFirstRecord = 32 + 2 * 32 + 1;
    static constexpr size_t kMemoPointer = kFirstRecord + 1 + 8;
    TempDir dir;
    std::string dbf, fpt;
    std::unique_ptr<Table> table;
};

TEST_F(BadFiles, TruncatedHeaderIsRefused) {
    std::string detail;
    dbf.resize(20);
    EXPECT_EQ(open(&detail), code(EngineCode::kErrData));
    EXPECT_NE(detail.find("shorter than the 32-byte table header"), std::string::npos) << detail;
    dbf = "";
    EXPECT_EQ(open(), code(EngineCode::kErrData));
}

TEST_F(BadFiles, HeaderCutInsideTheFieldDescriptorsIsRefused) {
    dbf.resize(50);
    EXPECT_EQ(open(), code(EngineCode::kErrData));
}

TEST_F(BadFiles, RecordCountBeyondTheFileIsRefused) {
    std::string detail;
    put32(dbf, 4, 3);
    EXPECT_EQ(open(&detail), code(EngineCode::kErrData));
    EXPECT_NE(detail.find("record count 3"), std::string::npos) << detail;
    put32(dbf, 4, 0xFFFFFFFF);
    EXPECT_EQ(open(), code(EngineCode::kErrData));
}

TEST_F(BadFiles, FieldDescriptorsWithoutTerminatorAreRefused) {
    std::string detail;
    dbf[kFirstRecord - 1] = 'X';  // the 0x0D
    EXPECT_EQ(open(&detail), code(EngineCode::kErrData));
    EXPECT_NE(detail.find("terminator"), std::string::npos) << detail;
}

TEST_F(BadFiles, ImpossibleHeaderValuesAreRefused) {
    std::string original = dbf;
    dbf[0] = char(0x42);  // not a table version
    EXPECT_EQ(open(), code(EngineCode::kErrData));
    dbf = original;
    dbf[8] = 10, dbf[9] = 0;  // header length 10
    EXPECT_EQ(open(), code(EngineCode::kErrData));
    dbf = original;
    dbf[10] = 5, dbf[11] = 0;  // record shorter than its fields
    EXPECT_EQ(open(), code(EngineCode::kErrData));
    dbf = original;
    dbf[32 + 16] = 0;  // field of length 0
    EXPECT_EQ(open(), code(EngineCode::kErrData));
    dbf = original;
    dbf[32] = 0;  // field without a name
    EXPECT_EQ(open(), code(EngineCode::kErrData));
}

TEST_F(BadFiles, ZeroMemoBlockSizeIsRefused) {
    std::string detail;
    fpt[6] = 0, fpt[7] = 0;
    EXPECT_EQ(open(&detail), code(EngineCode::kErrData));
    EXPECT_NE(detail.find("block size 0"), std::string::npos) << detail;
    fpt.resize(5);
    EXPECT_EQ(open(), code(EngineCode::kErrData));
}

TEST_F(BadFiles, MissingMemoFileIsRefused) {
    writeBytes(dir / "NOMEMO.DBF", dbf);
    int rc = 0;
    EXPECT_FALSE(openTable(dir / "NOMEMO", exclusive(), &rc));
    EXPECT_EQ(rc, code(EngineCode::kErrOpen));
}

TEST_F(BadFiles, MemoPointerPastTheEndFailsThatReadOnly) {
    dbf.replace(kMemoPointer, 10, "    999999");
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(table->top(), 0);
    const std::string* text = nullptr;
    EXPECT_EQ(table->memoText(1, &text), code(EngineCode::kErrMemoCorrupt));
    EXPECT_NE(table->lastDetail().find("outside the memo file"), std::string::npos);
    EXPECT_EQ(displayText(table->layout().fields[0], table->record()), "x");
    ASSERT_EQ(table->skip(1), 0);
    ASSERT_EQ(table->memoText(1, &text), 0);  // the next record is fine
    EXPECT_EQ(*text, "second");
    EXPECT_EQ(table->close(), 0);
}

TEST_F(BadFiles, MemoPointerIntoTheHeaderOrNotANumberFails) {
    dbf.replace(kMemoPointer, 10, "         3");  // inside the 512-byte header
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(table->top(), 0);
    const std::string* text = nullptr;
    EXPECT_EQ(table->memoText(1, &text), code(EngineCode::kErrMemoCorrupt));
    table.reset();
    dbf.replace(kMemoPointer, 10, "   12ab   ");
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(table->top(), 0);
    EXPECT_EQ(table->memoText(1, &text), code(EngineCode::kErrMemoCorrupt));
}

TEST_F(BadFiles, MemoLengthPastTheEndFails) {
    putBE32(fpt, 512 + 4, 0x7FFFFFFF);  // the first memo claims 2 GB
    ASSERT_EQ(open(), 0);
    ASSERT_EQ(table->top(), 0);
    const std::string* text = nullptr;
    EXPECT_EQ(table->memoText(1, &text), code(EngineCode::kErrMemoCorrupt));
    EXPECT_NE(table->lastDetail().find("claims 2147483647 bytes"), std::string::npos)
        << table->lastDetail();
}

TEST_F(BadFiles, ExtraBytesAfterTheRecordsAreIgnored) {
    dbf += std::string(7, 'J');  // neither a record nor the end mark
    ASSERT_EQ(open(), 0);
    EXPECT_EQ(table->recordCount(), 2u);
    EXPECT_EQ(table->skip(3), code(EngineCode::kEof));
}

}  // namespace
}  // namespace tavrel::kes04
