// The package installation on real files: packages made by the `zip` program
// installed into a scratch application folder whose history table the real
// engine keeps. Every row of the failure table, with the history records, the
// application level and the application's files checked after each; the
// stage conversion is a fake that leaves a mark in the folder.
#include "agent/session/package_install.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "agent/history/log_text.h"
#include "agent/session/tests/install_fixture.h"
#include "platform/clock.h"
#include "platform/tests/fault_plan.h"

namespace tavrel::session {
namespace {

using namespace tavrel::session::testing;
using platform::FileOperation;
using platform::testing::FaultPlan;

constexpr const char* kMark = "DATA00/TABLES/CONVERTED.MRK";

class FakeConversion final : public TableConversionStage {
  public:
    bool UpdTableConvert(const PackageNames& names) override {
        ++converts;
        seen = names;
        if (answer) writeBytes(fs::path(names.applicationFolder) / kMark, "converted");
        return answer;
    }
    int recoverInterruptedConversion(const PackageNames& names) override {
        ++recovers;
        seen = names;
        fs::remove(fs::path(names.applicationFolder) / kMark);
        return recoverResult;
    }
    bool answer = true;
    int recoverResult = 0;
    int converts = 0;
    int recovers = 0;
    PackageNames seen;
};

class Panels final : public StatusPanels {
  public:
    std::string panelText(std::string_view key) const override {
        auto it = texts.find(std::string(key));
        return it == texts.end() ? std::string() : it->second;
    }
    void setPanelText(std::string_view key, std::string_view text) override {
        texts[std::string(key)] = std::string(text);
    }
    std::map<std::string, std::string> texts;
};

class InstallTest : public tables::testing::EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        DATA4* data = createHistoryTable();
        K4(library, d4close, data);
        writeBytes(folder / "TAVREL32.EXE", "program v100");
        writeBytes(folder / "TAVRELUPD.VER", "TAVREL0100");
        fs::create_directories(folder / "DATA00" / "TABLES");
        fs::create_directories(folder / "FORMS");
        writeBytes(folder / "FORMS" / "MAIN.FRM", "main form v100");
        writeBytes(folder / "FORMS" / "LIST.FRM", "list form v100");
        writeBytes(folder / "README.TXT", "readme v100");
        versions.ReadVersionFile(VersionKind::Application);
    }

    std::string packageFile() const {
        return (folder / "UPDATE" / "TAVREL0101" / "TAVREL0101.ZIP").string();
    }
    void makePackage(const std::vector<std::pair<std::string, std::string>>& entries) {
        fs::create_directories(fs::path(packageFile()).parent_path());
        makeZip(packageFile(), entries);
    }
    // A table-update archive to put into a package.
    std::string tableUpdateBytes() {
        const fs::path inner =
            folder.path().parent_path() / (folder.path().filename().string() + ".tbl.zip");
        makeZip(inner, {{"TABLEDES.DBF", "d"}, {"TABLEDES.CDX", "c"}, {"TABLEDES.FPT", "f"}});
        std::string bytes = readBytes(inner);
        fs::remove(inner);
        return bytes;
    }
    void install() { installer.InstallUpdatePackage(packageFile()); }

    std::vector<std::string> pageLines(int page) const {
        std::vector<std::string> lines;
        const std::string& text = windowLog.pageText(page);
        size_t start = 0;
        while (start <= text.size() && !text.empty()) {
            size_t end = text.find(history::kLineBreak, start);
            if (end == std::string::npos) end = text.size();
            lines.push_back(text.substr(start, end - start));
            start = end + history::kLineBreak.size();
        }
        return lines;
    }
    bool logHas(std::string_view line) const {
        const auto lines = pageLines(1);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    std::string level() const { return readBytes(folder / "TAVRELUPD.VER"); }
    std::string app() const { return folder.text(); }

    // The history after a failed install: only the "G" record (and a "T"
    // record when `tables`), all with "F".
    void expectFailedHistory(std::string_view text, bool tables = false) {
        const auto records = readHistory(engine, folder.path());
        ASSERT_EQ(records.size(), tables ? 2u : 1u);
        const HistoryRecord& g = records.back();
        EXPECT_EQ(g.key, "TAVREL0101");
        EXPECT_EQ(g.zip, "TAVREL0101");
        EXPECT_EQ(g.type, "G");
        EXPECT_EQ(g.result, "F");
        EXPECT_EQ(g.text, text);
        EXPECT_EQ(g.memo, platform::trimText(windowLog.pageText(1)));
        EXPECT_EQ(level(), "TAVREL0100");
        EXPECT_EQ(panels.panelText("CURVERSION"), "TAVREL0100");
        EXPECT_EQ(installer.resultLetter(), "F");
        EXPECT_EQ(installer.resultText(), text);
    }

    history::WindowLog windowLog{[this] { return folder.text() + "UPDATE/"; }};
    Panels panels;
    VersionFiles versions{folder.text(), [this] { return folder.text(); }};
    FakeConversion conversion;
    platform::FixedClock clock{{2026, 12, 7, 18, 0, 0}};
    history::HistoryTable historyTable{engine, clock, folder.text()};
    PackageInstaller installer{InstallTools{windowLog, panels, versions, conversion, &historyTable},
                               folder.text()};
};

TEST_F(InstallTest, AGoodPackageInstallsEveryFileAndMovesTheLevel) {
    makePackage({{"TAVREL32.EXE", "program v101"},
                 {"FORMS/MAIN.FRM", "main form v101"},
                 {"FORMS/NEW/EXTRA.FRM", "extra v101"}});
    install();
    EXPECT_EQ(installer.resultText(), kCompletedText);
    EXPECT_EQ(readBytes(folder / "TAVREL32.EXE"), "program v101");
    EXPECT_EQ(readBytes(folder / "FORMS" / "MAIN.FRM"), "main form v101");
    EXPECT_EQ(readBytes(folder / "FORMS" / "NEW" / "EXTRA.FRM"), "extra v101");
    EXPECT_EQ(readBytes(folder / "FORMS" / "LIST.FRM"), "list form v100");
    EXPECT_EQ(level(), "TAVREL0101");
    EXPECT_EQ(panels.panelText("CURVERSION"), "TAVREL0101");
    EXPECT_EQ(conversion.converts, 0);
    // The replaced files are kept in the backup folder.
    const fs::path backup = folder / "UPDATE" / "TAVREL0101" / "BACKUP";
    EXPECT_EQ(readBytes(backup / "TAVREL32.EXE"), "program v100");
    EXPECT_EQ(readBytes(backup / "FORMS" / "MAIN.FRM"), "main form v100");
    const auto journal = loadInstallJournal((backup / std::string(kInstallJournalName)).string());
    ASSERT_TRUE(journal);
    EXPECT_EQ(journal->state, InstallState::kDone);
    EXPECT_EQ(journal->added, std::vector<std::string>{"FORMS/NEW/EXTRA.FRM"});

    const auto records = readHistory(engine, folder.path());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].type, "G");
    EXPECT_EQ(records[0].result, "S");
    EXPECT_EQ(records[0].text, kCompletedText);
    EXPECT_EQ(records[0].memo, platform::trimText(windowLog.pageText(1)));
}

TEST_F(InstallTest, PageOneNarratesTheStagesInOrder) {
    makePackage({{"README.TXT", "readme v101"}, {"NEWFILE.TXT", "new"}});
    install();
    const std::string pkg = packageFile();
    const std::string plus(75, '+'), equals(75, '=');
    const std::vector<std::string> expected = {
        "Installing Tavrel Update: TAVREL0101",
        "Opened Update Zip File: " + pkg,
        "Total Files in Update: 2",
        plus,
        "STAGE 0 - SELECTING UPDATED FILES TO INSTALL",
        equals,
        "001. Updated File: README.TXT",
        "002. Updated File: NEWFILE.TXT",
        plus,
        "STAGE 2 - BACKING UP CURRENT FILES BEING REPLACED",
        equals,
        "001. Current File has been Moved: " + app() + "README.TXT",
        "002. Current File Not Found: " + app() + "NEWFILE.TXT",
        plus,
        "STAGE 3 - INSTALLING UPDATE FILES",
        equals,
        "001. Installed Update File: " + app() + "README.TXT",
        "002. Installed Update File: " + app() + "NEWFILE.TXT",
        plus,
        std::string(kCompletedText),
        equals,
        "",
    };
    EXPECT_EQ(pageLines(1), expected);
    EXPECT_EQ(windowLog.statusText(1), "UPDATE VERSION - Stage 3 Installing Updated Files");
}

TEST_F(InstallTest, AMissingOrBrokenArchiveFailsToOpenAndChangesNothing) {
    const auto before = applicationFiles(folder.path());
    fs::create_directories(fs::path(packageFile()).parent_path());
    writeBytes(packageFile(), "this is not a zip archive");
    install();
    expectFailedHistory(kOpenFailedText);
    EXPECT_TRUE(logHas("Error opening Update Zip File: " + packageFile()));
    const auto pageOne = pageLines(1);
    EXPECT_TRUE(std::any_of(pageOne.begin(), pageOne.end(), [](const std::string& l) {
        return l.starts_with("ERRORCODE: ") && l != "ERRORCODE: 0";
    }));
    EXPECT_EQ(applicationFiles(folder.path()), before);
}

TEST_F(InstallTest, ADamagedEntryFailsTheArchiveTestBeforeAnythingIsWritten) {
    makePackage({{"README.TXT", "readme v101 with enough text to find"}, {"NEW.TXT", "n"}});
    std::string bytes = readBytes(packageFile());
    // Stored data of a short text: flip a byte of it so the CRC fails.
    const size_t at = bytes.find("readme v101");
    if (at != std::string::npos) {
        bytes[at] ^= 0x20;
    } else {
        bytes[60] ^= 0x55;  // deflated: damage the compressed data
    }
    writeBytes(packageFile(), bytes);
    const auto before = applicationFiles(folder.path());
    install();
    expectFailedHistory(kTestFailedText);
    EXPECT_TRUE(logHas(std::string(kTestFailedText)));
    EXPECT_EQ(applicationFiles(folder.path()), before);
}

TEST_F(InstallTest, AnEntryThatClimbsOutOfTheFolderIsRefusedWhole) {
    fs::create_directories(fs::path(packageFile()).parent_path());
    const std::string script =
        "import zipfile,sys\n"
        "z=zipfile.ZipFile(sys.argv[1],'w')\n"
        "z.writestr('README.TXT','readme v101')\n"
        "z.writestr('../ESCAPED.TXT','outside')\n"
        "z.close()\n";
    writeBytes(folder / "make.py", script);
    ASSERT_EQ(std::system(("/usr/bin/python3 '" + (folder / "make.py").string() + "' '" +
                           packageFile() + "'")
                              .c_str()),
              0);
    fs::remove(folder / "make.py");
    const auto before = applicationFiles(folder.path());
    install();
    expectFailedHistory(kTestFailedText);
    EXPECT_FALSE(fs::exists(folder.path().parent_path() / "ESCAPED.TXT"));
    EXPECT_EQ(applicationFiles(folder.path()), before);
}

TEST_F(InstallTest, AFailedConversionStopsBeforeStageTwoWithBothRecordsFailed) {
    conversion.answer = false;
    makePackage({{"TBLUPD0101.ZIP", tableUpdateBytes()}, {"README.TXT", "readme v101"}});
    const auto before = applicationFiles(folder.path());
    install();
    expectFailedHistory(kConversionFailedText, true);
    EXPECT_EQ(conversion.converts, 1);
    EXPECT_EQ(conversion.seen.tableUpdateFile, "TBLUPD0101.ZIP");
    EXPECT_EQ(conversion.seen.tableUpdateName, "TBLUPD0101");
    EXPECT_EQ(conversion.seen.tableUpdateId, "0101");
    EXPECT_EQ(conversion.seen.packageBackupFolder, app() + "UPDATE/TAVREL0101/BACKUP/");
    EXPECT_TRUE(fs::exists(folder / "UPDATE" / "TAVREL0101" / "TBLUPD0101.ZIP"));
    EXPECT_EQ(conversion.recovers, 0) << "the conversion undoes its own work";
    EXPECT_FALSE(logHas("STAGE 2 - BACKING UP CURRENT FILES BEING REPLACED"));
    EXPECT_EQ(applicationFiles(folder.path()), before);
    const auto records = readHistory(engine, folder.path());
    EXPECT_EQ(records[0].type, "T");
    EXPECT_EQ(records[0].zip, "TBLUPD0101");
    EXPECT_EQ(records[0].text, "Table Conversion - Table Conversion was Aborted Due to Error");
}

TEST_F(InstallTest, AFileThatCannotBeBackedUpRollsBackAndLeavesEverything) {
    makePackage({{"TAVREL32.EXE", "program v101"}, {"FORMS/MAIN.FRM", "main form v101"}});
    // A folder where the backup copy of MAIN.FRM would go.
    fs::create_directories(folder / "UPDATE" / "TAVREL0101" / "BACKUP" / "FORMS" / "MAIN.FRM");
    const auto before = applicationFiles(folder.path());
    install();
    expectFailedHistory(kBackupFailedText);
    EXPECT_TRUE(logHas("002. Current File could not be Moved: " + app() + "FORMS/MAIN.FRM"));
    EXPECT_FALSE(logHas("STAGE 3 - INSTALLING UPDATE FILES"));
    EXPECT_TRUE(logHas("RollBack File OK"));
    EXPECT_EQ(windowLog.statusText(1), "UPDATE VERSION - ROLLBACK");
    EXPECT_EQ(applicationFiles(folder.path()), before);
}

TEST_F(InstallTest, AFailureInStageThreeRestoresReplacedFilesAndRemovesAddedOnes) {
    fs::create_directories(folder / "BLOCKED.DAT");  // a folder where a file must go
    makePackage({{"TAVREL32.EXE", "program v101"},
                 {"FORMS/MAIN.FRM", "main form v101"},
                 {"NEWDIR/SUB/NEW.DAT", "new file"},
                 {"README.TXT", "readme v101"},
                 {"BLOCKED.DAT", "cannot land"}});
    const auto before = applicationFiles(folder.path());
    install();
    expectFailedHistory(kInstallFailedText);
    EXPECT_TRUE(logHas("004. Installed Update File: " + app() + "README.TXT"));
    EXPECT_TRUE(logHas("005. Install Update File Failed: " + app() + "BLOCKED.DAT"));
    const auto pageOne = pageLines(1);
    EXPECT_TRUE(std::any_of(pageOne.begin(), pageOne.end(), [](const std::string& l) {
        return l.starts_with("*** INSTALL FAILED - ERRORCODE: ");
    }));
    EXPECT_TRUE(logHas("RollBack SourceFolder: " + app() + "UPDATE/TAVREL0101/BACKUP/FORMS"));
    EXPECT_TRUE(logHas("RollBack TargetFolder: " + app() + "FORMS"));
    EXPECT_TRUE(logHas("RollBack Folder OK"));
    EXPECT_TRUE(logHas("RollBack SourceFile: " + app() + "UPDATE/TAVREL0101/BACKUP/README.TXT"));
    EXPECT_TRUE(logHas("RollBack Removed File: " + app() + "NEWDIR/SUB/NEW.DAT"));
    // Three replaced files back as they were, the new file and its folders gone.
    EXPECT_EQ(applicationFiles(folder.path()), before);
    const auto journal = loadInstallJournal(
        (folder / "UPDATE" / "TAVREL0101" / "BACKUP" / std::string(kInstallJournalName)).string());
    ASSERT_TRUE(journal);
    EXPECT_EQ(journal->state, InstallState::kRolledBack);
}

TEST_F(InstallTest, AFailureAfterAGoodConversionReturnsTheTables) {
    fs::create_directories(folder / "BLOCKED.DAT");
    makePackage({{"TBLUPD0101.ZIP", tableUpdateBytes()},
                 {"README.TXT", "readme v101"},
                 {"BLOCKED.DAT", "x"}});
    const auto before = applicationFiles(folder.path());
    install();
    expectFailedHistory(kInstallFailedText, true);
    EXPECT_EQ(conversion.converts, 1);
    EXPECT_EQ(conversion.recovers, 1);
    EXPECT_FALSE(fs::exists(folder / kMark));
    EXPECT_EQ(applicationFiles(folder.path()), before);
    const auto records = readHistory(engine, folder.path());
    EXPECT_EQ(records[0].type, "T");
    EXPECT_EQ(records[0].result, "F");
    EXPECT_EQ(records[0].text, "Table Conversion - Current Tables have been Returned");
}

TEST_F(InstallTest, AnEmptyArchiveInstallsNothingAndMovesTheLevel) {
    fs::create_directories(fs::path(packageFile()).parent_path());
    writeBytes(packageFile(), emptyZipBytes());
    const auto before = applicationFiles(folder.path());
    install();
    EXPECT_EQ(installer.resultText(), kCompletedText);
    EXPECT_TRUE(logHas("Total Files in Update: 0"));
    EXPECT_FALSE(logHas("STAGE 0 - SELECTING UPDATED FILES TO INSTALL"));
    EXPECT_EQ(level(), "TAVREL0101");
    auto after = applicationFiles(folder.path());
    after["TAVRELUPD.VER"] = "TAVREL0100";
    EXPECT_EQ(after, before);
    const auto records = readHistory(engine, folder.path());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].result, "S");
}

TEST_F(InstallTest, ThumbsAndATableUpdateAloneRunStageOneAndSucceedWithoutStagesTwoAndThree) {
    makePackage({{"Thumbs.db", "thumbs"}, {"TBLUPD0101.ZIP", tableUpdateBytes()}});
    install();
    EXPECT_EQ(installer.resultText(), kCompletedText);
    EXPECT_EQ(conversion.converts, 1);
    EXPECT_TRUE(logHas("STAGE 1 - INSTALLING TABLE CONVERSION UPDATE"));
    EXPECT_FALSE(logHas("STAGE 2 - BACKING UP CURRENT FILES BEING REPLACED"));
    EXPECT_FALSE(fs::exists(folder / "Thumbs.db"));
    EXPECT_EQ(level(), "TAVREL0101");
    const auto records = readHistory(engine, folder.path());
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].type, "T");
    EXPECT_EQ(records[0].result, "S");
    EXPECT_EQ(records[0].text, "Table Conversion - Tables have been Converted");
    EXPECT_EQ(records[0].memo, platform::trimText(windowLog.pageText(2)));
    EXPECT_EQ(records[1].type, "G");
    EXPECT_EQ(records[1].result, "S");
}

TEST_F(InstallTest, NumberingCountsOnlyInstallableEntries) {
    makePackage({{"THUMBS.DB", "t"},
                 {"TBLUPD0101.ZIP", tableUpdateBytes()},
                 {"README.TXT", "r"},
                 {"FORMS/Thumbs.db", "t"},
                 {"FORMS/NEW.FRM", "n"}});
    install();
    EXPECT_TRUE(logHas("001. Updated File: README.TXT"));
    EXPECT_TRUE(logHas("002. Updated File: FORMS/NEW.FRM"));
    EXPECT_TRUE(logHas("002. Current File Not Found: " + app() + "FORMS/NEW.FRM"));
    EXPECT_FALSE(fs::exists(folder / "FORMS" / "Thumbs.db"));
    EXPECT_EQ(readBytes(folder / "FORMS" / "NEW.FRM"), "n");
}

TEST_F(InstallTest, EntryRulesAndEntryInfo) {
    EXPECT_FALSE(PackageInstaller::IsInstallableEntry(""));
    EXPECT_FALSE(PackageInstaller::IsInstallableEntry("   "));
    EXPECT_FALSE(PackageInstaller::IsInstallableEntry(" thumbs.DB "));
    EXPECT_TRUE(PackageInstaller::IsInstallableEntry("THUMBS.DB.OLD"));
    EXPECT_TRUE(PackageInstaller::IsInstallableEntry("TBLUPD0101.ZIP"));
    makePackage({{"FORMS/SUB/A.FRM", "a"}});
    installer.ZipFile1().setFileName(packageFile());
    ASSERT_EQ(installer.ZipFile1().open(), 0);
    std::string name, path;
    installer.GetZipEntryInfo(0, &name, &path);
    EXPECT_EQ(name, "A.FRM");
    EXPECT_EQ(path, "FORMS/SUB");
    installer.GetZipEntryInfo(5, &name, &path);
    EXPECT_EQ(name, "");
    installer.ZipFile1().close();
}

TEST_F(InstallTest, ARollbackCopyThatFailsIsReportedInPlaceOfTheOkLines) {
    // Backed-up copies that are gone by the time of the rollback.
    installer.journal().backedUp = {"GONE.TXT", "FORMS/GONE.FRM"};
    EXPECT_FALSE(installer.RollbackReplacedFiles(app() + "UPDATE/TAVREL0101/BACKUP/"));
    EXPECT_TRUE(logHas("RollBack File FAILED"));
    EXPECT_TRUE(logHas("RollBack Folder FAILED"));
    EXPECT_FALSE(logHas("RollBack File OK"));
    EXPECT_FALSE(logHas("RollBack Folder OK"));
}

// --- failures injected through the fault plan --------------------------------

class InstallFaultTest : public InstallTest {
  protected:
    // Four replaced files, one in a folder, and one added in a new folder.
    void fourReplacedFilesAndANewOne() {
        makePackage({{"TAVREL32.EXE", "program v101"},
                     {"FORMS/MAIN.FRM", "main form v101 and longer than before"},
                     {"NEWDIR/NEW.DAT", "new file"},
                     {"FORMS/LIST.FRM", "list form v101"},
                     {"README.TXT", "readme v101"}});
    }
    std::string backup(const std::string& relative) const {
        return "UPDATE/TAVREL0101/BACKUP/" + relative;
    }
    InstallState journalState() const {
        const auto journal = loadInstallJournal(
            (folder / "UPDATE" / "TAVREL0101" / "BACKUP" / std::string(kInstallJournalName))
                .string());
        return journal ? journal->state : InstallState::kBackingUp;
    }
};

TEST_F(InstallFaultTest, TheNthBackupCopyFailingRestoresOnlyTheCopiesBeforeIt) {
    fourReplacedFilesAndANewOne();
    const auto before = applicationFiles(folder.path());
    {
        FaultPlan plan(folder.path());
        plan.failNth(FileOperation::kCopy, 3, ENOSPC);
        install();
        // Two good backups, the failing third; then only the two put back.
        EXPECT_EQ(plan.records(FileOperation::kCopy),
                  (std::vector<std::string>{"TAVREL32.EXE -> " + backup("TAVREL32.EXE"),
                                            "FORMS/MAIN.FRM -> " + backup("FORMS/MAIN.FRM"),
                                            "FORMS/LIST.FRM -> " + backup("FORMS/LIST.FRM"),
                                            backup("TAVREL32.EXE") + " -> TAVREL32.EXE",
                                            backup("FORMS/MAIN.FRM") + " -> FORMS/MAIN.FRM"}));
        EXPECT_EQ(plan.count(FileOperation::kWrite), 0) << "nothing was extracted";
    }
    expectFailedHistory(kBackupFailedText);
    EXPECT_TRUE(logHas("004. Current File could not be Moved: " + app() + "FORMS/LIST.FRM"));
    EXPECT_FALSE(logHas("STAGE 3 - INSTALLING UPDATE FILES"));
    EXPECT_EQ(applicationFiles(folder.path()), before);
    EXPECT_EQ(journalState(), InstallState::kRolledBack);
}

TEST_F(InstallFaultTest, ABackupCopyThatBreaksOffHalfWayIsAFailureNotABackup) {
    // The broken copy leaves part of the file where the backup was going: a
    // backup that exists is not a backup that is whole.
    fourReplacedFilesAndANewOne();
    const auto before = applicationFiles(folder.path());
    {
        FaultPlan plan(folder.path());
        plan.failOn(FileOperation::kCopy, backup("FORMS/MAIN.FRM"), EIO).keeping(4);
        install();
        EXPECT_EQ(plan.count(FileOperation::kWrite), 0) << "nothing was extracted";
    }
    expectFailedHistory(kBackupFailedText);
    EXPECT_TRUE(logHas("002. Current File could not be Moved: " + app() + "FORMS/MAIN.FRM"));
    EXPECT_EQ(applicationFiles(folder.path()), before);
    EXPECT_EQ(journalState(), InstallState::kRolledBack);
}

TEST_F(InstallFaultTest, TheNthInstallCopyBreakingOffRestoresEverythingAndAddsNothing) {
    fourReplacedFilesAndANewOne();
    const auto before = applicationFiles(folder.path());
    {
        FaultPlan plan(folder.path());
        // Each small entry is written in one piece: the fourth write is the
        // fourth file extracted, cut short after a few bytes.
        plan.failNth(FileOperation::kWrite, 4, ENOSPC).keeping(3);
        install();
        const auto writes = plan.records(FileOperation::kWrite);
        ASSERT_EQ(writes.size(), 4u);
        EXPECT_EQ(writes[3], "FORMS/LIST.FRM" + std::string(zip::kPartialFileSuffix));
        EXPECT_EQ(plan.countAfterFirstFault(FileOperation::kWrite), 0);
    }
    expectFailedHistory(kInstallFailedText);
    EXPECT_TRUE(logHas("003. Installed Update File: " + app() + "NEWDIR/NEW.DAT"));
    EXPECT_TRUE(logHas("004. Install Update File Failed: " + app() + "FORMS/LIST.FRM"));
    EXPECT_FALSE(logHas("005. Installed Update File: " + app() + "README.TXT"));
    // The new file and its folder gone, no partial file left, the three
    // replaced files back byte for byte, README.TXT never touched.
    EXPECT_EQ(applicationFiles(folder.path()), before);
    EXPECT_EQ(journalState(), InstallState::kRolledBack);
}

TEST_F(InstallFaultTest, ARollbackCopyThatFailsLeavesTheJournalForTheNextAttempt) {
    fourReplacedFilesAndANewOne();
    const auto before = applicationFiles(folder.path());
    {
        FaultPlan plan(folder.path());
        plan.failNth(FileOperation::kWrite, 4, ENOSPC);
        plan.failOn(FileOperation::kCopy, "TAVREL32.EXE", EIO);
        install();
        EXPECT_EQ(plan.count(FileOperation::kCopy, backup("FORMS/MAIN.FRM") + " -> FORMS/MAIN.FRM"),
                  1)
            << "the other files are still put back";
    }
    expectFailedHistory(kInstallFailedText);
    EXPECT_TRUE(logHas("RollBack File FAILED"));
    EXPECT_EQ(readBytes(folder / "TAVREL32.EXE"), "program v101");
    // Unfinished, so that the next installation undoes it first; which it can
    // now that copies work again.
    EXPECT_EQ(journalState(), InstallState::kInstalling);
    EXPECT_EQ(installer.recoverInterruptedInstallations(), 0);
    EXPECT_EQ(applicationFiles(folder.path()), before);
}

}  // namespace
}  // namespace tavrel::session
