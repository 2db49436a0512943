// TAVRELUPDATE.EXE: installs a new version of the update agent over the agent
// folder (the current folder) and starts the agent again.
#include <QApplication>

#include "installer/installer.h"
#include "installer/installer_window.h"
#include "platform/process.h"

int main(int argc, char** argv) {
    using namespace tavrel::installer;
    // The command line is taken before Qt sees it.
    const std::string commandLine = tavrel::platform::commandLineText(argc, argv);
    PlatformFileOperations files;
    DetachedProgramStarter starter;
    Installer installer(tavrel::platform::currentFolder(), commandLine, files, starter);
    if (!installer.startUp()) return 0;

    QApplication app(argc, argv);
    InstallerWindow window(installer);
    window.show();
    return app.exec();
}
