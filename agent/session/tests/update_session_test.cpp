// The update session against a real FTP server on loopback: package selection
// and install order, lower-case names, the agent folders, retries, refused
// logins, cut and stalled transfers, unsafe names; and the window's rules
// (closing, the day recorded) driven with a fixed clock.
#include <gtest/gtest.h>

#include "agent/session/tests/update_session_fixture.h"
#include "platform/tests/fault_plan.h"

namespace tavrel::session::testing {
namespace {

using ftpclient::testing::patternBytes;
using tavrel::testing::readBytes;
using tavrel::testing::writeBytes;

std::string packageBytes(const std::string& level) { return "zip of " + level; }

void putPackages(FtpTestServer& server, int from, int to) {
    for (int n = from; n <= to; ++n) {
        const std::string level = "TAVREL0" + std::to_string(n);
        server.put(kFolder4 + level + ".ZIP", packageBytes(level));
    }
}

TEST_F(SessionTest, NewerPackagesAreSelectedNewestFirstAndInstalledOldestFirst) {
    putPackages(startServer(), 120, 125);
    server->put(kFolder4 + "TAVREL0123.TXT", "not a package");
    server->put(kFolder4 + "UPDATE.ZIP", "not a package");
    setLevels("TAVREL0122", "UPDATE0011");
    open(true);
    EXPECT_EQ(window->panels["CURVERSION"], "TAVREL0122");
    EXPECT_EQ(window->panels["AUTOUPDATE"], "AUTO");
    session->cmdConnectClick();

    EXPECT_EQ(window->linesStarting("New Update File On Server: "),
              (std::vector<std::string>{"New Update File On Server: TAVREL0125.ZIP",
                                        "New Update File On Server: TAVREL0124.ZIP",
                                        "New Update File On Server: TAVREL0123.ZIP"}));
    EXPECT_EQ(window->remoteNames,
              (std::vector<std::string>{"TAVREL0123.ZIP", "TAVREL0124.ZIP", "TAVREL0125.ZIP"}));
    EXPECT_EQ(installation->installed,
              (std::vector<std::string>{"TAVREL0123.ZIP", "TAVREL0124.ZIP", "TAVREL0125.ZIP"}));
    EXPECT_EQ(installation->contents[1], packageBytes("TAVREL0124"));
    EXPECT_TRUE(platform::fileExists(applicationFolder() / "UPDATE/TAVREL0124/TAVREL0124.ZIP"));
    EXPECT_TRUE(platform::folderExists(applicationFolder() / "UPDATE/TAVREL0124/BACKUP"));
    EXPECT_FALSE(platform::fileExists(applicationFolder() / "UPDATE/TAVREL0124.ZIP"))
        << "the package is moved into its own folder";
    EXPECT_EQ(appLevel(), "TAVREL0125");
    EXPECT_EQ(session->lastSessionResult(), int(SessionResult::kInstalled));
    EXPECT_EQ(window->linesStarting("RESULT: ").back(),
              "RESULT: INSTALL SUCCESS TAVREL UPDATE: TAVREL0125");
    EXPECT_EQ(session->stepCode(), int(FtpStep::kDisconnected));
    EXPECT_FALSE(session->ftp().connected());
    EXPECT_TRUE(session->buttonEnabled(UpdateButton::kExit));
    EXPECT_FALSE(session->buttonEnabled(UpdateButton::kConnect)) << "automatic session";
    std::string saved = readBytes(applicationFolder() / "UPDATE/TAVRELUPD0.LOG");
    EXPECT_NE(saved.find("RESULT: INSTALL SUCCESS TAVREL UPDATE: TAVREL0123"), std::string::npos);

    // The next tick finds no retry due and closes; the day is recorded.
    clock.advanceMinutes(1);
    session->Timer1Tick();
    ASSERT_EQ(closeAllowed, std::vector<bool>{true});
    EXPECT_EQ(configuration.ReadUpdateLast(), "20261207");
    EXPECT_TRUE(state.completedToday);
    EXPECT_EQ(session->stepCode(), int(FtpStep::kShutDown));
}

TEST_F(SessionTest, LowerCasePackageNamesInADosListingAreSavedUpperCased) {
    startServer({"--dos-listing"});
    server->put(kFolder4 + "tavrel0123.zip", "lower");
    server->put(kFolder4 + "TAVREL0122.zip", "old");
    setLevels("TAVREL0122", "UPDATE0011");
    open(false);
    session->cmdConnectClick();
    ASSERT_EQ(installation->installed, std::vector<std::string>{"TAVREL0123.ZIP"});
    EXPECT_EQ(installation->contents[0], "lower");
    EXPECT_EQ(platform::listFiles(applicationFolder() / "UPDATE/TAVREL0123"),
              std::vector<std::string>{"TAVREL0123.ZIP"});
    EXPECT_EQ(appLevel(), "TAVREL0123");
}

TEST_F(SessionTest, NewerAgentInFolder1BringsTheSetupProgramAndEndsTheSession) {
    startServer();
    server->put(kFolder1 + "UPDATE.VER", "UPDATE0012");
    server->put(kFolder1 + "TAVREL_UPDATE.EXE", "setup program");
    server->put(kFolder1 + "README.TXT", "ignored");
    server->put(kFolder2 + "UPDATE.VER", "UPDATE0012");
    server->put(kFolder2 + "TavrelUpdate1.exe", "agent");
    putPackages(*server, 123, 123);
    setLevels("TAVREL0122", "UPDATE0011");
    open(false);
    session->cmdConnectClick();

    EXPECT_EQ(readBytes(agentFolder() / "TAVREL_UPDATE0012.EXE"), "setup program");
    EXPECT_EQ(readBytes(agentFolder() / "UPDATE.VER"), "UPDATE0012");
    EXPECT_FALSE(platform::fileExists(agentFolder() / "README.TXT"));
    EXPECT_TRUE(session->restartFlag());
    EXPECT_TRUE(window->linesStarting("Checking Download Remote Folder2").empty());
    EXPECT_TRUE(window->linesStarting("Checking Download Remote Folder4").empty());
    EXPECT_TRUE(installation->installed.empty());
    EXPECT_EQ(window->panels["NEWVERSION"], "UPDATE0012");
    EXPECT_EQ(window->notices, 1) << "notice 4500 in a user session";
    EXPECT_EQ(closeAllowed, std::vector<bool>{true}) << "the window closes at once";
    EXPECT_NE(configuration.ReadUpdateLast(), "20261207");
}

TEST_F(SessionTest, NewerUpdateVerWithoutAgentFileGoesOnToFolder2AndThePackages) {
    startServer();
    server->put(kFolder1 + "UPDATE.VER", "UPDATE0012");
    server->put(kFolder1 + "OTHER.EXE", "not an agent file");
    putPackages(*server, 123, 123);
    setLevels("TAVREL0122", "UPDATE0011");
    open(true);
    session->cmdConnectClick();
    EXPECT_FALSE(session->restartFlag());
    EXPECT_FALSE(platform::fileExists(agentFolder() / "UPDATE.VER"));
    EXPECT_EQ(window->linesStarting("Checking Download Remote Folder2").size(), 1u);
    EXPECT_EQ(installation->installed, std::vector<std::string>{"TAVREL0123.ZIP"});
    EXPECT_EQ(window->closeRequests, 0);
}

TEST_F(SessionTest, Folder2AgentFilesGoToNewVersionAndUpdateVerComesLast) {
    startServer();
    server->put(kFolder2 + "update.ver", "UPDATE0012");
    server->put(kFolder2 + "TavrelUpdate1.exe", "new agent");
    server->put(kFolder2 + "TAVRELUPDATE.EXE", "new installer");
    setLevels("TAVREL0122", "UPDATE0011");
    open(true);
    session->cmdConnectClick();
    EXPECT_EQ(readBytes(agentFolder() / "NewVersion/TAVRELUPDATE1.EXE"), "new agent");
    EXPECT_EQ(readBytes(agentFolder() / "TAVRELUPDATE.EXE"), "new installer");
    EXPECT_EQ(readBytes(agentFolder() / "UPDATE.VER"), "UPDATE0012");
    EXPECT_EQ(window->linesStarting("Downloaded Updates from Folder1").size(), 1u);
    EXPECT_TRUE(session->restartFlag());
    EXPECT_EQ(window->notices, 0) << "no notice in an automatic session";
    EXPECT_EQ(closeAllowed, std::vector<bool>{true});
}

TEST_F(SessionTest, AutomaticSessionThatCannotConnectRetriesEveryNinthTickUntilTheFinish) {
    configuration.WriteFtpHost("127.0.0.1:1");
    setLevels("TAVREL0122", "UPDATE0011");
    clock.set({2026, 12, 7, 0, 59, 45});
    open(true);
    EXPECT_TRUE(window->timerRunning);
    EXPECT_EQ(window->timerInterval, kFirstTickMilliseconds);
    clock.set({2026, 12, 7, 1, 0, 0});
    std::vector<std::string> attempts;
    for (int minute = 0; minute <= 130 && window->closeRequests == 0; ++minute) {
        const std::size_t before = window->lines.size();
        session->Timer1Tick();
        for (std::size_t i = before; i < window->lines.size(); ++i)
            if (window->lines[i].starts_with("Connecting to"))
                attempts.push_back(platform::formatDateTime(clock.now(), "Hh:Nn"));
        if (minute == 0) {
            EXPECT_EQ(window->timerInterval, kTickMilliseconds);
        } else if (minute == 1) {
            EXPECT_EQ(window->status0.back(), "Next Connection Due In 8 Mins");
        } else if (minute == 8) {
            EXPECT_EQ(window->status0.back(), "Next Connection Due In 1 Mins");
        }
        clock.advanceMinutes(1);
    }
    clock.advanceMinutes(-1);
    ASSERT_GE(attempts.size(), 3u);
    EXPECT_EQ(attempts[0], "01:00");
    EXPECT_EQ(attempts[1], "01:09");
    EXPECT_EQ(attempts[2], "01:18");
    EXPECT_EQ(attempts.back(), "02:57");
    EXPECT_EQ(attempts.size(), 14u);
    EXPECT_EQ(platform::formatDateTime(clock.now(), "Hh:Nn"), "03:00") << "closed at the finish";
    EXPECT_EQ(closeAllowed, std::vector<bool>{true});
    EXPECT_EQ(configuration.ReadUpdateLast(), "") << "a failed day is not recorded";
    EXPECT_FALSE(window->linesStarting("Ftp Error : ").empty());
}

TEST_F(SessionTest, RefusedLoginSetsTheRetryFlagAndEndsInStep9010) {
    putPackages(startServer({"--refuse-login"}), 123, 123);
    setLevels("TAVREL0122", "UPDATE0011");
    open(false);
    session->cmdConnectClick();
    EXPECT_TRUE(session->retryFlag());
    EXPECT_EQ(session->stepCode(), int(FtpStep::kDisconnected));
    EXPECT_TRUE(window->linesStarting("Connected to").empty());
    EXPECT_EQ(window->linesStarting("Ftp Error : 12105").size(), 1u);
    // The window log is not saved after a failed connection; LOG.TXT says why.
    const std::string log = readBytes(agentFolder() / "LOG.TXT");
    EXPECT_NE(log.find("Update Check - No connection to the Update Server: Ftp Error : 12105"),
              std::string::npos)
        << log;
    EXPECT_TRUE(installation->installed.empty());
    EXPECT_TRUE(session->buttonEnabled(UpdateButton::kConnect));
    EXPECT_TRUE(session->buttonEnabled(UpdateButton::kExit));
    EXPECT_FALSE(session->buttonEnabled(UpdateButton::kDisconnect));
}

TEST_F(SessionTest, CutTransferStopsAtThatPackageAndTheNextSessionInstallsFromIt) {
    startServer({"--cut-after", "50000"});
    server->put(kFolder4 + "TAVREL0123.ZIP", "small");
    server->put(kFolder4 + "TAVREL0124.ZIP", patternBytes(200000));
    server->put(kFolder4 + "TAVREL0125.ZIP", "small too");
    setLevels("TAVREL0122", "UPDATE0011");
    fs::create_directories(applicationFolder() / "UPDATE");
    writeBytes(applicationFolder() / "UPDATE/TAVREL0124.ZIP", "old file");
    open(true);
    session->cmdConnectClick();
    EXPECT_EQ(installation->installed, std::vector<std::string>{"TAVREL0123.ZIP"});
    EXPECT_EQ(appLevel(), "TAVREL0123");
    EXPECT_EQ(readBytes(applicationFolder() / "UPDATE/TAVREL0124.ZIP"), "old file");
    EXPECT_EQ(platform::listFiles(applicationFolder() / "UPDATE"),
              (std::vector<std::string>{"TAVREL0124.ZIP", "TAVRELUPD0.LOG"}))
        << "no partial file is left";
    EXPECT_EQ(window->linesStarting("RESULT: ").back(),
              "RESULT: DOWNLOAD FAILED TAVREL UPDATE: TAVREL0124");
    EXPECT_EQ(window->status0.back().find("RESULT: DOWNLOAD FAILED"), std::string::npos)
        << "the session went on to disconnect";
    EXPECT_EQ(session->lastSessionResult(), int(SessionResult::kInstallFailed));
    clock.advanceMinutes(1);
    session->Timer1Tick();
    EXPECT_EQ(configuration.ReadUpdateLast(), "") << "the day is not recorded";

    // The next session, with a server that does not cut, goes on from 0124.
    std::string big = readBytes(server->root() / kFolder4 / "TAVREL0124.ZIP");
    startServer();
    server->put(kFolder4 + "TAVREL0123.ZIP", "small");
    server->put(kFolder4 + "TAVREL0124.ZIP", big);
    server->put(kFolder4 + "TAVREL0125.ZIP", "small too");
    open(true);
    session->cmdConnectClick();
    EXPECT_EQ(installation->installed,
              (std::vector<std::string>{"TAVREL0124.ZIP", "TAVREL0125.ZIP"}));
    EXPECT_EQ(installation->contents[0], big);
    EXPECT_EQ(appLevel(), "TAVREL0125");
}

TEST_F(SessionTest, APackageThatCannotBeMovedIntoItsFolderIsNotInstalledFromAnOlderCopy) {
    startServer();
    server->put(kFolder4 + "TAVREL0123.ZIP", packageBytes("TAVREL0123"));
    setLevels("TAVREL0122", "UPDATE0011");
    // An earlier attempt left its copy in the package folder.
    fs::create_directories(applicationFolder() / "UPDATE/TAVREL0123");
    writeBytes(applicationFolder() / "UPDATE/TAVREL0123/TAVREL0123.ZIP", "older copy");
    open(true);
    platform::testing::FaultPlan plan(applicationFolder());
    plan.failOn(platform::FileOperation::kCopy, "UPDATE/TAVREL0123/TAVREL0123.ZIP", ENOSPC);
    session->cmdConnectClick();
    EXPECT_EQ(plan.faultsInjected(), 1);
    EXPECT_TRUE(installation->installed.empty());
    EXPECT_EQ(appLevel(), "TAVREL0122");
    EXPECT_EQ(window->linesStarting("RESULT: ").back(),
              "RESULT: DOWNLOAD FAILED TAVREL UPDATE: TAVREL0123");
    EXPECT_EQ(session->lastSessionResult(), int(SessionResult::kInstallFailed));
}

TEST_F(SessionTest, StalledServerEndsTheSessionWithinTheStallLimit) {
    startServer({"--stall-after", "20000"});
    server->put(kFolder4 + "TAVREL0123.ZIP", patternBytes(100000));
    setLevels("TAVREL0122", "UPDATE0011");
    timeouts = {std::chrono::milliseconds(3000), std::chrono::milliseconds(1000)};
    open(true);
    const auto started = std::chrono::steady_clock::now();
    session->cmdConnectClick();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_TRUE(installation->installed.empty());
    EXPECT_EQ(window->linesStarting("RESULT: ").back(),
              "RESULT: DOWNLOAD FAILED TAVREL UPDATE: TAVREL0123");
    EXPECT_EQ(session->stepCode(), int(FtpStep::kDisconnected));
    EXPECT_TRUE(session->buttonEnabled(UpdateButton::kExit));
    EXPECT_EQ(platform::listFiles(applicationFolder() / "UPDATE"),
              std::vector<std::string>{"TAVRELUPD0.LOG"});
}

TEST_F(SessionTest, UnsafeRemoteNamesAreNeverListedOrFetched) {
    startServer();
    server->put(kFolder4 + "TAVREL0123.ZIP", "good");
    server->put(kFolder4 + "..\\TAVREL0124.ZIP", "escapes the folder");
    server->put(kFolder4 + "C:TAVREL0125.ZIP", "drive prefix");
    server->put(kFolder4 + "   ", "blank name");
    setLevels("TAVREL0122", "UPDATE0011");
    open(true);
    session->cmdConnectClick();
    auto ignored = window->linesStarting("Unsafe Remote File Name Ignored: ");
    std::sort(ignored.begin(), ignored.end());
    EXPECT_EQ(ignored,
              (std::vector<std::string>{"Unsafe Remote File Name Ignored:    ",
                                        "Unsafe Remote File Name Ignored: ..\\TAVREL0124.ZIP",
                                        "Unsafe Remote File Name Ignored: C:TAVREL0125.ZIP"}));
    EXPECT_EQ(installation->installed, std::vector<std::string>{"TAVREL0123.ZIP"});
    EXPECT_EQ(platform::listFiles(applicationFolder()), std::vector<std::string>{"TAVRELUPD.VER"});
    EXPECT_EQ(platform::listFolders(applicationFolder() / "UPDATE"),
              std::vector<std::string>{"TAVREL0123"});
}

TEST_F(SessionTest, NothingNewCompletesTheRunAndIgnoreThisUpdateKeepsTheDayOpen) {
    putPackages(startServer(), 120, 122);
    setLevels("TAVREL0122", "UPDATE0011");
    open(true);
    session->menuItemClicked(OptionsItem::kIgnoreThisUpdate);
    EXPECT_TRUE(session->menuChecked(OptionsItem::kIgnoreThisUpdate));
    session->cmdConnectClick();
    EXPECT_EQ(session->lastSessionResult(), int(SessionResult::kNothingNew));
    EXPECT_TRUE(state.runCompleted);
    EXPECT_NE(page0().find(std::string(50, '>') +
                           "\r\nThere are No New Updates currently on the "
                           "Server\r\n" +
                           std::string(50, '>')),
              std::string::npos);
    EXPECT_TRUE(session->QueryUnload());
    EXPECT_EQ(configuration.ReadUpdateLast(), "");
    EXPECT_FALSE(state.completedToday);
}

TEST_F(SessionTest, UserSessionRefusesToCloseDuringAnInstallAndRecordsNoDay) {
    putPackages(startServer(), 123, 124);
    setLevels("TAVREL0122", "UPDATE0011");
    open(false);
    EXPECT_EQ(window->panels["AUTOUPDATE"], "USER");
    EXPECT_TRUE(session->menuChecked(OptionsItem::kIgnoreThisUpdate));
    EXPECT_FALSE(session->menuEnabled(OptionsItem::kIgnoreThisUpdate));
    EXPECT_FALSE(window->timerRunning);
    std::vector<bool> duringInstall;
    installation->duringInstall = [&] {
        duringInstall.push_back(session->QueryUnload());
        duringInstall.push_back(session->buttonEnabled(UpdateButton::kExit));
    };
    installation->failLevels = {"TAVREL0124"};
    session->cmdConnectClick();
    EXPECT_EQ(duringInstall, (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(window->linesStarting("RESULT: ").back(),
              "RESULT: INSTALL FAILED TAVREL UPDATE: TAVREL0124");
    EXPECT_EQ(session->lastSessionResult(), int(SessionResult::kInstallFailed));
    EXPECT_TRUE(session->QueryUnload());
    EXPECT_EQ(configuration.ReadUpdateLast(), "");
}

TEST_F(SessionTest, ProcessingStopsAfterTheStopLevels) {
    startServer();
    server->put(kFolder4 + "TAVREL1022.ZIP", "a");
    server->put(kFolder4 + "TAVREL1023.ZIP", "b");
    setLevels("TAVREL1021", "UPDATE0011");
    open(true);
    session->cmdConnectClick();
    EXPECT_EQ(installation->installed, std::vector<std::string>{"TAVREL1022.ZIP"});
    EXPECT_EQ(session->lastSessionResult(), int(SessionResult::kInstalled));
}

TEST_F(SessionTest, TestModeUsesTheTestFolders) {
    startServer();
    server->put(kServerBase + "UPDTST2/UPDATES/TAVREL0123.ZIP", "test package");
    fs::create_directories(server->root() / kServerBase / "UPDTST0/SETUPS");
    fs::create_directories(server->root() / kServerBase / "UPDTST0/UPDATES");
    server->put(kFolder4 + "TAVREL0124.ZIP", "live package");
    state.testMode = true;
    state.updateFolder0 = "UPDTST0";
    state.updateFolder2 = "UPDTST2";
    setLevels("TAVREL0122", "UPDATE0011");
    open(true);
    session->cmdConnectClick();
    ASSERT_EQ(installation->installed, std::vector<std::string>{"TAVREL0123.ZIP"});
    EXPECT_EQ(installation->contents[0], "test package");
}

TEST_F(SessionTest, ProgressErrorAndIdleDisconnectRules) {
    open(false);
    session->onTransferProgress("F", 32001, 16000, 50);
    EXPECT_EQ(session->progressMaximum(), 100);
    EXPECT_EQ(session->progressValue(), 50);
    session->ResetTransferState();
    session->onTransferProgress("F", 2000, 500, 25);
    EXPECT_EQ(session->progressMaximum(), 2000);
    EXPECT_EQ(session->progressValue(), 500);
    const std::size_t lines = window->lines.size();
    session->onError(12269, "no listing");
    session->onError(12268, "end");
    session->FtpSessionStep(int(FtpStep::kDisconnect));
    EXPECT_EQ(window->lines.size(), lines);
    session->onError(12104, "refused");
    EXPECT_EQ(window->lines.back(), "Ftp Error : 12104 refused");
    session->menuItemClicked(OptionsItem::kShowCommandLog);
    EXPECT_TRUE(window->commandLogShown);
}

}  // namespace
}  // namespace tavrel::session::testing
