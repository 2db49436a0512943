// Test helpers for the table conversion: an application folder with three
// data folders, the demo table CUSTOMER in an older structure in each, the
// descriptor tables, and a package whose table update brings CUSTOMER's new
// structure and a new table ORDERS. Also: a recording progress view, a
// snapshot of the application folder's bytes, and the independent checks
// (OpenSSL SHA-1, xbtool, python3-dbf).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "agent/history/window_log.h"
#include "agent/tables/kes01_library.h"
#include "agent/tables/table_conversion.h"
#include "agent/tables/tests/engine_fixture.h"
#include "agent/tables/tests/openssl_checksum.h"
#include "platform/clock.h"

namespace tavrel::tables::testing {

inline constexpr const char* kDataFolders[] = {"DATA00", "DATA01", "DATA02"};

// Field and tag lists of the descriptors.
extern const char* const kOldCustomerFields;
extern const char* const kOldCustomerTags;
extern const char* const kNewCustomerFields;
extern const char* const kNewCustomerTags;
extern const char* const kOrdersFields;
extern const char* const kOrdersTags;
extern const char* const kSystemFields;

// Customer `i` (from 1) of data folder `folder` as the older table holds it.
struct Customer {
    std::string code, name, balance, opened, remark, notes;
    bool deleted = false;
};
Customer customer(int folder, int i);

class RecordingProgress : public session::ConversionProgressView {
  public:
    void ProgressText(int line, std::string_view text) override;
    void ProgressValue(int bar, std::int64_t value, std::int64_t maximum) override;
    void SelectLogPage(int page) override { selectedPage = page; }

    std::map<int, std::string> text;
    std::map<int, std::int64_t> value, maximum;
    std::vector<std::int64_t> stepValues;  // every value of bar 1
    std::int64_t highestRecordValue = 0;   // bar 3
    bool valueAboveMaximum = false;
    int selectedPage = -1;
};

// Every file (relative path, bytes) and folder below the application folder,
// the package folders in UPDATE/ left out.
struct FolderSnapshot {
    std::map<std::string, std::string> files;
    std::set<std::string> folders;
    bool operator==(const FolderSnapshot&) const = default;
};
FolderSnapshot snapshotOf(const std::filesystem::path& applicationFolder);
// The first difference between two snapshots, for a failure message.
std::string firstDifference(const FolderSnapshot& before, const FolderSnapshot& after);

// Record `recno` of a .DBF file as stored (deletion flag first).
std::string storedRecord(const std::string& bytes, long recno);
long storedRecordCount(const std::string& bytes);

// Runs a shell command under a time limit; its standard output and exit code.
std::string runCommand(const std::string& command, int* exitCode, int seconds = 120);
std::string binFolder();
std::string sourceFolder();

class ConversionTest : public EngineTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // The application with `records` customers per data folder and the
    // package with its table update. `zipEntries` lists the TABLEDES files
    // the table-update zip holds.
    void buildApplication(int records, const std::vector<std::string>& zipEntries = {
                                           "TABLEDES.DBF", "TABLEDES.CDX", "TABLEDES.FPT"});
    // A descriptor table in the application folder (or `where`) with rows
    // (name, fields, tags); TABLEDET gets CHECK_SUM1 stamped.
    void descriptorTable(const std::filesystem::path& path, bool detail,
                         const std::vector<std::vector<std::string>>& rows);
    void customerTable(const std::filesystem::path& path, int folder, int records);

    bool convert() { return conversion.UpdTableConvert(names); }
    std::string app(const std::string& relative) const { return (folder / relative).string(); }
    std::string dataFile(const std::string& relative) const;
    std::string conversionLogText() const;

    // Checks a converted CUSTOMER of data folder `index`: xbtool check, the
    // values through python3-dbf, and CHECK_SUM against OpenSSL.
    void expectConvertedCustomer(int index, int records);

    int records = 0;
    session::PackageNames names;
    Kes01Library kes01{[this](const std::string& line) { logLines.push_back(line); }};
    history::WindowLog windowLog{[this] { return app("UPDATE"); }};
    RecordingProgress progress;
    platform::FixedClock clock{platform::DateTime{2026, 12, 7, 10, 30, 0}};
    std::function<void()> onYield;
    TableConversion conversion{ConversionTools{engine, kes01, windowLog, progress, clock, [this] {
                                                   if (onYield) onYield();
                                               }}};
};

}  // namespace tavrel::tables::testing
