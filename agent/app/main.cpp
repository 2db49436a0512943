// TavrelUpdate1.exe: the update agent. Runs in its own folder, which the
// installer it may hand over to inherits as the agent folder.
#include <QApplication>
#include <QSystemTrayIcon>
#include <cstdio>

#include "agent/app/agent_program.h"
#include "platform/display.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    using namespace tavrel;
    // The command line is taken before Qt sees it.
    agent::AgentOptions options;
    options.commandLine = platform::commandLineText(argc, argv);
    options.executablePath = platform::executablePath().string();
    options.version = TAVREL_AGENT_VERSION;
    platform::setCurrentFolder(platform::executablePath().parent_path());
    if (!platform::displayAvailable()) {
        std::fprintf(stderr, "TavrelUpdate1: no display to show windows on\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    platform::SystemClock clock;
    agent::AgentProgram program(options, clock, nullptr);
    if (program.start() != agent::EntryOutcome::MainWindowShown) return 0;
    const int result = app.exec();
    program.finish();
    return result;
}
