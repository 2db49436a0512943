// The installation journal and the recovery of an installation that was cut
// short: the journal's text read back and refused when damaged, and an
// application folder left half-installed put back before the next install.
#include <gtest/gtest.h>

#include "agent/session/install_journal.h"
#include "agent/session/package_install.h"
#include "agent/session/tests/install_fixture.h"
#include "agent/session/tests/scratch_folder.h"
#include "platform/files.h"

namespace tavrel::session {
namespace {

using namespace tavrel::session::testing;

TEST(InstallJournalTest, TextReadsBackAsTheSameJournal) {
    InstallJournal journal;
    journal.state = InstallState::kInstalling;
    journal.levelBefore = "TAVREL0100";
    journal.tableUpdateFile = "TBLUPD0101.ZIP";
    journal.backedUp = {"TAVREL32.EXE", "FORMS/MAIN FORM.FRM"};
    journal.added = {"NEW/A.DAT"};
    journal.folders = {"NEW"};
    const auto back = InstallJournal::parse(journal.text());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->state, InstallState::kInstalling);
    EXPECT_EQ(back->levelBefore, "TAVREL0100");
    EXPECT_EQ(back->tableUpdateFile, "TBLUPD0101.ZIP");
    EXPECT_EQ(back->backedUp, journal.backedUp);
    EXPECT_EQ(back->added, journal.added);
    EXPECT_EQ(back->folders, journal.folders);
    EXPECT_TRUE(back->unfinished());
}

TEST(InstallJournalTest, DamagedOrDangerousJournalsAreRefused) {
    const std::string head = "TAVREL INSTALL JOURNAL 1\n";
    EXPECT_FALSE(InstallJournal::parse(""));
    EXPECT_FALSE(InstallJournal::parse("STATE DONE\n"));
    EXPECT_FALSE(InstallJournal::parse(head)) << "no state";
    EXPECT_FALSE(InstallJournal::parse(head + "STATE HALFWAY\n"));
    EXPECT_FALSE(InstallJournal::parse(head + "STATE DONE\nWHAT x\n"));
    EXPECT_FALSE(InstallJournal::parse(head + "STATE DONE\nADDED ../outside\n"));
    EXPECT_FALSE(InstallJournal::parse(head + "STATE DONE\nADDED /etc/passwd\n"));
    EXPECT_FALSE(InstallJournal::parse(head + "STATE DONE\nBACKEDUP C:\\X\n"));
    EXPECT_FALSE(InstallJournal::parse(head + "STATE DONE\nBACKEDUP a//b\n"));
    EXPECT_FALSE(InstallJournal::parse(head + "STATE DONE\nTABLES ../T.ZIP\n"));
    EXPECT_TRUE(InstallJournal::parse(head + "STATE ROLLEDBACK\r\nLEVEL TAVREL0100\r\n"));
}

TEST(InstallJournalTest, SavedAtomicallyAndLoaded) {
    tavrel::testing::ScratchFolder folder;
    const std::string file = installJournalFile(folder.text());
    bool damaged = true;
    EXPECT_FALSE(loadInstallJournal(file, &damaged));
    EXPECT_FALSE(damaged);
    InstallJournal journal;
    journal.state = InstallState::kBackingUp;
    ASSERT_EQ(saveInstallJournal(file, journal), 0);
    EXPECT_EQ(loadInstallJournal(file)->state, InstallState::kBackingUp);
    EXPECT_EQ(platform::listFiles(folder.path()).size(), 1u) << "no temporary file left";
    writeBytes(file, "garbage");
    EXPECT_FALSE(loadInstallJournal(file, &damaged));
    EXPECT_TRUE(damaged);
}

class RecoveryConversion final : public TableConversionStage {
  public:
    bool UpdTableConvert(const PackageNames&) override { return true; }
    int recoverInterruptedConversion(const PackageNames& names) override {
        ++recovers;
        seen = names;
        return result;
    }
    int recovers = 0;
    int result = 0;
    PackageNames seen;
};

class NoPanels final : public StatusPanels {
  public:
    std::string panelText(std::string_view) const override { return {}; }
    void setPanelText(std::string_view, std::string_view) override {}
};

class RecoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        writeBytes(folder / "TAVRELUPD.VER", "TAVREL0100");
        fs::create_directories(folder / "FORMS");
        writeBytes(folder / "FORMS" / "MAIN.FRM", "main v100");
        writeBytes(folder / "README.TXT", "readme v100");
        before = applicationFiles(folder.path());
        // What a run killed in stage 3 leaves: one file replaced, one added in
        // a new folder, one half-written, the level already written.
        const fs::path backup = folder / "UPDATE" / "TAVREL0101" / "BACKUP";
        fs::create_directories(backup / "FORMS");
        writeBytes(backup / "FORMS" / "MAIN.FRM", "main v100");
        writeBytes(backup / "README.TXT", "readme v100");
        writeBytes(backup / "STALE.TXT", "a backup of an earlier run, not this one's");
        writeBytes(folder / "FORMS" / "MAIN.FRM", "main v101");
        writeBytes(folder / ("README.TXT" + std::string(zip::kPartialFileSuffix)), "read");
        fs::create_directories(folder / "NEW" / "SUB");
        writeBytes(folder / "NEW" / "SUB" / "A.DAT", "new");
        writeBytes(folder / "TAVRELUPD.VER", "TAVREL0101");
        journal.state = InstallState::kInstalling;
        journal.levelBefore = "TAVREL0100";
        journal.tableUpdateFile = "TBLUPD0101.ZIP";
        journal.backedUp = {"FORMS/MAIN.FRM", "README.TXT"};
        journal.added = {"NEW/SUB/A.DAT"};
        journal.folders = {"NEW", "NEW/SUB"};
        journalFile = installJournalFile(backup.string() + "/");
        ASSERT_EQ(saveInstallJournal(journalFile, journal), 0);
    }

    tavrel::testing::ScratchFolder folder;
    std::map<std::string, std::string> before;
    InstallJournal journal;
    std::string journalFile;
    history::WindowLog windowLog{[this] { return folder.text() + "UPDATE/"; }};
    NoPanels panels;
    VersionFiles versions{folder.text(), [this] { return folder.text(); }};
    RecoveryConversion conversion;
    PackageInstaller installer{InstallTools{windowLog, panels, versions, conversion},
                               folder.text()};
};

TEST_F(RecoveryTest, AnInterruptedInstallIsUndoneExactlyFromItsJournal) {
    EXPECT_EQ(installer.recoverInterruptedInstallations(), 0);
    EXPECT_EQ(applicationFiles(folder.path()), before);
    EXPECT_EQ(conversion.recovers, 1);
    EXPECT_EQ(conversion.seen.tableUpdateName, "TBLUPD0101");
    EXPECT_EQ(conversion.seen.tableUpdateId, "0101");
    EXPECT_EQ(conversion.seen.packageBackupFolder, folder.text() + "UPDATE/TAVREL0101/BACKUP/");
    EXPECT_EQ(loadInstallJournal(journalFile)->state, InstallState::kRolledBack);
    EXPECT_NE(windowLog.pageText(1).find("Interrupted Install Undone"), std::string::npos);
    // A second recovery finds nothing left to do.
    EXPECT_EQ(installer.recoverInterruptedInstallations(), 0);
    EXPECT_EQ(conversion.recovers, 1);
}

TEST_F(RecoveryTest, ATableRecoveryThatFailsKeepsTheJournalForTheNextAttempt) {
    conversion.result = 3;
    EXPECT_EQ(installer.recoverInterruptedInstallations(), 1);
    EXPECT_TRUE(loadInstallJournal(journalFile)->unfinished());
    conversion.result = 0;
    EXPECT_EQ(installer.recoverInterruptedInstallations(), 0);
    EXPECT_EQ(applicationFiles(folder.path()), before);
}

TEST_F(RecoveryTest, TheNextInstallFirstUndoesAndADamagedJournalStopsIt) {
    writeBytes(journalFile, "not a journal");
    fs::create_directories(folder / "UPDATE" / "TAVREL0102");
    makeZip(folder / "UPDATE" / "TAVREL0102" / "TAVREL0102.ZIP", {{"README.TXT", "v102"}});
    installer.InstallUpdatePackage((folder / "UPDATE" / "TAVREL0102" / "TAVREL0102.ZIP").string());
    EXPECT_EQ(installer.resultText(), "FAILED TO UNDO AN INTERRUPTED INSTALLATION");
    EXPECT_EQ(readBytes(folder / "README.TXT"), "readme v100") << "nothing installed";

    ASSERT_EQ(saveInstallJournal(journalFile, journal), 0);
    installer.InstallUpdatePackage((folder / "UPDATE" / "TAVREL0102" / "TAVREL0102.ZIP").string());
    EXPECT_EQ(installer.resultText(), kCompletedText);
    auto expected = before;
    expected["README.TXT"] = "v102";
    expected["TAVRELUPD.VER"] = "TAVREL0102";
    EXPECT_EQ(applicationFiles(folder.path()), expected);
}

}  // namespace
}  // namespace tavrel::session
