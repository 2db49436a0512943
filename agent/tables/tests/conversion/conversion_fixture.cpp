#include "agent/tables/tests/conversion/conversion_fixture.h"

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

#include "agent/tables/record_checksums.h"
#include "agent/tables/tests/descriptor_fields.h"
#include "components/zip/zip_archive.h"

namespace tavrel::tables::testing {

namespace fs = std::filesystem;
using platform::testing::readBytes;

const char* const kOldCustomerFields =
    "0^^CHECK_SUM^^C^^40^^0\r\n0^^CODE^^C^^10^^0\r\n0^^NAME^^C^^20^^0\r\n"
    "0^^BALANCE^^N^^10^^2\r\n0^^OPENED^^D^^8^^0\r\n0^^REMARK^^C^^10^^0\r\n0^^NOTES^^M^^10^^0";
const char* const kOldCustomerTags = "0^^CODE^^U^^A^^CODE^^\r\n0^^NAME^^^^^^UPPER(NAME)^^";
const char* const kNewCustomerFields =
    "0^^CHECK_SUM^^C^^40^^0\r\n0^^CODE^^C^^10^^0\r\n0^^NAME^^C^^40^^0\r\n"
    "0^^BALANCE^^N^^12^^2\r\n0^^OPENED^^D^^8^^0\r\n0^^ACTIVE^^L^^1^^0\r\n0^^NOTES^^M^^10^^0";
const char* const kNewCustomerTags =
    "0^^CODE^^U^^A^^CODE^^\r\n0^^NAME^^^^^^UPPER(NAME)^^\r\n0^^OPEN^^^^^^CODE^^BALANCE > 0";
const char* const kOrdersFields = "0^^ORDERNO^^C^^8^^0\r\n0^^AMOUNT^^N^^10^^2";
const char* const kOrdersTags = "0^^ORDERNO^^^^^^ORDERNO^^";
const char* const kSystemFields = "0^^KEY^^C^^10^^0";

namespace {

const std::vector<FIELD4INFO> kOldCustomer = {
    {"CHECK_SUM", 'C', 40, 0, 0}, {"CODE", 'C', 10, 0, 0},  {"NAME", 'C', 20, 0, 0},
    {"BALANCE", 'N', 10, 2, 0},   {"OPENED", 'D', 8, 0, 0}, {"REMARK", 'C', 10, 0, 0},
    {"NOTES", 'M', 10, 0, 0}};

}  // namespace

Customer customer(int folder, int i) {
    Customer c;
    char code[16];
    std::snprintf(code, sizeof code, "D%dC%05d", folder, i);
    c.code = code;
    c.name = "Cust " + std::to_string(i) + " f" + std::to_string(folder);
    char balance[32];
    std::snprintf(balance, sizeof balance, "%.2f", i % 3 == 0 ? 0.0 : i * 1.25 - 7);
    c.balance = balance;
    char opened[16];
    std::snprintf(opened, sizeof opened, "20%02d%02d%02d", 10 + i % 15, 1 + i % 12, 1 + i % 28);
    c.opened = i % 5 == 0 ? "" : opened;
    c.remark = "rem " + std::to_string(i);
    c.notes = i % 4 == 0 ? "" : "Notes of " + c.code + "\r\nsecond line " + std::to_string(i * 7);
    c.deleted = i % 7 == 0;
    return c;
}

void RecordingProgress::ProgressText(int line, std::string_view t) { text[line] = t; }

void RecordingProgress::ProgressValue(int bar, std::int64_t v, std::int64_t max) {
    if (max != -1) maximum[bar] = max;
    value[bar] = v;
    if (v > maximum[bar]) valueAboveMaximum = true;
    if (bar == 1) stepValues.push_back(v);
    if (bar == 3 && v > highestRecordValue) highestRecordValue = v;
}

FolderSnapshot snapshotOf(const fs::path& applicationFolder) {
    FolderSnapshot snapshot;
    for (auto it = fs::recursive_directory_iterator(applicationFolder);
         it != fs::recursive_directory_iterator(); ++it) {
        const std::string relative = fs::relative(it->path(), applicationFolder).string();
        if (relative == "UPDATE") {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_directory()) {
            snapshot.folders.insert(relative);
        } else {
            snapshot.files[relative] = readBytes(it->path());
        }
    }
    return snapshot;
}

std::string firstDifference(const FolderSnapshot& before, const FolderSnapshot& after) {
    for (const auto& folder : before.folders) {
        if (!after.folders.count(folder)) return "folder gone: " + folder;
    }
    for (const auto& folder : after.folders) {
        if (!before.folders.count(folder)) return "folder added: " + folder;
    }
    for (const auto& [name, bytes] : before.files) {
        const auto found = after.files.find(name);
        if (found == after.files.end()) return "file gone: " + name;
        if (found->second != bytes) return "file changed: " + name;
    }
    for (const auto& [name, bytes] : after.files) {
        if (!before.files.count(name)) return "file added: " + name;
    }
    return "none";
}

namespace {

size_t u16At(const std::string& bytes, size_t at) {
    return size_t(uint8_t(bytes[at])) | size_t(uint8_t(bytes[at + 1])) << 8;
}

}  // namespace

std::string storedRecord(const std::string& bytes, long recno) {
    if (bytes.size() < 32) return {};
    const size_t header = u16At(bytes, 8), width = u16At(bytes, 10);
    const size_t at = header + size_t(recno - 1) * width;
    return at + width <= bytes.size() ? bytes.substr(at, width) : std::string();
}

long storedRecordCount(const std::string& bytes) {
    if (bytes.size() < 32) return -1;
    return long(u16At(bytes, 4) | u16At(bytes, 6) << 16);
}

std::string runCommand(const std::string& command, int* exitCode, int seconds) {
    return runLimited(command, exitCode, seconds);
}

std::string binFolder() {
    const char* bin = std::getenv("TAVREL_BIN_DIR");
    return bin ? bin : ".";
}

std::string sourceFolder() { return TAVREL_TEST_SOURCE_DIR; }

void ConversionTest::SetUp() {
    EngineTest::SetUp();
    names.applicationFolder = folder.text();
    names.packageFolder = app("UPDATE/TAVREL0101") + "/";
    names.packageBackupFolder = names.packageFolder + "BACKUP/";
    names.tableUpdateFile = "TBLUPD0101.ZIP";
    names.tableUpdateName = "TBLUPD0101";
    names.tableUpdateId = "0101";
    fs::create_directories(names.packageBackupFolder);
}

void ConversionTest::TearDown() { K4(library, code4close, engine.handle()); }

void ConversionTest::descriptorTable(const fs::path& path, bool detail,
                                     const std::vector<std::vector<std::string>>& rows) {
    std::vector<FIELD4INFO> fields;
    if (detail) fields.push_back({"CHECK_SUM1", 'C', 40, 0, 0});
    fields.insert(fields.end(), kDescriptorFields.begin(), kDescriptorFields.end());
    DATA4* data = create(fs::relative(path, folder.path()).string(), fields,
                         {{"TBL_ORDER", "TRIM(TBL_PATH)+\"\\\"+TBL_NAME", "", 0, 0}});
    ASSERT_NE(data, nullptr);
    for (const auto& row : rows) {
        append(data, {{"TBL_NAME", row[0]},
                      {"TBL_PATH", row.size() > 3 ? row[3] : "LICTBL"},
                      {"ENABLED", row.size() > 4 ? row[4] : "4"},
                      {"VERSIONID", "0100"},
                      {"HAS_CHKSUM", " -1"},
                      {"FIELDARRAY", row[1]},
                      {"TAGARRAY", row[2]},
                      {"LISTVIEW", "list view of " + row[0]}});
    }
    if (detail) {
        ChecksumTools tools{engine, kes01};
        ASSERT_EQ(StampTableChecksum1(tools, data), ChecksumResult::kDone);
    }
    K4(library, d4close, data);
}

void ConversionTest::customerTable(const fs::path& path, int index, int count) {
    DATA4* data = create(fs::relative(path, folder.path()).string(), kOldCustomer,
                         {{"CODE", "CODE", "", 20, 0}, {"NAME", "UPPER(NAME)", "", 0, 0}});
    ASSERT_NE(data, nullptr);
    for (int i = 1; i <= count; ++i) {
        const Customer c = customer(index, i);
        append(data, {{"CODE", c.code},
                      {"NAME", c.name},
                      {"BALANCE", c.balance},
                      {"OPENED", c.opened},
                      {"REMARK", c.remark},
                      {"NOTES", c.notes}});
        if (c.deleted) K4(library, d4delete, data);
    }
    ChecksumTools tools{engine, kes01};
    ASSERT_EQ(StampTableChecksums(tools, data, 3000), ChecksumResult::kDone);
    K4(library, d4close, data);
}

void ConversionTest::buildApplication(int count, const std::vector<std::string>& zipEntries) {
    records = count;
    for (int i = 0; i < 3; ++i) {
        fs::create_directories(folder / kDataFolders[i] / "TABLES");
        customerTable(folder / kDataFolders[i] / "TABLES" / "CUSTOMER", i, count);
    }
    const std::vector<std::vector<std::string>> installed = {
        {"CUSTOMER", kOldCustomerFields, kOldCustomerTags}, {"SYSTEM", kSystemFields, ""}};
    descriptorTable(folder / "TABLEDET", true, installed);
    descriptorTable(folder / "TABLEDES", false, installed);
    fs::create_directories(folder / "STAGING");
    descriptorTable(folder / "STAGING" / "TABLEDES", false,
                    {{"CUSTOMER", kNewCustomerFields, kNewCustomerTags},
                     {"ORDERS", kOrdersFields, kOrdersTags},
                     {"SYSTEM", kSystemFields, ""}});
    zip::ZipArchive zip;
    zip.setFileName(names.packageFolder + names.tableUpdateFile);
    ASSERT_EQ(zip.create(), 0);
    zip.options().targetFolder = app("STAGING");
    std::string list;
    for (const auto& entry : zipEntries) list += entry + ";";
    ASSERT_EQ(zip.addFiles(list), 0);
    ASSERT_EQ(zip.close(), 0);
    fs::remove_all(folder / "STAGING");
}

std::string ConversionTest::dataFile(const std::string& relative) const { return app(relative); }

std::string ConversionTest::conversionLogText() const {
    return readBytes(folder / "UPDATE" / "TBLUPD0101.TXT");
}

void ConversionTest::expectConvertedCustomer(int index, int count) {
    const std::string table = app(std::string(kDataFolders[index]) + "/TABLES/CUSTOMER");
    int rc = -1;
    const std::string check = runCommand(binFolder() + "/xbtool check " + table, &rc);
    EXPECT_EQ(rc, 0) << check;
    const std::string bytes = readBytes(table + ".DBF");
    ASSERT_EQ(storedRecordCount(bytes), count);
    for (long recno = 1; recno <= count; ++recno) {
        const std::string record = storedRecord(bytes, recno);
        ASSERT_GT(record.size(), 41u);
        ASSERT_EQ(record.substr(1, 40), opensslChecksum(record.substr(41)))
            << table << " record " << recno;
    }
}

}  // namespace tavrel::tables::testing
