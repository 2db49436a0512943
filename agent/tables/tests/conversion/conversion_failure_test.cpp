// Table conversions that fail where things go wrong in the field: after each
// failure every table, TABLEDES and TABLEDET are byte for byte as before (the
// whole application folder is compared, file by file and folder by folder).
#include <gtest/gtest.h>
#include <zip.h>

#include <algorithm>
#include <filesystem>

#include "agent/tables/conversion_journal.h"
#include "agent/tables/engine_fields.h"
#include "agent/tables/tests/conversion/conversion_fixture.h"
#include "platform/tests/fault_plan.h"

namespace tavrel::tables::testing {
namespace {

namespace fs = std::filesystem;
using platform::FileOperation;
using platform::testing::FaultPlan;
using platform::testing::readBytes;

class ConversionFailureTest : public ConversionTest {
  protected:
    void SetUp() override {
        ConversionTest::SetUp();
        buildApplication(300);
        before = snapshotOf(folder.path());
    }
    // The conversion fails with `code`, and the application folder is as it was.
    void expectFailureLeavesEverythingAsItWas(int32_t code) {
        EXPECT_FALSE(convert());
        EXPECT_EQ(conversion.lastResult(), code) << conversionLogText();
        EXPECT_EQ(conversion.summaryText(),
                  "Table Conversion - Table Conversion was Aborted Due to Error");
        EXPECT_EQ(windowLog.statusText(1),
                  "Table Conversion Update TBLUPD0101 - Aborted Due to Error");
        const FolderSnapshot after = snapshotOf(folder.path());
        EXPECT_TRUE(before == after) << firstDifference(before, after);
        const std::string log = conversionLogText();
        EXPECT_NE(log.find("Update Aborted due to error reported - reported Error: " +
                           std::to_string(code)),
                  std::string::npos)
            << log;
        EXPECT_NE(
            readBytes(conversionJournalFile(names.packageBackupFolder)).find("STATE ROLLEDBACK"),
            std::string::npos);
    }
    // A table move failed after DATA00's CUSTOMER was installed (9720), and
    // the application folder is as it was.
    void expectInstalledTablesPutBack() {
        EXPECT_EQ(conversion.lastResult(), 9720) << conversionLogText();
        const FolderSnapshot after = snapshotOf(folder.path());
        EXPECT_TRUE(before == after) << firstDifference(before, after);
        EXPECT_NE(conversionLogText().find("Table Moved - Target Table: " +
                                           app("DATA00/TABLES/CUSTOMER.DBF")),
                  std::string::npos)
            << "the first table had been installed";
    }
    std::string archiveFile() const { return names.packageFolder + "TBLFILES0101.ZIP"; }

    FolderSnapshot before;
};

TEST_F(ConversionFailureTest, AZipWithOnlyTheDataAndIndexOfTabledesIsRefused) {
    fs::remove(names.packageFolder + names.tableUpdateFile);
    // Rebuild the zip with two of the three files.
    zip_t* zip = zip_open((names.packageFolder + names.tableUpdateFile).c_str(),
                          ZIP_CREATE | ZIP_TRUNCATE, nullptr);
    ASSERT_NE(zip, nullptr);
    for (const char* name : {"TABLEDES.DBF", "TABLEDES.CDX"}) {
        zip_source_t* source = zip_source_buffer(zip, "x", 1, 0);
        ASSERT_GE(zip_file_add(zip, name, source, 0), 0);
    }
    ASSERT_EQ(zip_close(zip), 0);
    expectFailureLeavesEverythingAsItWas(9210);
}

TEST_F(ConversionFailureTest, AnEntryOutsideTheApplicationFolderIsRefusedAndNothingWritten) {
    const std::string zipFile = names.packageFolder + names.tableUpdateFile;
    fs::remove(zipFile);
    zip_t* zip = zip_open(zipFile.c_str(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
    ASSERT_NE(zip, nullptr);
    for (const char* name : {"../TABLEDES.DBF", "TABLEDES.CDX", "TABLEDES.FPT"}) {
        zip_source_t* source = zip_source_buffer(zip, "evil", 4, 0);
        ASSERT_GE(zip_file_add(zip, name, source, 0), 0);
    }
    ASSERT_EQ(zip_close(zip), 0);
    expectFailureLeavesEverythingAsItWas(9210);
    EXPECT_FALSE(fs::exists(folder.path().parent_path() / "TABLEDES.DBF"));
}

TEST_F(ConversionFailureTest, ALockedTabledesIsNotUnpacked) {
    Kes04Library otherLibrary{[](const std::string&) {}, engineFile()};
    DatabaseEngine application{otherLibrary};
    ASSERT_TRUE(application.start());
    DATA4* held = application.open(app("TABLEDES"));
    ASSERT_NE(held, nullptr);
    expectFailureLeavesEverythingAsItWas(9210);
    EXPECT_NE(conversionLogText().find("Cannot Unpack TABLEDES - TABLEDES appears to be in use"),
              std::string::npos);
    K4(otherLibrary, d4close, held);
}

TEST_F(ConversionFailureTest, ATabledetRowWhoseChecksumIsWrongStopsBeforeAnyWork) {
    DATA4* det = engine.open(app("TABLEDET"));
    ASSERT_NE(det, nullptr);
    K4(library, d4goLow, det, 2L, short(1));
    ASSERT_TRUE(writeField(engine, det, "CHECK_SUM1", std::string(40, 'f')));
    K4(library, d4close, det);
    before = snapshotOf(folder.path());
    expectFailureLeavesEverythingAsItWas(9330);
    EXPECT_NE(conversionLogText().find("CheckSum on File Failed - FileName: " + app("TABLEDET")),
              std::string::npos);
    EXPECT_EQ(conversionLogText().find("Tavrel_CURTABLE_OPEN"), std::string::npos);
}

TEST_F(ConversionFailureTest, ANewTableThatCannotBeCreatedInTheSecondDataFolderUndoesTheFirst) {
    // A folder where the new data file should go: no engine can write it.
    fs::create_directories(folder / "DATA01/TABLES/TABLENEW/CUSTOMER.DBF");
    before = snapshotOf(folder.path());
    bool sawFirstNewTable = false;
    onYield = [&] {
        sawFirstNewTable =
            sawFirstNewTable || fs::exists(folder / "DATA00/TABLES/TABLENEW/CUSTOMER.DBF");
    };
    expectFailureLeavesEverythingAsItWas(9510);
    EXPECT_TRUE(sawFirstNewTable) << "the first data folder's table was made, then removed";
    const std::string log = conversionLogText();
    EXPECT_NE(log.find("Table Create  - TableName: " + app("DATA01/TABLES/TABLENEW/CUSTOMER") +
                       "\r\nError returned - ErrorCode: "),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("Table Pack"), std::string::npos) << "nothing saved into the archive";
}

TEST_F(ConversionFailureTest, ABackupArchiveThatCannotBeWrittenEndsWith9710) {
    bool blocked = false;
    onYield = [&] {
        // Once the backup step has taken the first table, the archive can no
        // longer be written where it goes.
        if (blocked || conversionLogText().find("Tavrel_CURTABLE_BACKUP") == std::string::npos) {
            return;
        }
        ASSERT_FALSE(fs::exists(archiveFile())) << "the archive is written once, at the end";
        fs::create_directory(archiveFile());
        blocked = true;
    };
    expectFailureLeavesEverythingAsItWas(9710);
    EXPECT_TRUE(blocked);
    const std::string log = conversionLogText();
    EXPECT_EQ(log.find("Table Moved"), std::string::npos) << "no table was installed";
    EXPECT_EQ(log.find("Table Pack"), std::string::npos) << "no table was reported saved";
}

TEST_F(ConversionFailureTest, AMoveThatFailsOnTheSecondTablePutsBackTheFirst) {
    // The first data folder's CUSTOMER is installed; the second one's data
    // file cannot be moved over the current one (the disk gave out).
    {
        FaultPlan plan(folder.path());
        plan.failOn(FileOperation::kMove, "DATA01/TABLES/CUSTOMER.DBF", ENOSPC);
        EXPECT_FALSE(convert());
        EXPECT_EQ(plan.faultsInjected(), 1);
    }
    expectInstalledTablesPutBack();
}

// The file moves of the table moves (from a TABLENEW folder) in the order
// tried, with whether each was failed.
std::vector<std::string> tableMoveCopies(const FaultPlan& plan) {
    std::vector<std::string> copies;
    for (const auto& event : plan.events()) {
        if (event.operation != FileOperation::kMove ||
            event.path.find("/TABLENEW/") == std::string::npos)
            continue;
        copies.push_back(event.target + (event.error != 0 ? " failed" : ""));
    }
    return copies;
}

TEST_F(ConversionFailureTest, AMoveBrokenOffBetweenTheFilesOfATablePutsAllTablesBack) {
    // DATA01's CUSTOMER has its new .DBF and .CDX over the current ones when
    // the move of its memo file fails.
    const std::string memo = "DATA01/TABLES/CUSTOMER.FPT";
    {
        FaultPlan plan(folder.path());
        plan.failOn(FileOperation::kMove, memo, EBUSY);
        EXPECT_FALSE(convert());
        const auto copies = tableMoveCopies(plan);
        ASSERT_FALSE(copies.empty());
        EXPECT_EQ(copies.back(), memo + " failed") << "no table was moved after the failure";
        EXPECT_NE(std::find(copies.begin(), copies.end(), "DATA01/TABLES/CUSTOMER.DBF"),
                  copies.end());
        EXPECT_NE(std::find(copies.begin(), copies.end(), "DATA00/TABLES/CUSTOMER.FPT"),
                  copies.end());
    }
    expectInstalledTablesPutBack();
    EXPECT_NE(readBytes(conversionJournalFile(names.packageBackupFolder)).find("STATE ROLLEDBACK"),
              std::string::npos);
}

TEST_F(ConversionFailureTest, ANewTableFileThatCannotBeMovedOnceFailsTheMove) {
    // DATA02's new index cannot be moved over the current one at that moment
    // (held by another program): the move did not finish.
    FaultPlan plan(folder.path());
    plan.failOn(FileOperation::kMove, "DATA02/TABLES/CUSTOMER.CDX", EBUSY).onlyNth(1);
    expectFailureLeavesEverythingAsItWas(9720);
    EXPECT_EQ(plan.faultsInjected(), 1);
}

TEST_F(ConversionFailureTest, ACurrentTableInUseStopsTheConversionBeforeAnythingIsMade) {
    Kes04Library otherLibrary{[](const std::string&) {}, engineFile()};
    DatabaseEngine application{otherLibrary};
    ASSERT_TRUE(application.start());
    DATA4* held = application.open(app("DATA02/TABLES/CUSTOMER"));
    ASSERT_NE(held, nullptr);
    expectFailureLeavesEverythingAsItWas(9410);
    K4(otherLibrary, d4close, held);
}

}  // namespace
}  // namespace tavrel::tables::testing
