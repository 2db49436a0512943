// A conversion cut short: a child process runs it and a crash point ends the
// child at its Nth file or table operation, like a power cut; the recovery
// then puts the application folder back byte for byte, and the conversion
// runs again to its end. Also the journal's own format, and the return of the
// tables of a conversion that ended well.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "agent/tables/conversion_journal.h"
#include "agent/tables/tests/conversion/conversion_fixture.h"
#include "platform/crash_point.h"

namespace tavrel::tables::testing {
namespace {

namespace fs = std::filesystem;
using platform::testing::readBytes;

class ConversionRecoveryTest : public ConversionTest {
  protected:
    void SetUp() override {
        ConversionTest::SetUp();
        buildApplication(60);
        pristine = snapshotOf(folder.path());
        fs::copy(folder.path(), pristineCopy.path(), fs::copy_options::recursive);
    }
    // A fresh copy of the application before any conversion, at `target`.
    void freshApplication(const fs::path& target) {
        fs::remove_all(target);
        fs::copy(pristineCopy.path(), target, fs::copy_options::recursive);
    }
    // Runs the helper on `appFolder`; its exit code, the output in `*out`.
    int helper(const std::string& mode, const fs::path& appFolder, long crashAt, std::string* out) {
        std::string command =
            crashAt > 0 ? "env TAVREL_CRASH_AT=" + std::to_string(crashAt) + " " : std::string();
        command += binFolder() + "/conversion_crash_helper " + mode + " " + appFolder.string();
        int rc = -1;
        *out = runCommand(command, &rc, 120);
        return rc;
    }
    long crashPointsOfAWholeRun() {
        const fs::path work = scratch / "count";
        freshApplication(work);
        std::string out;
        EXPECT_EQ(helper("convert", work, 0, &out), 0) << out;
        const size_t at = out.find("crash points passed: ");
        return at == std::string::npos ? 0 : std::stol(out.substr(at + 21));
    }
    session::PackageNames namesOf(const fs::path& appFolder) {
        session::PackageNames n = names;
        const std::string base = names.applicationFolder;
        for (std::string* text : {&n.applicationFolder, &n.packageFolder, &n.packageBackupFolder}) {
            *text = appFolder.string() + "/" + text->substr(base.size());
        }
        return n;
    }

    FolderSnapshot pristine;
    platform::testing::TempFolder pristineCopy;
    platform::testing::TempFolder scratch;
};

TEST_F(ConversionRecoveryTest, AConversionEndedAtAnyOfItsOperationsIsPutBackByteForByte) {
    const long total = crashPointsOfAWholeRun();
    ASSERT_GT(total, 30) << "every file and table operation passes a crash point";
    std::set<long> points = {1,
                             2,
                             3,
                             total / 8,
                             total / 4,
                             total / 3,
                             total / 2,
                             2 * total / 3,
                             3 * total / 4,
                             total - 2,
                             total - 1,
                             total};
    const fs::path work = scratch / "app";
    for (long n : points) {
        SCOPED_TRACE("crash at " + std::to_string(n) + " of " + std::to_string(total));
        freshApplication(work);
        std::string out;
        ASSERT_EQ(helper("convert", work, n, &out), platform::kCrashExitCode) << out;
        EXPECT_NE(out.find("crash point " + std::to_string(n) + ":"), std::string::npos) << out;
        EXPECT_EQ(conversion.recoverInterruptedConversion(namesOf(work)), 0);
        const FolderSnapshot after = snapshotOf(work);
        ASSERT_TRUE(pristine == after) << firstDifference(pristine, after) << "\n" << out;
        EXPECT_EQ(conversion.recoverInterruptedConversion(namesOf(work)), 0) << "nothing more";
        EXPECT_TRUE(pristine == snapshotOf(work));
    }
}

// Every crash point, one after the other: a longer run, started by hand with
// --gtest_also_run_disabled_tests.
TEST_F(ConversionRecoveryTest, DISABLED_EveryCrashPointOfTheRunIsRecovered) {
    const long total = crashPointsOfAWholeRun();
    const fs::path work = scratch / "app";
    for (long n = 1; n <= total; ++n) {
        SCOPED_TRACE("crash at " + std::to_string(n) + " of " + std::to_string(total));
        freshApplication(work);
        std::string out;
        ASSERT_EQ(helper("convert", work, n, &out), platform::kCrashExitCode) << out;
        ASSERT_EQ(conversion.recoverInterruptedConversion(namesOf(work)), 0);
        const FolderSnapshot after = snapshotOf(work);
        ASSERT_TRUE(pristine == after) << firstDifference(pristine, after) << "\n" << out;
    }
}

TEST_F(ConversionRecoveryTest, AfterARecoveryTheConversionRunsToItsEnd) {
    const long total = crashPointsOfAWholeRun();
    const fs::path work = scratch / "app";
    freshApplication(work);
    std::string out;
    ASSERT_EQ(helper("convert", work, total / 2, &out), platform::kCrashExitCode) << out;
    ASSERT_EQ(conversion.recoverInterruptedConversion(namesOf(work)), 0);
    ASSERT_TRUE(conversion.UpdTableConvert(namesOf(work)));
    EXPECT_EQ(conversion.lastResult(), 8100);
    const std::string bytes = readBytes(work / "DATA02/TABLES/CUSTOMER.DBF");
    EXPECT_EQ(storedRecordCount(bytes), 60);
    const std::string record = storedRecord(bytes, 60);
    EXPECT_EQ(record.substr(1, 40), opensslChecksum(record.substr(41)));
}

TEST_F(ConversionRecoveryTest, ARecoveryEndedItselfIsTakenUpByTheNext) {
    const long total = crashPointsOfAWholeRun();
    const fs::path work = scratch / "app";
    freshApplication(work);
    std::string out;
    // Late in the run: tables installed, TABLEDET being written.
    ASSERT_EQ(helper("convert", work, total - 3, &out), platform::kCrashExitCode) << out;
    ASSERT_EQ(helper("recover", work, 4, &out), platform::kCrashExitCode) << out;
    EXPECT_EQ(conversion.recoverInterruptedConversion(namesOf(work)), 0);
    const FolderSnapshot after = snapshotOf(work);
    EXPECT_TRUE(pristine == after) << firstDifference(pristine, after);
}

TEST_F(ConversionRecoveryTest, TheTablesOfAConversionThatEndedWellCanBeReturned) {
    ASSERT_TRUE(convert());
    EXPECT_FALSE(pristine == snapshotOf(folder.path()));
    EXPECT_EQ(conversion.returnConvertedTables(names), 0);
    EXPECT_EQ(conversion.summaryText(), "Table Conversion - Current Tables have been Returned");
    const FolderSnapshot after = snapshotOf(folder.path());
    EXPECT_TRUE(pristine == after) << firstDifference(pristine, after);
}

TEST_F(ConversionRecoveryTest, ADamagedJournalIsReportedAndNothingIsTouched) {
    ASSERT_TRUE(convert());
    const FolderSnapshot converted = snapshotOf(folder.path());
    platform::testing::writeBytes(conversionJournalFile(names.packageBackupFolder),
                                  "STATE CONVERTING\nMOVED DATA00/TABLES/CUSTOMER\nBOGUS x\n");
    EXPECT_EQ(conversion.recoverInterruptedConversion(names), int(RecoveryResult::kJournalDamaged));
    EXPECT_TRUE(converted == snapshotOf(folder.path()));
}

TEST_F(ConversionRecoveryTest, WithoutAJournalThereIsNothingToRecover) {
    EXPECT_EQ(conversion.recoverInterruptedConversion(names), 0);
    EXPECT_TRUE(pristine == snapshotOf(folder.path()));
}

TEST(ConversionJournal, ItsTextReadsBackAndStrangeTextIsNoJournal) {
    ConversionJournal journal;
    journal.state = JournalState::kDone;
    journal.absentFolders = {"TABLEMVE", "DATA01/TABLES/TABLENEW"};
    journal.savedDescriptors = {"TABLEDES"};
    journal.movedTables = {"DATA00/TABLES/CUSTOMER"};
    journal.addedTables = {"DATA00/TABLES/ORDERS"};
    const auto back = ConversionJournal::parse(journal.text());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->text(), journal.text());
    EXPECT_EQ(back->state, JournalState::kDone);
    EXPECT_FALSE(ConversionJournal::parse("").has_value()) << "no state";
    EXPECT_FALSE(ConversionJournal::parse("STATE MAYBE\n").has_value());
    EXPECT_FALSE(ConversionJournal::parse("STATE DONE\nMOVED\n").has_value()) << "no value";
    EXPECT_FALSE(ConversionJournal::parse(std::string("STATE DONE\n\0x\n", 13)).has_value());
}

}  // namespace
}  // namespace tavrel::tables::testing
