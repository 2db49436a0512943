#include "agent/history/conversion_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/session/tests/scratch_folder.h"
#include "platform/clock.h"

namespace tavrel::history {
namespace {

namespace fs = std::filesystem;
using platform::DateTime;
using platform::FixedClock;
using tavrel::testing::readBytes;
using tavrel::testing::ScratchFolder;
using tavrel::testing::writeBytes;
using C = ConversionLogCode;

const std::string kStars(80, '*');
const std::string kPluses(80, '+');

// The non-empty lines of an entry, as they go into the log.
std::vector<std::string> written(C code, std::string_view t1, std::string_view t2) {
    std::vector<std::string> out;
    for (const std::string& line : conversionLogLines(code, t1, t2, "D"))
        if (!line.empty()) out.push_back(line);
    return out;
}

using Lines = std::vector<std::string>;

TEST(ConversionLogLines, SeparatorEntries) {
    EXPECT_EQ(written(C::ConversionStarted, "T", ""), (Lines{kStars, "T", "Started D"}));
    EXPECT_EQ(written(C::ConversionFinished, "T", ""), (Lines{kPluses, "T", "Finished D"}));
    EXPECT_EQ(written(C::DashSeparator, "T", ""), (Lines{std::string(80, '-'), "T"}));
    EXPECT_EQ(written(C::TildeSeparator, "T", ""), (Lines{std::string(80, '~'), "T"}));
    EXPECT_EQ(written(C::CaretSeparator, "T", ""), (Lines{std::string(80, '^'), "T"}));
    // An empty text 1 leaves only the separator.
    EXPECT_EQ(written(C::DashSeparator, "", ""), (Lines{std::string(80, '-')}));
}

TEST(ConversionLogLines, TableEntriesCarryTheirExactLabels) {
    EXPECT_EQ(written(C::TableCreated, "A", ""), (Lines{"Table Create  - TableName: A"}));
    EXPECT_EQ(written(C::TableCreateFailed, "A", "B"),
              (Lines{"Table Create  - TableName: A", "Error returned - ErrorCode: B"}));
    EXPECT_EQ(written(C::CopyingData, "A", "B"),
              (Lines{"Copying Data  - Source Table: A", "Copying Data  - Target Table: B"}));
    EXPECT_EQ(written(C::RecordTotals, "A", "B"),
              (Lines{"Total Records - Source Table: A", "Total Records - Target Table: B"}));
    EXPECT_EQ(written(C::FieldTotals, "A", "B"),
              (Lines{"Total Fields  - Source Table: A", "Total Fields  - Target Table: B"}));
    EXPECT_EQ(written(C::TableMoved, "A", "B"),
              (Lines{"Table Moved - Source Table: A", "Table Moved - Target Table: B"}));
    EXPECT_EQ(written(C::TableRemoved, "A", ""), (Lines{"Table Removed -  TableName: A"}));
    EXPECT_EQ(written(C::TableMissingOnRemove, "A", ""), (Lines{"Table Missing -  TableName: A"}));
    EXPECT_EQ(written(C::TablePacked, "A", ""), (Lines{"Table Pack  - Source Table: A"}));
    EXPECT_EQ(written(C::TablesZipped, "A", ""), (Lines{"Tables Packed Into Zip File: A"}));
    EXPECT_EQ(written(C::EngineErrorCheck, "A", ""), (Lines{"Codebase Error Check Result: A"}));
    EXPECT_EQ(written(C::TableOpened, "A", ""), (Lines{"Table Opened  - TableName: A"}));
    EXPECT_EQ(written(C::TableMissing, "A", ""), (Lines{"Table Missing - TableName: A"}));
    EXPECT_EQ(written(C::TableOpenFailed, "A", "B"),
              (Lines{"Table Opened  - TableName: A", "Error Code Returned: B"}));
}

TEST(ConversionLogLines, FileAndProcessEntriesCarryTheirExactLabels) {
    EXPECT_EQ(written(C::UnzipSucceeded, "A", ""), (Lines{"Unzip Success -   ZipFile: A"}));
    EXPECT_EQ(written(C::UnzipFailed, "A", "B"),
              (Lines{"Unzip Failed  -   ZipFile: A", "Error Returned - B"}));
    EXPECT_EQ(written(C::FileChecksumFailed, "A", ""),
              (Lines{"CheckSum on File Failed - FileName: A"}));
    EXPECT_EQ(written(C::DescriptorUpdated, "A", ""), (Lines{"TABLEDES Update - TableName: A"}));
    EXPECT_EQ(written(C::DetailUpdated, "A", ""), (Lines{"TABLEDET Update - TableName: A"}));
    EXPECT_EQ(written(C::ProcessAborted, "A", ""),
              (Lines{"Process Opertion Aborted. Error Returned: A"}));
    EXPECT_EQ(written(C::MissingField, "A", ""), (Lines{"Missing Field: Field - Table: A"}));
}

TEST(ConversionLogLines, EndBlocks) {
    EXPECT_EQ(written(C::CompletedWithoutErrors, "ignored", ""),
              (Lines{kPluses, "Process Completed Without any Errors", "Finished D", kStars}));
    EXPECT_EQ(written(C::CompletedWithoutTables, "", ""),
              (Lines{kPluses, "Process Completed Without any TABLES being Updated", "Finished D",
                     kStars}));
    EXPECT_EQ(written(C::RunBefore, "", ""),
              (Lines{kPluses, "This Process Has Been run Before", "Finished D", kStars}));
    EXPECT_EQ(written(C::UpdateAborted, "E1", ""),
              (Lines{kStars, "Update Aborted due to error reported - reported Error: E1",
                     "Finished D", kStars}));
    // Other codes from 8100 up: an end block whose message is text 1.
    EXPECT_EQ(written(static_cast<C>(8500), "", ""), (Lines{kPluses, "Finished D", kStars}));
    EXPECT_EQ(written(static_cast<C>(8101), "M", "ignored"),
              (Lines{kPluses, "M", "Finished D", kStars}));
    EXPECT_EQ(written(static_cast<C>(12000), "M", ""), (Lines{kPluses, "M", "Finished D", kStars}));
}

TEST(ConversionLogLines, EmptyLinesTakeTheTexts) {
    // An unknown code below 8100 writes both texts as two lines.
    EXPECT_EQ(written(static_cast<C>(7777), "first", "second"), (Lines{"first", "second"}));
    EXPECT_EQ(written(static_cast<C>(0), "", ""), Lines{});
    EXPECT_EQ(written(static_cast<C>(8099), "", "only"), (Lines{"only"}));
    // A one-line entry gets text 2 as its second line.
    EXPECT_EQ(written(C::TableCreated, "A", "extra"),
              (Lines{"Table Create  - TableName: A", "extra"}));
    // A fixed line is never replaced by a text.
    EXPECT_EQ(written(C::ConversionStarted, "", "extra"), (Lines{kStars, "Started D"}));
}

class ConversionLogTest : public ::testing::Test {
  protected:
    ConversionLogTest() { fs::create_directories(m_root / "UPDATE"); }
    fs::path logFile(const std::string& name = "TBLUPD0001") const {
        return m_root / "UPDATE" / (name + ".TXT");
    }

    ScratchFolder m_root;
    std::string m_updateFolder = (m_root / "UPDATE").string();
    std::string m_tableUpdate = "TBLUPD0001";
    FixedClock m_clock{DateTime{2026, 12, 7, 8, 5, 9}};
    ConversionLog m_log{[this] { return m_updateFolder; }, [this] { return m_tableUpdate; },
                        m_clock};
};

TEST_F(ConversionLogTest, FileIsMadeOnlyAtTheFirstEntry) {
    EXPECT_FALSE(fs::exists(logFile()));
    EXPECT_FALSE(m_log.openFile().has_value());
    ASSERT_EQ(m_log.WriteOperationLog(C::ConversionStarted, "TBLUPD0001"), 0);
    EXPECT_EQ(readBytes(logFile()), kStars + "\r\nTBLUPD0001\r\nStarted Mon 07 Dec 2026 08:05:09");
    ASSERT_TRUE(m_log.openFile().has_value());
}

TEST_F(ConversionLogTest, FileHoldsTheWholeTextAfterEveryEntry) {
    ASSERT_EQ(m_log.WriteOperationLog(C::TableCreateFailed, "CUSTOMER", "-60"), 0);
    EXPECT_EQ(readBytes(logFile()),
              "Table Create  - TableName: CUSTOMER\r\nError returned - ErrorCode: -60");
    ASSERT_EQ(m_log.WriteOperationLog(C::DashSeparator, ""), 0);
    m_clock.advanceSeconds(60);
    ASSERT_EQ(m_log.WriteOperationLog(C::CompletedWithoutErrors), 0);
    const std::string expected =
        "Table Create  - TableName: CUSTOMER\r\n"
        "Error returned - ErrorCode: -60\r\n" +
        std::string(80, '-') + "\r\n" + kPluses +
        "\r\nProcess Completed Without any Errors\r\n"
        "Finished Mon 07 Dec 2026 08:06:09\r\n" +
        kStars;
    EXPECT_EQ(m_log.text(), expected);
    EXPECT_EQ(readBytes(logFile()), expected);
}

TEST_F(ConversionLogTest, PreviousFileOfTheSameNameIsReplaced) {
    writeBytes(logFile(), std::string(500, 'x'));
    ASSERT_EQ(m_log.WriteOperationLog(C::TableOpened, "A"), 0);
    EXPECT_EQ(readBytes(logFile()), "Table Opened  - TableName: A");
}

TEST_F(ConversionLogTest, CloseEmptiesTheTextAndTheNextConversionGetsItsOwnFile) {
    ASSERT_EQ(m_log.WriteOperationLog(C::TableOpened, "A"), 0);
    m_log.CloseOperationLog();
    EXPECT_EQ(m_log.text(), "");
    EXPECT_FALSE(m_log.openFile().has_value());
    m_tableUpdate = "TBLUPD0002";
    ASSERT_EQ(m_log.WriteOperationLog(C::TableOpened, "B"), 0);
    EXPECT_EQ(readBytes(logFile("TBLUPD0001")), "Table Opened  - TableName: A");
    EXPECT_EQ(readBytes(logFile("TBLUPD0002")), "Table Opened  - TableName: B");
}

TEST_F(ConversionLogTest, NameChangedDuringAConversionDoesNotMoveTheLog) {
    ASSERT_EQ(m_log.WriteOperationLog(C::TableOpened, "A"), 0);
    m_tableUpdate = "TBLUPD0009";
    ASSERT_EQ(m_log.WriteOperationLog(C::TableOpened, "B"), 0);
    EXPECT_EQ(readBytes(logFile()), "Table Opened  - TableName: A\r\nTable Opened  - TableName: B");
    EXPECT_FALSE(fs::exists(logFile("TBLUPD0009")));
}

TEST_F(ConversionLogTest, ExistingFileNamedInOtherCaseIsUsed) {
    writeBytes(m_root / "UPDATE" / "tblupd0001.txt", "old");
    ASSERT_EQ(m_log.WriteOperationLog(C::TableOpened, "A"), 0);
    EXPECT_EQ(readBytes(m_root / "UPDATE" / "tblupd0001.txt"), "Table Opened  - TableName: A");
    EXPECT_FALSE(fs::exists(logFile()));
}

TEST_F(ConversionLogTest, MissingFolderIsReportedAndTheEntryKeptForTheNextWrite) {
    fs::remove(m_root / "UPDATE");
    EXPECT_EQ(m_log.WriteOperationLog(C::TableOpened, "A"), ENOENT);
    EXPECT_FALSE(fs::exists(m_root / "UPDATE"));
    EXPECT_FALSE(m_log.openFile().has_value());
    fs::create_directories(m_root / "UPDATE");
    ASSERT_EQ(m_log.WriteOperationLog(C::TableOpened, "B"), 0);
    EXPECT_EQ(readBytes(logFile()), "Table Opened  - TableName: A\r\nTable Opened  - TableName: B");
}

TEST_F(ConversionLogTest, UnsetFolderOrNameWritesNowhere) {
    m_updateFolder.clear();
    EXPECT_EQ(m_log.WriteOperationLog(C::TableOpened, "A"), ENOENT);
    m_updateFolder = (m_root / "UPDATE").string();
    m_tableUpdate.clear();
    EXPECT_EQ(m_log.WriteOperationLog(C::TableOpened, "B"), ENOENT);
    EXPECT_TRUE(fs::is_empty(m_root / "UPDATE"));
}

TEST_F(ConversionLogTest, NameThatLeadsOutOfTheFolderIsRefused) {
    for (const char* name : {"../TBLUPD0001", "SUB/TBLUPD0001", "..\\TBLUPD0001"}) {
        m_tableUpdate = name;
        EXPECT_EQ(m_log.WriteOperationLog(C::TableOpened, "A"), EINVAL) << name;
    }
    m_tableUpdate = std::string("TBLUPD\0X", 8);
    EXPECT_EQ(m_log.WriteOperationLog(C::TableOpened, "A"), EINVAL);
    EXPECT_TRUE(fs::is_empty(m_root / "UPDATE"));
    EXPECT_EQ(std::distance(fs::directory_iterator(m_root.path()), fs::directory_iterator()), 1);
}

TEST_F(ConversionLogTest, ReadOnlyFileIsNotReplaced) {
    writeBytes(logFile(), "kept");
    fs::permissions(logFile(), fs::perms::owner_read);
    EXPECT_EQ(m_log.WriteOperationLog(C::TableOpened, "A"), EACCES);
    EXPECT_EQ(readBytes(logFile()), "kept");
    EXPECT_EQ(m_log.text(), "Table Opened  - TableName: A");
}

}  // namespace
}  // namespace tavrel::history
