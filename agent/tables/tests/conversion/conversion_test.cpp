// Table conversions that end well, on real tables in an application folder
// with three data folders: the new structures, the values as an independent
// reader sees them, CHECK_SUM against OpenSSL, TABLEDET, the backup archive,
// the logs and the progress bars; and the edge cases of the sequence.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "agent/tables/conversion_journal.h"
#include "agent/tables/descriptor_scan.h"
#include "agent/tables/record_checksums.h"
#include "agent/tables/tests/conversion/conversion_fixture.h"
#include "components/zip/zip_archive.h"
#include "platform/text_rules.h"

namespace tavrel::tables::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using platform::testing::readBytes;

std::vector<json> pythonRows(const std::string& table) {
    int rc = -1;
    const std::string out = runCommand(
        "/usr/bin/python3 " + sourceFolder() + "/components/kes04/tests/dbf_peer.py dbf " + table,
        &rc);
    EXPECT_EQ(rc, 0) << out;
    std::vector<json> rows;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) rows.push_back(json::parse(line));
    return rows;
}

void expectPythonValues(const std::string& table, int index, int records) {
    const auto rows = pythonRows(table);
    ASSERT_EQ(rows.size(), size_t(records)) << table;
    for (int i = 1; i <= records; ++i) {
        const json& row = rows[size_t(i - 1)];
        const Customer c = customer(index, i);
        const std::string where = table + " record " + std::to_string(i);
        EXPECT_EQ(row.at("_deleted").get<bool>(), c.deleted) << where;
        EXPECT_EQ(row.at("CODE").get<std::string>(), c.code) << where;
        EXPECT_EQ(row.at("NAME").get<std::string>(), c.name) << where;
        EXPECT_EQ(row.at("BALANCE").get<std::string>(), c.balance) << where;
        EXPECT_EQ(row.at("OPENED").get<std::string>(), c.opened) << where;
        EXPECT_EQ(row.at("NOTES").get<std::string>(), c.notes) << where;
        // A field the new structure adds stays blank; one it drops is gone.
        EXPECT_EQ(row.at("ACTIVE").get<std::string>(), "F") << where;
        EXPECT_FALSE(row.contains("REMARK")) << where;
    }
}

std::vector<std::string> archiveEntries(const std::string& file) {
    zip::ZipArchive zip;
    zip.setFileName(file);
    std::vector<std::string> names;
    if (zip.open() != 0) return names;
    for (int i = 0; i < zip.entryCount(); ++i) names.push_back(zip.entryStoredPath(i));
    std::sort(names.begin(), names.end());
    return names;
}

class ConversionRunTest : public ConversionTest {
  protected:
    std::string journalText() {
        return readBytes(conversionJournalFile(names.packageBackupFolder));
    }
    // Row `name` of TABLEDET: (VERSIONID, FIELDARRAY), empty when missing.
    std::pair<std::string, std::string> detailRow(const std::string& name) {
        DATA4* det = engine.open(app("TABLEDET"));
        EXPECT_NE(det, nullptr);
        std::pair<std::string, std::string> row;
        if (seekDescriptor(engine, det, "LICTBL", name)) {
            row = {std::string(platform::trimText(readField(engine, det, "VERSIONID"))),
                   readField(engine, det, "FIELDARRAY")};
        }
        ChecksumTools tools{engine, kes01};
        EXPECT_EQ(VerifyTableChecksum1(tools, det), ChecksumResult::kVerified);
        K4(library, d4close, det);
        return row;
    }
    void installNewTabledesByHand() {
        zip::ZipArchive zip;
        zip.setFileName(names.packageFolder + names.tableUpdateFile);
        ASSERT_EQ(zip.open(), 0);
        zip.options().targetFolder = folder.text();
        zip.options().overwrite = true;
        ASSERT_EQ(zip.processAll(), 0);
        zip.close();
        fs::remove(names.packageFolder + names.tableUpdateFile);
    }
};

TEST_F(ConversionRunTest, AGoodConversionRebuildsCustomerInEveryDataFolderAndAddsOrders) {
    buildApplication(300);
    ASSERT_TRUE(convert()) << conversionLogText();
    EXPECT_EQ(conversion.lastResult(), 8100);
    EXPECT_EQ(conversion.summaryText(), "Table Conversion - Tables have been Converted");
    for (int i = 0; i < 3; ++i) {
        const std::string tables = app(std::string(kDataFolders[i]) + "/TABLES");
        expectConvertedCustomer(i, 300);
        expectPythonValues(tables + "/CUSTOMER.DBF", i, 300);
        EXPECT_TRUE(fs::exists(tables + "/ORDERS.DBF"));
        EXPECT_TRUE(fs::exists(tables + "/ORDERS.CDX"));
        EXPECT_FALSE(fs::exists(tables + "/ORDERS.FPT")) << "ORDERS has no memo";
        EXPECT_TRUE(fs::is_empty(tables + "/TABLENEW")) << "every new table moved";
        EXPECT_TRUE(fs::is_empty(tables + "/TABLEOLD"));
    }
    EXPECT_TRUE(fs::is_directory(folder / "TABLEMVE"));
    const auto customerRow = detailRow("CUSTOMER");
    EXPECT_EQ(customerRow.first, "0101");
    EXPECT_EQ(customerRow.second, kNewCustomerFields);
    EXPECT_EQ(detailRow("ORDERS").second, kOrdersFields) << "a new table gets its row";
    EXPECT_EQ(detailRow("SYSTEM").first, "0100") << "an unchanged table keeps its row";
    const auto entries = archiveEntries(names.packageFolder + "TBLFILES0101.ZIP");
    ASSERT_EQ(entries.size(), 9u);
    EXPECT_EQ(entries.front(), "DATA00/TABLES/CUSTOMER.CDX");
    EXPECT_EQ(entries.back(), "DATA02/TABLES/CUSTOMER.FPT");
    EXPECT_NE(journalText().find("STATE DONE"), std::string::npos) << journalText();
}

TEST_F(ConversionRunTest, TheLogsTellEveryStepAndTheBarsStayWithinTheirMaximum) {
    buildApplication(40);
    ASSERT_TRUE(convert());
    const std::string log = conversionLogText();
    for (const char* text :
         {"Update_Scan_TABLEDES", "Tavrel_CURTABLE_OPEN 6", "Tavrel_NEWTABLE_INSTALL: 6",
          "Tavrel_NEWTABLE_INSTALL 1000", "TABLEDES Update - TableName: LICTBL\\ORDERS",
          "TABLEDET Update - TableName: LICTBL\\CUSTOMER", "Total Records - Source Table: 40",
          "Table Pack  - Source Table: ", "Process Completed Without any Errors"}) {
        EXPECT_NE(log.find(text), std::string::npos) << text;
    }
    EXPECT_EQ(log.find("TABLEDET Update - TableName: LICTBL\\CUSTOMER"),
              log.rfind("TABLEDET Update - TableName: LICTBL\\CUSTOMER"))
        << "one row for three data folders";
    const std::string page = windowLog.pageText(2);
    size_t at = 0;
    for (const char* stage :
         {"Unpacking TABLEDES From New Zip File", "Scanning TABLEDES For Updated Tables",
          "Opening Current Tables for Conversion", "Creating New Tables", "Opening New Tables",
          "Copying DATA from Current to New Tables", "Backing-Up Current Tables",
          "Installing New Tables", "Updateing TABLEDES To TABLEDET", "Process Completed",
          "Process Completed Without any Errors"}) {
        at = page.find(stage, at);
        ASSERT_NE(at, std::string::npos) << stage;
    }
    EXPECT_EQ(windowLog.statusText(2), "Table Conversion Update TBLUPD0101 - Completed");
    EXPECT_NE(windowLog.pageText(1).find("Installing Table Update: TBLUPD0101"), std::string::npos);
    EXPECT_EQ(progress.selectedPage, 2);
    EXPECT_EQ(progress.stepValues.back(), 9);
    EXPECT_EQ(progress.maximum[1], 10);
    EXPECT_EQ(progress.highestRecordValue, 40);
    EXPECT_FALSE(progress.valueAboveMaximum);
    EXPECT_EQ(progress.text[3], "") << "copy lines cleared after the last item";
}

TEST_F(ConversionRunTest, TheEngineSettingsAreThoseOfBeforeWhenTheConversionEnds) {
    buildApplication(5);
    ASSERT_TRUE(convert());
    EXPECT_EQ(K4(library, code4accessMode, engine.handle(), 0), 0) << "shared again";
    EXPECT_EQ(K4(library, code4safety, engine.handle(), 1), 1) << "safety on again";
}

TEST_F(ConversionRunTest, WithoutATableUpdateZipTheInstalledTabledesIsScanned) {
    buildApplication(20);
    installNewTabledesByHand();
    ASSERT_TRUE(convert()) << conversionLogText();
    EXPECT_EQ(conversion.lastResult(), 8100);
    expectConvertedCustomer(1, 20);
}

TEST_F(ConversionRunTest, AllTablesUnchangedNeedNothingAndChangeNoTable) {
    buildApplication(20);
    fs::remove(names.packageFolder + names.tableUpdateFile);
    const FolderSnapshot before = snapshotOf(folder.path());
    ASSERT_TRUE(convert());
    EXPECT_EQ(conversion.lastResult(), 8200);
    EXPECT_EQ(conversion.summaryText(), "Table Conversion - Tables are upto Date");
    EXPECT_EQ(windowLog.statusText(2), "Table Conversion Update TBLUPD0101 - Not Required");
    FolderSnapshot after = snapshotOf(folder.path());
    EXPECT_TRUE(after.folders.erase("TABLEMVE")) << "the move folder is made";
    EXPECT_TRUE(before == after) << firstDifference(before, after);
    EXPECT_NE(conversionLogText().find("Process Completed Without any TABLES being Updated"),
              std::string::npos);
}

TEST_F(ConversionRunTest, ACurrentTableWithoutDataFileGetsTheEmptyNewTable) {
    buildApplication(10);
    for (const char* ext : {".DBF", ".CDX", ".FPT"}) {
        fs::remove(app(std::string("DATA01/TABLES/CUSTOMER") + ext));
    }
    ASSERT_TRUE(convert()) << conversionLogText();
    EXPECT_NE(
        conversionLogText().find("Table Missing - TableName: " + app("DATA01/TABLES/CUSTOMER")),
        std::string::npos);
    expectConvertedCustomer(1, 0);
    expectConvertedCustomer(2, 10);
    EXPECT_EQ(archiveEntries(names.packageFolder + "TBLFILES0101.ZIP").size(), 6u);
    EXPECT_NE(journalText().find("ADDED DATA01/TABLES/CUSTOMER"), std::string::npos);
}

TEST_F(ConversionRunTest, RecordCountsAboveSixteenBitsKeepTheBarsInRange) {
    buildApplication(33000);
    ASSERT_TRUE(convert());
    EXPECT_EQ(progress.highestRecordValue, 33000);
    EXPECT_EQ(progress.maximum[3], 100) << "reset after the copy";
    EXPECT_FALSE(progress.valueAboveMaximum);
    expectConvertedCustomer(2, 33000);
}

}  // namespace
}  // namespace tavrel::tables::testing
