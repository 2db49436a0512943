// The built TAVRELUPDATE.EXE run in a temporary agent folder (offscreen), with
// a stand-in TavrelUpdate1.exe that records its command line and current
// folder in AGENT_STARTED.TXT.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <chrono>
#include <thread>

#include "installer/tests/installer_fixture.h"

namespace tavrel::installer {
namespace {

using platform::testing::readBytes;
using testing::AgentFolder;
using Clock = std::chrono::steady_clock;

std::filesystem::path binary(const char* name) {
    const char* folder = std::getenv("TAVREL_BIN_DIR");
    return std::filesystem::path(folder ? folder : ".") / name;
}

// Polls until `done` holds or the deadline passes.
template <typename Condition>
bool waitFor(Condition done, std::chrono::seconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

class InstallerProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(binary("TAVRELUPDATE.EXE")));
        ASSERT_TRUE(std::filesystem::exists(binary("installer_agent_stub")));
    }
    void start(const QStringList& arguments) {
        process.setProgram(QString::fromStdString(binary("TAVRELUPDATE.EXE").string()));
        process.setArguments(arguments);
        process.setWorkingDirectory(QString::fromStdString(agent.path().string()));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.start();
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    // The record the stand-in agent left, once it is complete.
    std::string agentRecord(std::chrono::seconds limit = std::chrono::seconds(20)) {
        const auto path = agent / "AGENT_STARTED.TXT";
        waitFor([&] { return readBytes(path).ends_with("end\n"); }, limit);
        return readBytes(path);
    }
    void placeStubAgent(const std::string& name) {
        std::filesystem::create_directories((agent / name).parent_path());
        std::filesystem::copy_file(binary("installer_agent_stub"), agent / name,
                                   std::filesystem::copy_options::overwrite_existing);
    }
    void TearDown() override {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }

    AgentFolder agent;
    QProcess process;
};

TEST_F(InstallerProgramTest, EqualVersionsStartTheAgentAtOnceWithTheSwitches) {
    agent.versions("UPDATE0012", "UPDATE0012");
    placeStubAgent("TavrelUpdate1.exe");
    start({"/N", "/S+2"});
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0);
    const std::string record = agentRecord();
    EXPECT_NE(record.find("cwd=" + agent.path().string() + "\n"), std::string::npos) << record;
    EXPECT_NE(record.find("/TavrelUpdate1.exe\ncwd="), std::string::npos) << record;
    EXPECT_TRUE(record.ends_with("\narg=/N\narg=/S+2\nend\n")) << record;
    EXPECT_FALSE(agent.has("UPDATELOG.RES"));
}

TEST_F(InstallerProgramTest, ANewVersionIsInstalledAndTheNewAgentStartedInTheAgentFolder) {
    agent.versions("UPDATE0011", "UPDATE0012");
    // The old agent is a script that leaves a different mark.
    agent.write("TavrelUpdate1.exe", "#!/bin/sh\necho old > OLD_AGENT_STARTED.TXT\n");
    std::filesystem::permissions(agent / "TavrelUpdate1.exe", std::filesystem::perms::owner_all);
    placeStubAgent("NewVersion/TavrelUpdate1.exe");
    // As downloaded: a plain file, not marked executable.
    std::filesystem::permissions(
        agent / "NewVersion/TavrelUpdate1.exe",
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
            std::filesystem::perms::group_read | std::filesystem::perms::others_read);
    agent.makeFolder("OldVersion");
    const std::string newAgent = readBytes(binary("installer_agent_stub"));

    start({"/S+2/F+3", "/U"});
    // First tick after 5 s installs; the second, 5 s later, starts the agent.
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0);

    const std::string record = agentRecord();
    EXPECT_NE(record.find("cwd=" + agent.path().string() + "\n"), std::string::npos) << record;
    EXPECT_NE(record.find("arg=/S+2/F+3\narg=/U\nend\n"), std::string::npos) << record;
    EXPECT_FALSE(agent.has("OLD_AGENT_STARTED.TXT"));
    EXPECT_EQ(readBytes(agent / "TavrelUpdate1.exe"), newAgent);
    EXPECT_EQ(agent.read("OldVersion/TavrelUpdate1.exe"),
              "#!/bin/sh\necho old > OLD_AGENT_STARTED.TXT\n");
    EXPECT_TRUE(agent.files("NewVersion").empty());
    EXPECT_EQ(agent.read("TAVRELUPD.VER"), "UPDATE0012");
    EXPECT_EQ(agent.read("UPDATELOG.RES"), "S\r\n");
    const std::string log = agent.read("UPDATELOG.TXT");
    EXPECT_TRUE(
        log.starts_with("UPDATING CURRENT VERSION UPDATE0011 TO NEW VERSION UPDATE0012\r\n"))
        << log;
    EXPECT_NE(log.find("INSTALLING UPDATED FILE TAVRELUPDATE1.EXE\r\n"), std::string::npos);
    EXPECT_TRUE(log.ends_with("RETURN VALUE ' 0\r\n\r\n")) << log;
}

TEST_F(InstallerProgramTest, AFailedInstallationRestoresReportsAndWaitsForTheUser) {
    agent.versions("UPDATE0011", "UPDATE0012");
    placeStubAgent("TavrelUpdate1.exe");
    agent.write("NewVersion/A.DLL", "new A");
    agent.write("A.DLL", "old A");
    agent.write("NewVersion/B.DLL", "no current file of this name");
    start({"/N"});

    ASSERT_TRUE(
        waitFor([&] { return agent.read("UPDATELOG.RES") == "F\r\n"; }, std::chrono::seconds(30)));
    ASSERT_TRUE(waitFor([&] { return agent.has("UPDATELOG.TXT"); }, std::chrono::seconds(10)));
    EXPECT_EQ(agent.read("A.DLL"), "old A");
    EXPECT_EQ(agent.read("TAVRELUPD.VER"), "UPDATE0011");
    EXPECT_NE(agent.read("UPDATELOG.TXT").find("COULD NOT UPDATE THE 'KESTMOOR TAVREL UPDATE"),
              std::string::npos);
    // The window stays open for the user; the agent is not started.
    EXPECT_FALSE(process.waitForFinished(1000));
    EXPECT_FALSE(agent.has("AGENT_STARTED.TXT"));
}

}  // namespace
}  // namespace tavrel::installer
