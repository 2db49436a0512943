// The conversion's table operations and backup archive on their own: the
// record copy's rules for fields and deleted records, the file tests, moves
// that stop, and archives whose entries could write outside the folder.
#include "agent/tables/table_operations.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>

#include "agent/tables/table_backup_archive.h"
#include "agent/tables/tests/conversion/conversion_fixture.h"

namespace tavrel::tables::testing {
namespace {

namespace fs = std::filesystem;
using platform::testing::readBytes;

class OperationsTest : public ConversionTest {
  protected:
    void SetUp() override {
        ConversionTest::SetUp();
        fs::create_directories(folder / "DATA00/TABLES/TABLENEW");
        run.names = names;
        run.backupArchive = names.packageFolder + "TBLFILES0101.ZIP";
        item.LICFOLDER("DATA00");
        item.FOLDER_NAME(names.applicationFolder);
        item.TABLE_NAME(TableSelector::kCurrent, "LEGACY");
    }
    // A source table with CODE and OLDA, three records, the second deleted.
    DATA4* source() {
        DATA4* data =
            create("DATA00/TABLES/LEGACY", {{"CODE", 'C', 5, 0, 0}, {"OLDA", 'C', 5, 0, 0}});
        for (const char* code : {"A", "B", "C"}) append(data, {{"CODE", code}, {"OLDA", "old"}});
        K4(library, d4goLow, data, 2L, short(1));
        K4(library, d4delete, data);
        K4(library, d4flush, data);
        return data;
    }
    std::vector<std::pair<bool, std::string>> rows(DATA4* data, const char* field) {
        std::vector<std::pair<bool, std::string>> out;
        for (int rc = K4(library, d4top, data); rc == 0; rc = K4(library, d4skip, data, 1L)) {
            out.emplace_back(K4(library, d4deleted, data) > 0, readField(engine, data, field));
        }
        return out;
    }

    history::ConversionLog log{[this] { return app("UPDATE"); }, [] { return "TBLUPD0101"; },
                               clock};
    ConversionTools tools{engine, kes01, windowLog, progress, clock, {}};
    ConversionRun run{tools, log, names};
    TBL_INFOS infos;
    TBL_UPDATE item{infos};
};

TEST_F(OperationsTest, ARecordWithNoFieldInCommonIsNotCarriedDeletedOnesKeepTheirMark) {
    item.TBLFile[0] = source();
    item.TBLFile[1] = create("DATA00/TABLES/TABLENEW/LEGACY", {{"NEWA", 'C', 5, 0, 0}});
    EXPECT_EQ(TableCopyRecords(run, item), 1);
    EXPECT_EQ(K4(library, d4recCountDo, item.TBLFile[1]), 0) << "nothing in common";

    DATA4* both =
        create("DATA00/TABLES/TABLENEW/BOTH", {{"NEWA", 'C', 5, 0, 0}, {"CODE", 'C', 8, 0, 0}});
    item.TBLFile[1] = both;
    EXPECT_EQ(TableCopyRecords(run, item), 1);
    const std::vector<std::pair<bool, std::string>> expected = {
        {false, "A       "}, {true, "B       "}, {false, "C       "}};
    EXPECT_EQ(rows(both, "CODE"), expected);
    EXPECT_EQ(rows(both, "NEWA")[0].second, "     ") << "a field only the target has stays blank";
    EXPECT_EQ(progress.maximum[3], 3);
    EXPECT_EQ(progress.value[4], 3);
}

TEST_F(OperationsTest, AFieldMissingOnEitherSideIsMinus210AndLoggedOnlyWhenAsked) {
    DATA4* from = source();
    DATA4* to = create("DATA00/TABLES/TABLENEW/LEGACY", {{"CODE", 'C', 5, 0, 0}});
    K4(library, d4top, from);
    EXPECT_EQ(FieldCopy(run, from, "OLDA", to, "", false), -210);
    EXPECT_TRUE(log.text().empty());
    EXPECT_EQ(FieldCopy(run, from, "OLDA", to, "", true), -210);
    EXPECT_NE(log.text().find("Missing Field: Field - Table: OLDA"), std::string::npos);
    EXPECT_EQ(K4(library, code4errorCode, engine.handle(), 0), 0) << "the lookup's error cleared";
}

TEST_F(OperationsTest, TheFileTestAsksForIndexAndMemoOnlyWhenTheyAreNeeded) {
    const std::string tables = app("DATA00/TABLES");
    EXPECT_EQ(TableFilesTest(tables, "NONE", true, true), 1511);
    K4(library, d4close, create("DATA00/TABLES/PLAIN", {{"CODE", 'C', 5, 0, 0}}));
    EXPECT_EQ(TableFilesTest(tables, "PLAIN", false, false), 1501);
    EXPECT_EQ(TableFilesTest(tables, "PLAIN", true, false), 1521);
    EXPECT_EQ(TableFilesTest(tables, "PLAIN", false, true), 1531);
}

TEST_F(OperationsTest, AMoveThatCannotWriteItsTargetAnswers0AndKeepsItsSource) {
    K4(library, d4close, create("DATA00/TABLES/TABLENEW/PLAIN", {{"CODE", 'C', 5, 0, 0}}));
    fs::create_directories(folder / "DATA00/TABLES/PLAIN.DBF");
    EXPECT_EQ(
        TableMove(run, app("DATA00/TABLES/TABLENEW"), "PLAIN", app("DATA00/TABLES"), "PLAIN", true),
        0);
    EXPECT_TRUE(fs::exists(folder / "DATA00/TABLES/TABLENEW/PLAIN.DBF"));
}

// An archive written by hand with one more entry of the given kind.
void archiveWith(const std::string& file, const std::string& badName, bool symlink) {
    zip_t* zip = zip_open(file.c_str(), ZIP_CREATE | ZIP_TRUNCATE, nullptr);
    ASSERT_NE(zip, nullptr);
    for (const std::string& name : {std::string("DATA00/TABLES/GOOD.DBF"), badName}) {
        zip_source_t* source = zip_source_buffer(zip, "bytes", 5, 0);
        const zip_int64_t index = zip_file_add(zip, name.c_str(), source, 0);
        ASSERT_GE(index, 0);
        if (symlink && name == badName) {
            // Unix mode 0120777: a symbolic link.
            zip_file_set_external_attributes(zip, zip_uint64_t(index), 0, ZIP_OPSYS_UNIX,
                                             zip_uint32_t(0120777) << 16);
        }
    }
    ASSERT_EQ(zip_close(zip), 0);
}

TEST_F(OperationsTest, ABackupArchiveWithAnEntryOutsideTheFolderIsRefusedWhole) {
    for (const auto& [bad, symlink] :
         std::vector<std::pair<std::string, bool>>{{"../../ESCAPED.DBF", false},
                                                   {"/tmp/ABSOLUTE.DBF", false},
                                                   {"C:/DRIVE.DBF", false},
                                                   {"DATA00/TABLES/LINK.DBF", true}}) {
        SCOPED_TRACE(bad);
        archiveWith(run.backupArchive, bad, symlink);
        EXPECT_EQ(UPDTABLE_BACKUP_FILESGETALL(run, names.applicationFolder), 0);
        EXPECT_FALSE(fs::exists(folder / "DATA00/TABLES/GOOD.DBF")) << "nothing written";
        EXPECT_FALSE(fs::exists(folder / "DATA00/TABLES/LINK.DBF"));
        EXPECT_FALSE(fs::exists(folder.path().parent_path().parent_path() / "ESCAPED.DBF"));
    }
    archiveWith(run.backupArchive, "DATA00/TABLES/GOOD.CDX", false);
    EXPECT_EQ(UPDTABLE_BACKUP_FILESGETALL(run, names.applicationFolder), 1005);
    EXPECT_EQ(readBytes(folder / "DATA00/TABLES/GOOD.DBF"), "bytes");
}

TEST_F(OperationsTest, ASavedTableComesBackWithoutTheFilesItDidNotHave) {
    K4(library, d4close, create("DATA00/TABLES/PLAIN", {{"CODE", 'C', 5, 0, 0}}));
    const std::string dbf = readBytes(folder / "DATA00/TABLES/PLAIN.DBF");
    ASSERT_EQ(UPDTABLE_BACKUP_FILESPUT(run, app("DATA00/TABLES"), "PLAIN", names.applicationFolder),
              1001);
    platform::testing::writeBytes(folder / "DATA00/TABLES/PLAIN.DBF", "new");
    platform::testing::writeBytes(folder / "DATA00/TABLES/PLAIN.FPT", "new memo");
    ASSERT_TRUE(restoreTableFromArchive(run, "DATA00/TABLES", "PLAIN"));
    EXPECT_EQ(readBytes(folder / "DATA00/TABLES/PLAIN.DBF"), dbf);
    EXPECT_FALSE(fs::exists(folder / "DATA00/TABLES/PLAIN.FPT"));
    EXPECT_FALSE(restoreTableFromArchive(run, "DATA00/TABLES", "OTHER")) << "never saved";
}

}  // namespace
}  // namespace tavrel::tables::testing
