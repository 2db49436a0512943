// The assembled agent in-process, offscreen, on a scratch agent folder with
// the real engine: a second instance, a normal start and exit, and the
// hand-over to the installer (a stand-in that records how it was started);
// and the built TavrelUpdate1.exe started as a process.
#include "agent/app/agent_program.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <thread>

#include "platform/files.h"
#include "platform/tests/gui_test_main.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::agent {
namespace {

namespace fs = std::filesystem;
using platform::testing::TempFolder;

fs::path binary(const char* name) {
    const char* folder = std::getenv("TAVREL_BIN_DIR");
    return fs::path(folder ? folder : ".") / name;
}

// Closes the modal windows that come up, keeping their texts.
struct ModalCloser {
    void arm() {
        QTimer::singleShot(0, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                texts.push_back(box->windowTitle().toStdString() + "|" + box->text().toStdString());
                box->done(QMessageBox::Ok);
            }
            if (again) arm();
        });
    }
    std::vector<std::string> texts;
    bool again = false;
};

// Stands in for frmUpdate: these cases are about what happens around a run.
struct CountingUpdateWindow final : UpdateWindowRunner {
    void runUpdateWindow(QWidget*) override { ++runs; }
    int runs = 0;
};

class AgentProgramTest : public ::testing::Test {
  protected:
    AgentProgramTest() {
        agent = dir.path() / "agent";
        app = dir.path() / "app";
        platform::ensureFolder(agent);
        platform::ensureFolder(app);
        options.executablePath = (agent / "TavrelUpdate1.exe").string();
        options.instanceFolder = dir.path() / "run";
        platform::ensureFolder(options.instanceFolder);
        options.engineFile = binary("KES04.DLL").string();
    }
    void configure() {
        ASSERT_EQ(platform::writeFileAtomic(app / "TAVREL32.EXE", "MZ"), 0);
        ASSERT_EQ(platform::writeFileAtomic(
                      agent / "TavrelUPDATE.INI",
                      "[TavrelPath]\nMainPath=" + app.string() + "\n[General]\nHideInTray=False\n"),
                  0);
    }
    std::string log() { return platform::readFile(agent / "LOG.TXT").value_or(""); }
    // The operation log's messages, oldest first.
    std::vector<std::string> logMessages() {
        std::vector<std::string> lines;
        std::string text = log();
        for (size_t start = 0; start < text.size();) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            // "ddd dd mmm yyyy Hh:Nn:Ss " is 25 characters.
            if (line.size() > 25) lines.insert(lines.begin(), line.substr(25));
            start = end + 1;
        }
        return lines;
    }

    TempFolder dir;
    fs::path agent, app;
    AgentOptions options;
    platform::FixedClock clock{{2026, 12, 7, 12, 0, 0}};
    CountingUpdateWindow updateWindow;
};

TEST_F(AgentProgramTest, ASecondInstanceShowsItsMessageAndTouchesNothing) {
    auto first = platform::acquireSingleInstance("TavrelUpdate1", options.instanceFolder);
    ASSERT_TRUE(first);
    configure();
    const auto before = platform::listFiles(agent);
    AgentProgram program(options, clock, &updateWindow);
    ModalCloser closer;
    closer.arm();
    EXPECT_EQ(program.start(), EntryOutcome::AlreadyRunning);
    EXPECT_EQ(closer.texts,
              std::vector<std::string>{
                  "Kestmoor Tavrel Update|Kestmoor Tavrel Update is allready running"});
    EXPECT_EQ(platform::listFiles(agent), before);
    EXPECT_EQ(program.mainWindow(), nullptr);
    EXPECT_EQ(program.state().engineHandle, 0);
}

TEST_F(AgentProgramTest, AConfiguredStartShowsTheMainWindowAndExitEndsTheEngine) {
    configure();
    AgentProgram program(options, clock, &updateWindow);
    ASSERT_EQ(program.start(), EntryOutcome::MainWindowShown);
    FrmMain* window = program.mainWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Kestmoor Tavrel Update");
    EXPECT_NE(program.state().engineHandle, 0);
    EXPECT_EQ(program.state().agentFolder, agent.string() + "/");
    window->findChild<QAction*>(arrayName("mnoApplication", 10))->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(program.state().engineHandle, 0);
    program.finish();
    std::vector<std::string> lines = logMessages();
    // The missing history table is the engine's to report, in the same log.
    std::erase_if(lines, [](const std::string& line) { return line.starts_with("d4open "); });
    EXPECT_EQ(lines,
              (std::vector<std::string>{"Started", "Tavrel Update - Loaded and Started",
                                        "TavrelUpdate1 - Unloaded", "TavrelUpdate1 - Terminated"}));
    EXPECT_NE(platform::readFile(agent / "TavrelUPDATE.INI")->find("ShowMenuButtons=True"),
              std::string::npos);
}

TEST_F(AgentProgramTest, ANewerDownloadedAgentStartsTheInstallerWithTheKeptSwitches) {
    configure();
    ASSERT_EQ(platform::writeFileAtomic(agent / "TAVRELUPD.VER", "UPDATE0011"), 0);
    ASSERT_EQ(platform::writeFileAtomic(agent / "UPDATE.VER", "UPDATE0012"), 0);
    fs::copy_file(binary("installer_agent_stub"), agent / "TAVRELUPDATE.EXE");
    options.commandLine = "/S1/F23/X";
    AgentProgram program(options, clock, &updateWindow);
    ASSERT_EQ(program.start(), EntryOutcome::MainWindowShown);
    ModalCloser closer;
    closer.arm();
    program.mainWindow()->findChild<QPushButton*>(arrayName("cmdApplication", 4))->click();
    EXPECT_EQ(updateWindow.runs, 1);
    ASSERT_EQ(closer.texts.size(), 1u);
    EXPECT_NE(closer.texts[0].find("Terminate and Restart"), std::string::npos);
    EXPECT_TRUE(program.mainWindowLogic()->Unloaded());
    // The installer runs detached in the agent folder; wait for its record.
    const auto record = agent / "AGENT_STARTED.TXT";
    for (int i = 0; i < 200 && !platform::readFile(record).value_or("").ends_with("end\n"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    const std::string started = platform::readFile(record).value_or("");
    EXPECT_NE(started.find("cwd=" + agent.string() + "\n"), std::string::npos) << started;
    EXPECT_NE(started.find("arg=/S1/F23\n"), std::string::npos) << started;
}

TEST_F(AgentProgramTest, AnInstallerThatCannotStartIsLoggedAndShown) {
    configure();
    ASSERT_EQ(platform::writeFileAtomic(agent / "TAVRELUPD.VER", "UPDATE0011"), 0);
    ASSERT_EQ(platform::writeFileAtomic(agent / "UPDATE.VER", "UPDATE0012"), 0);
    AgentProgram program(options, clock, &updateWindow);
    ASSERT_EQ(program.start(), EntryOutcome::MainWindowShown);
    ModalCloser closer;
    closer.again = true;
    closer.arm();
    program.mainWindow()->findChild<QPushButton*>(arrayName("cmdApplication", 4))->click();
    closer.again = false;
    QCoreApplication::processEvents();
    ASSERT_EQ(closer.texts.size(), 2u);
    EXPECT_NE(closer.texts[1].find("TAVRELUPDATE.EXE could not be started"), std::string::npos);
    EXPECT_NE(log().find("TavrelUpdate1 - The installer " + agent.string() +
                         "/TAVRELUPDATE.EXE could not be started"),
              std::string::npos)
        << log();
}

TEST_F(AgentProgramTest, TheBuiltProgramRunsInItsOwnFolderAndEndsAScheduleThatIsOver) {
    configure();
    fs::copy_file(binary("TavrelUpdate1.exe"), agent / "TavrelUpdate1.exe");
    fs::copy_file(binary("KES04.DLL"), agent / "KES04.DLL");
    QProcess process;
    process.setProgram(QString::fromStdString((agent / "TavrelUpdate1.exe").string()));
    // The window 01:00 to 01:00 is over at any time after 01:00.
    process.setArguments({"/S1/F1/U"});
    process.setWorkingDirectory(QString::fromStdString(dir.path().string()));
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(options.instanceFolder.string()));
    process.setProcessEnvironment(environment);
    const std::string now =
        platform::formatDateTime(platform::SystemClock().now(), platform::kTimeOfDayPattern);
    if (now <= "01:00") GTEST_SKIP() << "the schedule 01:00-01:00 is not over yet";
    process.start();
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 0);
    // The log lies in the program's folder, not in the folder it was started from.
    EXPECT_FALSE(fs::exists(dir.path() / "LOG.TXT"));
    const std::vector<std::string> lines = logMessages();
    ASSERT_FALSE(lines.empty()) << log();
    EXPECT_EQ(lines.front(), "Started");
    EXPECT_EQ(lines.back(), "ScheduleTask Finished - FinishTime has already been passed");
}

}  // namespace
}  // namespace tavrel::agent

int main(int argc, char** argv) { return tavrel::platform::testing::runGuiTests(argc, argv); }
