// The installer's logic driven with real files in temporary agent folders, a
// recording view, a hand-run event queue and a recording program starter.
#include "installer/installer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "installer/tests/installer_fixture.h"
#include "platform/text_rules.h"

namespace tavrel::installer {
namespace {

using testing::AgentFolder;
using testing::FaultyFiles;
using testing::ManualQueue;
using testing::RecordingStarter;
using testing::RecordingView;

std::string upper(std::string_view text) { return tavrel::platform::upperText(text); }

std::string joinLines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += (text.empty() ? "" : "\r\n") + line;
    return upper(text);
}

class InstallerTest : public ::testing::Test {
  protected:
    Installer& make(const std::string& commandLine = "/N/S+2") {
        installer = std::make_unique<Installer>(agent.path(), commandLine, files, starter);
        return *installer;
    }
    // Start-up, window creation and the posted UM_READY.
    void openWindow(const std::string& commandLine = "/N/S+2") {
        make(commandLine);
        ASSERT_TRUE(installer->startUp());
        installer->onCreate(view, queue);
        queue.runAll();
    }
    void tick() {
        installer->onTimer();
        queue.runAll();
    }
    std::string folder() const { return agent.path().string() + "/"; }
    // A new agent version with one file to replace.
    void newAgentVersion() {
        agent.versions("UPDATE0011", "UPDATE0012");
        agent.write("TavrelUpdate1.exe", "old agent");
        agent.write("NewVersion/TavrelUpdate1.exe", "new agent");
        agent.makeFolder("OldVersion");
    }

    AgentFolder agent;
    FaultyFiles files{agent.path()};
    RecordingStarter starter;
    RecordingView view;
    ManualQueue queue;
    std::unique_ptr<Installer> installer;
};

// --- start-up ---------------------------------------------------------------

TEST_F(InstallerTest, EqualVersionsStartTheAgentAtOnceWithTheCommandLine) {
    agent.versions("UPDATE0012", "UPDATE0012");
    make("   /N/S+2 /U");
    EXPECT_FALSE(installer->startUp());
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(starter.started[0].first, "TavrelUpdate1.exe /N/S+2 /U");
    EXPECT_EQ(starter.started[0].second, folder());
    EXPECT_EQ(installer->commandLineText(), "/N/S+2 /U");

    // An older new version does the same; no arguments, no trailing blank.
    agent.versions("UPDATE0013", "UPDATE0012");
    EXPECT_FALSE(make("").startUp());
    ASSERT_EQ(starter.started.size(), 2u);
    EXPECT_EQ(starter.started[1].first, "TavrelUpdate1.exe");
}

TEST_F(InstallerTest, TheAgentCommandLineIsCutAt99Characters) {
    agent.versions("UPDATE0012", "UPDATE0012");
    make(std::string(150, 'x'));
    installer->startUp();
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(starter.started[0].first.size(), 99u);
    EXPECT_EQ(starter.started[0].first, "TavrelUpdate1.exe " + std::string(81, 'x'));
}

TEST_F(InstallerTest, ANewerVersionAsksForTheWindowAndStartsNothing) {
    agent.versions("UPDATE0011", "UPDATE0012");
    make();
    EXPECT_TRUE(installer->startUp());
    EXPECT_TRUE(starter.started.empty());
    EXPECT_EQ(installer->newVersionNumber(), "0012");
}

TEST_F(InstallerTest, MissingVersionFilesAreCreatedEmptyAndReadAsTheDefault) {
    make();
    EXPECT_FALSE(installer->startUp());  // UPDATE0000 is not newer than UPDATE0000
    EXPECT_TRUE(agent.has("TAVRELUPD.VER"));
    EXPECT_TRUE(agent.has("UPDATE.VER"));
    EXPECT_EQ(agent.read("UPDATE.VER"), "");
    EXPECT_EQ(installer->installedVersion(), "UPDATE0000");

    // Without an installed version any real update counts as newer.
    agent.write("UPDATE.VER", "UPDATE0001");
    std::filesystem::remove(agent / "TAVRELUPD.VER");
    EXPECT_TRUE(make().startUp());
}

TEST_F(InstallerTest, ShortVersionFilesReadAsTheDefaultAndLongOnesAsTheirFirstTenBytes) {
    agent.versions("UPDAT", "UPDATE0012\r\nxx");
    make();
    EXPECT_TRUE(installer->startUp());
    EXPECT_EQ(installer->installedVersion(), "UPDATE0000");
    EXPECT_EQ(installer->newVersion(), "UPDATE0012");

    agent.versions("UPDATE001", "UPDATE0012");  // nine bytes
    EXPECT_TRUE(make().startUp());
    EXPECT_EQ(installer->installedVersion(), "UPDATE0000");
}

TEST_F(InstallerTest, VersionsCompareAsUnsignedBytes) {
    // 0xE9 sorts above every digit when bytes are unsigned.
    agent.versions(std::string("UPDATE001") + char(0xE9), "UPDATE0012");
    EXPECT_FALSE(make().startUp());
    agent.versions("UPDATE0012", std::string("UPDATE001") + char(0xE9));
    EXPECT_TRUE(make().startUp());
}

TEST_F(InstallerTest, WindowCreationShowsFolderAndVersionsAndStaysBusyUntilReady) {
    agent.versions("update0011", "update0012");
    make();
    ASSERT_TRUE(installer->startUp());
    installer->onCreate(view, queue);
    EXPECT_TRUE(installer->busy());
    EXPECT_EQ(view.folder, upper(agent.path().string()));
    EXPECT_EQ(view.installed, "UPDATE0011");
    EXPECT_EQ(view.updated, "UPDATE0012");
    EXPECT_EQ(view.timerPeriod, 5000);

    // A tick before UM_READY has run does nothing.
    installer->onTimer();
    EXPECT_EQ(installer->timerStage(), 0);
    EXPECT_EQ(queue.runAll(), 1);
    EXPECT_FALSE(installer->busy());
}

TEST_F(InstallerTest, VersionsThatBecameEqualBeforeTheFirstTickStartTheAgent) {
    agent.versions("UPDATE0011", "UPDATE0012");
    make("/N");
    ASSERT_TRUE(installer->startUp());
    agent.write("TAVRELUPD.VER", "UPDATE0012");  // read again at window creation
    installer->onCreate(view, queue);
    queue.runAll();
    tick();
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(starter.started[0].first, "TavrelUpdate1.exe /N");
    EXPECT_EQ(view.closes, 1);
    EXPECT_TRUE(agent.files(".") == std::vector<std::string>({"TAVRELUPD.VER", "UPDATE.VER"}));
}

// --- the setup program ------------------------------------------------------

TEST_F(InstallerTest, ASetupProgramIsOfferedAndNothingIsInstalled) {
    newAgentVersion();
    agent.write("tavrel_update0012.exe", "setup");
    std::filesystem::permissions(agent / "tavrel_update0012.exe",
                                 std::filesystem::perms::owner_read);
    openWindow();
    tick();

    EXPECT_EQ(installer->setupProgram(), "tavrel_update0012.exe");
    EXPECT_EQ(view.log, joinLines({"New Kestmoor Tavrel Update Setup Application to be Installed "
                                   "on this PC.\r\n",
                                   "Click on Run Setup to Complete\r\n",
                                   "After Setup is Completed Restart the Kestmoor Tavrel Update"}));
    EXPECT_TRUE(view.runSetupEnabled);
    EXPECT_TRUE(view.exitEnabled);
    EXPECT_TRUE(files.copies().empty());
    EXPECT_EQ(agent.read("NewVersion/TavrelUpdate1.exe"), "new agent");
    EXPECT_FALSE(agent.has("UPDATELOG.RES"));
    // Its attributes were reset to normal.
    auto perms = std::filesystem::status(agent / "tavrel_update0012.exe").permissions();
    EXPECT_NE(perms & std::filesystem::perms::owner_write, std::filesystem::perms::none);

    // Later ticks do nothing until a button is pressed.
    for (int i = 0; i < 3; ++i) tick();
    EXPECT_EQ(installer->timerStage(), 1);
    EXPECT_TRUE(starter.started.empty());
    EXPECT_EQ(view.closes, 0);

    installer->onRunSetup();
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(starter.started[0].first, "tavrel_update0012.exe");
    EXPECT_EQ(starter.started[0].second, folder());
    EXPECT_EQ(view.closes, 1);
}

TEST_F(InstallerTest, RunSetupStartsASetupProgramThatArrivedAsAPlainFile) {
    namespace fs = std::filesystem;
    const char* bin = std::getenv("TAVREL_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    newAgentVersion();
    // As the agent downloads it: readable and writable, not marked as a program.
    fs::copy_file(fs::path(bin) / "installer_agent_stub", agent / "TAVREL_UPDATE0012.EXE");
    fs::permissions(agent / "TAVREL_UPDATE0012.EXE",
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    DetachedProgramStarter realStarter;
    Installer real(agent.path(), "/N", files, realStarter);
    ASSERT_TRUE(real.startUp());
    real.onCreate(view, queue);
    queue.runAll();
    real.onTimer();
    queue.runAll();
    ASSERT_TRUE(view.runSetupEnabled);
    const auto perms = fs::status(agent / "TAVREL_UPDATE0012.EXE").permissions();
    EXPECT_EQ(perms & fs::perms::others_exec, fs::perms::none);

    real.onRunSetup();
    EXPECT_EQ(view.closes, 1);
    // The stand-in program records its start in the agent folder.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (agent.read("AGENT_STARTED.TXT").find("end\n") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string record = agent.read("AGENT_STARTED.TXT");
    EXPECT_NE(record.find("TAVREL_UPDATE0012.EXE\ncwd=" + agent.path().string() + "\nend\n"),
              std::string::npos)
        << record;
}

TEST_F(InstallerTest, ASetupNameReachingOutOfTheAgentFolderIsNotOffered) {
    // The number part of a version text comes from the server.
    agent.versions("UPDATE----", "UPDATE../.");
    agent.write("TAVREL_UPDATE../..EXE", "not a setup program of this folder");
    openWindow();
    tick();
    EXPECT_EQ(installer->setupProgram(), "");
    EXPECT_FALSE(view.runSetupEnabled);
    EXPECT_EQ(agent.read("UPDATELOG.RES"), "S\r\n");
}

TEST_F(InstallerTest, ExitClosesTheWindowWithoutStartingTheAgentAndDropsQueuedSteps) {
    newAgentVersion();
    openWindow();
    installer->onTimer();  // UM_CHECK_SETUP posted, not run yet
    installer->onExit();
    queue.runAll();
    EXPECT_EQ(view.closes, 1);
    EXPECT_TRUE(starter.started.empty());
    EXPECT_EQ(agent.read("TavrelUpdate1.exe"), "old agent");
    EXPECT_FALSE(agent.has("UPDATELOG.RES"));
}

// --- a normal installation --------------------------------------------------

TEST_F(InstallerTest, ANormalInstallationBacksUpReplacesRecordsAndRestartsTheAgent) {
    newAgentVersion();
    agent.write("OldVersion/STALE.DLL", "from an earlier run");
    namespace fs = std::filesystem;
    fs::permissions(agent / "TavrelUpdate1.exe", fs::perms::owner_all);
    fs::permissions(agent / "NewVersion/TavrelUpdate1.exe",
                    fs::perms::owner_read | fs::perms::owner_write);
    openWindow("/N/S+2");
    tick();
    // The replaced program is still a program.
    EXPECT_EQ(fs::status(agent / "TavrelUpdate1.exe").permissions(), fs::perms::owner_all);

    EXPECT_EQ(agent.read("OldVersion/TavrelUpdate1.exe"), "old agent");
    EXPECT_EQ(agent.read("TavrelUpdate1.exe"), "new agent");
    EXPECT_FALSE(agent.has("OldVersion/STALE.DLL"));
    EXPECT_TRUE(agent.files("NewVersion").empty());
    EXPECT_EQ(agent.read("TAVRELUPD.VER"), "UPDATE0012");
    EXPECT_EQ(agent.read("UPDATELOG.RES"), "S\r\n");
    EXPECT_EQ(installer->outcome(), Outcome::Installing);

    const std::string expected = joinLines({
        "Updating Current Version UPDATE0011 to new Version UPDATE0012",
        "Deleting File '" + folder() + "OldVersion/STALE.DLL",
        "Return Value ' 0",
        "Installing Updated File TavrelUpdate1.exe",
        "Copying Current File 'TavrelUpdate1.exe' to Backup Folder '" + folder() + "OldVersion/'",
        "Return Value ' 0",
        "Copying Updated File 'TavrelUpdate1.exe' From New Folder '" + folder() + "NewVersion/'",
        "Return Value ' 0",
        "Return Value ' 0",
    });
    EXPECT_EQ(view.log, expected);
    EXPECT_EQ(installer->logText(), expected);
    EXPECT_EQ(agent.read("UPDATELOG.TXT"), expected + "\r\n\r\n");
    EXPECT_EQ(view.installed, "UPDATE0012");
    EXPECT_EQ(view.updated, "UPDATE0012");
    EXPECT_FALSE(installer->busy());
    EXPECT_TRUE(starter.started.empty());

    // The next tick, five seconds on, starts the new agent and closes.
    tick();
    ASSERT_EQ(starter.started.size(), 1u);
    EXPECT_EQ(starter.started[0].first, "TavrelUpdate1.exe /N/S+2");
    EXPECT_EQ(starter.started[0].second, folder());
    EXPECT_EQ(view.closes, 1);
    EXPECT_FALSE(view.exitEnabled);
}

TEST_F(InstallerTest, ClosingBeforeTheQueuedLogStepStillWritesTheLogBesideTheResult) {
    newAgentVersion();
    agent.write("UPDATELOG.TXT", "report of an earlier run");
    openWindow();
    installer->onTimer();
    // Run the queued steps until the installation has written its result.
    while (!agent.has("UPDATELOG.RES") && queue.runOne()) {
    }
    ASSERT_EQ(agent.read("UPDATELOG.RES"), "S\r\n");
    ASSERT_EQ(agent.read("UPDATELOG.TXT"), "report of an earlier run");
    installer->onClosed();  // the system menu, before UM_SAVE_LOG ran
    queue.runAll();
    EXPECT_EQ(agent.read("UPDATELOG.TXT"), installer->logText() + "\r\n\r\n");
    EXPECT_TRUE(installer->closed());
}

TEST_F(InstallerTest, NewFilesReplaceCurrentFilesWhoseNamesDifferOnlyInCase) {
    newAgentVersion();
    std::filesystem::rename(agent / "NewVersion/TavrelUpdate1.exe",
                            agent / "NewVersion/TAVRELUPDATE1.EXE");
    std::filesystem::permissions(agent / "TavrelUpdate1.exe", std::filesystem::perms::owner_read);
    openWindow();
    tick();
    EXPECT_EQ(agent.read("UPDATELOG.RES"), "S\r\n");
    EXPECT_EQ(agent.read("TavrelUpdate1.exe"), "new agent");
    EXPECT_FALSE(agent.has("TAVRELUPDATE1.EXE"));
    EXPECT_EQ(agent.read("OldVersion/TAVRELUPDATE1.EXE"), "old agent");
}

TEST_F(InstallerTest, AnEmptyOrMissingNewVersionFolderCountsAsSuccess) {
    for (bool withFolder : {true, false}) {
        SCOPED_TRACE(withFolder ? "empty folder" : "no folder");
        AgentFolder local;
        PlatformFileOperations localFiles;
        local.versions("UPDATE0011", "UPDATE0012");
        if (withFolder) local.makeFolder("NewVersion");
        RecordingView localView;
        ManualQueue localQueue;
        Installer localInstaller(local.path(), "", localFiles, starter);
        ASSERT_TRUE(localInstaller.startUp());
        localInstaller.onCreate(localView, localQueue);
        localQueue.runAll();
        localInstaller.onTimer();
        localQueue.runAll();
        EXPECT_EQ(localView.log, joinLines({"Updating Current Version UPDATE0011 to new Version "
                                            "UPDATE0012"}));
        EXPECT_EQ(local.read("UPDATELOG.RES"), "S\r\n");
        EXPECT_EQ(local.read("TAVRELUPD.VER"), "UPDATE0012");
        // A missing backup folder is made.
        EXPECT_TRUE(std::filesystem::is_directory(local / "OldVersion"));
    }
}

TEST_F(InstallerTest, ANewFileThatCannotBeDeletedIsLoggedAndInstalledOnlyOnce) {
    newAgentVersion();
    agent.write("KES01.DLL", "old library");
    agent.write("NewVersion/KES01.DLL", "new library");
    files.failDelete("NewVersion/KES01.DLL", EACCES);
    openWindow();
    tick();

    EXPECT_EQ(agent.read("UPDATELOG.RES"), "S\r\n");
    EXPECT_EQ(agent.read("KES01.DLL"), "new library");
    EXPECT_EQ(agent.read("TavrelUpdate1.exe"), "new agent");
    // The backup still holds the old file: it was not backed up a second time.
    EXPECT_EQ(agent.read("OldVersion/KES01.DLL"), "old library");
    EXPECT_EQ(files.copiesOf("KES01.DLL -> OldVersion/KES01.DLL"), 1);
    EXPECT_NE(view.log.find("RETURN VALUE ' " + std::to_string(EACCES)), std::string::npos);
    EXPECT_EQ(agent.files("NewVersion"), std::vector<std::string>({"KES01.DLL"}));
}

// --- failures -----------------------------------------------------------------

class InstallerFailureTest : public InstallerTest {
  protected:
    // Three new files in listing order A, B, C; A and B replace current files.
    void threeNewFiles() {
        agent.versions("UPDATE0011", "UPDATE0012");
        agent.makeFolder("OldVersion");
        for (const char* name : {"A.DLL", "B.DLL"}) {
            agent.write(name, std::string("old ") + name);
            agent.write(std::string("NewVersion/") + name, std::string("new ") + name);
        }
    }
    void expectOriginalsBack() {
        EXPECT_EQ(agent.read("A.DLL"), "old A.DLL");
        EXPECT_EQ(agent.read("B.DLL"), "old B.DLL");
        EXPECT_EQ(agent.read("TAVRELUPD.VER"), "UPDATE0011");
        EXPECT_EQ(agent.read("UPDATELOG.RES"), "F\r\n");
    }
    void expectBannerLast() {
        const std::string rule(64, '=');
        const std::string banner = rule +
                                   "\r\nCOULD NOT UPDATE THE 'KESTMOOR TAVREL UPDATE "
                                   "APPLICATION'\r\nPLEASE CONTACT THE KESTMOOR TAVREL HELPDESK "
                                   "FOR ASSISTANCE\r\n" +
                                   rule;
        ASSERT_GE(view.log.size(), banner.size());
        EXPECT_EQ(view.log.substr(view.log.size() - banner.size()), banner);
        EXPECT_EQ(agent.read("UPDATELOG.TXT"), view.log + "\r\n\r\n");
    }
};

TEST_F(InstallerFailureTest, ANewFileWithoutACurrentOneRestoresEveryBackupOnce) {
    threeNewFiles();
    agent.write("NewVersion/C.DLL", "new C.DLL");
    openWindow();
    tick();

    expectOriginalsBack();
    expectBannerLast();
    EXPECT_EQ(installer->outcome(), Outcome::Failed);
    EXPECT_EQ(files.copiesOf("OldVersion/A.DLL -> A.DLL"), 1);
    EXPECT_EQ(files.copiesOf("OldVersion/B.DLL -> B.DLL"), 1);
    EXPECT_FALSE(agent.has("C.DLL"));
    // The failing file was reported as the last one taken, with no copy.
    EXPECT_NE(view.log.find("COPYING CURRENT FILE 'C.DLL'"), std::string::npos);
    EXPECT_EQ(view.log.find("COPYING UPDATED FILE 'C.DLL'"), std::string::npos);
    EXPECT_EQ(view.installed, "UPDATE0011");
    EXPECT_FALSE(installer->busy());

    // The next tick enables "Exit" and starts nothing; the window waits.
    EXPECT_FALSE(view.exitEnabled);
    tick();
    EXPECT_TRUE(view.exitEnabled);
    EXPECT_FALSE(view.runSetupEnabled);
    for (int i = 0; i < 3; ++i) tick();
    EXPECT_TRUE(starter.started.empty());
    EXPECT_EQ(view.closes, 0);
    installer->onExit();
    EXPECT_EQ(view.closes, 1);
    EXPECT_TRUE(starter.started.empty());
}

TEST_F(InstallerFailureTest, AFailedCopyOfANewFileIsLoggedWithItsErrorAndRolledBack) {
    threeNewFiles();
    files.failCopyTo("B.DLL", ENOSPC);
    openWindow();
    tick();

    expectOriginalsBack();
    expectBannerLast();
    EXPECT_NE(view.log.find("RETURN VALUE ' " + std::to_string(ENOSPC)), std::string::npos);
    EXPECT_EQ(files.copiesOf("OldVersion/A.DLL -> A.DLL"), 1);
    EXPECT_EQ(files.copiesOf("OldVersion/B.DLL -> B.DLL"), 1);
    // The new files not installed stay for another attempt.
    EXPECT_EQ(agent.files("NewVersion"), std::vector<std::string>({"B.DLL"}));
}

TEST_F(InstallerFailureTest, AFailedBackupCopyRestoresOnlyWhatWasBackedUp) {
    threeNewFiles();
    files.failCopyLeaving("OldVersion/B.DLL", EIO, "partial");
    openWindow();
    tick();

    expectOriginalsBack();
    EXPECT_EQ(agent.read("OldVersion/B.DLL"), "partial");
    EXPECT_EQ(files.copiesOf("OldVersion/A.DLL -> A.DLL"), 1);
    EXPECT_EQ(files.copiesOf("OldVersion/B.DLL -> B.DLL"), 0);
}

TEST_F(InstallerFailureTest, AFileWithStuckAttributesFailsBeforeAnyCopy) {
    threeNewFiles();
    files.stuckAttributes("A.DLL");
    openWindow();
    tick();
    expectOriginalsBack();
    EXPECT_TRUE(files.copies().empty());
    EXPECT_EQ(agent.files("NewVersion"), std::vector<std::string>({"A.DLL", "B.DLL"}));
}

TEST_F(InstallerFailureTest, AFailedRestoreStillReportsTheFailure) {
    threeNewFiles();
    agent.write("NewVersion/C.DLL", "new C.DLL");
    files.failCopy("OldVersion/A.DLL -> A.DLL", EROFS);
    openWindow();
    tick();

    EXPECT_EQ(installer->outcome(), Outcome::RestoreFailed);
    EXPECT_EQ(agent.read("UPDATELOG.RES"), "F\r\n");
    expectBannerLast();
    EXPECT_EQ(files.copiesOf("OldVersion/A.DLL -> A.DLL"), 1);
    EXPECT_EQ(agent.read("A.DLL"), "new A.DLL");
    tick();
    EXPECT_TRUE(view.exitEnabled);
}

TEST_F(InstallerFailureTest, AFailedRestoreOfOneFileStillRestoresTheOthersAndLogsEachFailure) {
    threeNewFiles();
    agent.write("C.DLL", "old C.DLL");
    agent.write("NewVersion/C.DLL", "new C.DLL");
    agent.write("NewVersion/D.DLL", "no current file of this name");
    files.failCopy("OldVersion/A.DLL -> A.DLL", EROFS);
    files.failCopy("OldVersion/C.DLL -> C.DLL", EIO);
    openWindow();
    tick();

    EXPECT_EQ(installer->outcome(), Outcome::RestoreFailed);
    EXPECT_EQ(agent.read("A.DLL"), "new A.DLL");
    EXPECT_EQ(agent.read("B.DLL"), "old B.DLL");
    EXPECT_EQ(agent.read("C.DLL"), "new C.DLL");
    EXPECT_EQ(files.copiesOf("OldVersion/B.DLL -> B.DLL"), 1);
    const std::string a = "COULD NOT RESTORE FILE 'A.DLL' FROM BACKUP FOLDER '" +
                          upper(installer->agentFolder()) + "OLDVERSION/' RETURN VALUE ' " +
                          std::to_string(EROFS);
    EXPECT_NE(view.log.find(a), std::string::npos) << view.log;
    EXPECT_NE(view.log.find("COULD NOT RESTORE FILE 'C.DLL'"), std::string::npos);
    EXPECT_EQ(view.log.find("COULD NOT RESTORE FILE 'B.DLL'"), std::string::npos);
    expectBannerLast();
    EXPECT_EQ(agent.read("UPDATELOG.RES"), "F\r\n");
}

TEST_F(InstallerFailureTest, AResultFileThatCannotBeWrittenIsReportedInTheLog) {
    threeNewFiles();
    agent.write("NewVersion/C.DLL", "new C.DLL");
    files.failWrite("UPDATELOG.RES", ENOSPC);
    openWindow();
    tick();

    EXPECT_FALSE(agent.has("UPDATELOG.RES"));
    EXPECT_EQ(installer->resultWriteError(), ENOSPC);
    EXPECT_EQ(installer->logWriteError(), 0);
    const std::string line = "COULD NOT WRITE RESULT FILE '" + upper(installer->agentFolder()) +
                             "UPDATELOG.RES' RETURN VALUE ' " + std::to_string(ENOSPC);
    EXPECT_NE(view.log.find(line), std::string::npos) << view.log;
    // The log file holds the report too, for whoever looks after the failure.
    EXPECT_EQ(agent.read("UPDATELOG.TXT"), view.log + "\r\n\r\n");
}

TEST_F(InstallerTest, ALogFileThatCannotBeWrittenIsReportedInTheLogBox) {
    agent.versions("UPDATE0011", "UPDATE0012");
    agent.write("A.DLL", "old");
    agent.write("NewVersion/A.DLL", "new");
    files.failWrite("UPDATELOG.TXT", EACCES);
    openWindow();
    tick();

    EXPECT_EQ(agent.read("A.DLL"), "new");
    EXPECT_EQ(agent.read("UPDATELOG.RES"), "S\r\n");
    EXPECT_FALSE(agent.has("UPDATELOG.TXT"));
    EXPECT_EQ(installer->logWriteError(), EACCES);
    const std::string line = "COULD NOT WRITE LOG FILE '" + upper(installer->agentFolder()) +
                             "UPDATELOG.TXT' RETURN VALUE ' " + std::to_string(EACCES);
    EXPECT_TRUE(view.log.ends_with(line)) << view.log;
}

TEST_F(InstallerFailureTest, ANewLevelThatCannotBeRecordedFailsAndRestoresTheOldFiles) {
    // Every file went in, but TAVRELUPD.VER still names the old level: the
    // agent would be installed again at every start, so it is not a success.
    threeNewFiles();
    files.failCopy("UPDATE.VER -> TAVRELUPD.VER", EACCES);
    openWindow();
    tick();

    EXPECT_EQ(installer->outcome(), Outcome::Failed);
    expectOriginalsBack();
    expectBannerLast();
    EXPECT_EQ(files.copiesOf("OldVersion/A.DLL -> A.DLL"), 1);
    EXPECT_EQ(files.copiesOf("OldVersion/B.DLL -> B.DLL"), 1);
    EXPECT_EQ(view.installed, "UPDATE0011");
    tick();
    EXPECT_TRUE(view.exitEnabled);
    EXPECT_TRUE(starter.started.empty());
}

TEST_F(InstallerFailureTest, AFailedClearOfTheBackupReplacesNothingAndRestoresNothingStale) {
    threeNewFiles();
    agent.write("OldVersion/A.DLL", "an older A.DLL");
    files.failDelete("OldVersion/A.DLL", EBUSY);
    openWindow();
    tick();

    expectOriginalsBack();
    expectBannerLast();
    EXPECT_EQ(files.copiesOf("OldVersion/A.DLL -> A.DLL"), 0);
    EXPECT_EQ(agent.files("NewVersion"), std::vector<std::string>({"A.DLL", "B.DLL"}));
    EXPECT_NE(view.log.find("DELETING FILE '" + upper(folder()) +
                            "OLDVERSION/A.DLL\r\nRETURN "
                            "VALUE ' " +
                            std::to_string(EBUSY)),
              std::string::npos);
    EXPECT_EQ(view.log.find("INSTALLING UPDATED FILE"), std::string::npos);
}

}  // namespace
}  // namespace tavrel::installer
