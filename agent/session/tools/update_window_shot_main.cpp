// Runs the update window for one user session against an FTP server and
// saves two pictures of the screen: one while the first package installs and
// one when the session is over. Packages are installed by the real package
// installation (packages without a table update).
//
//   update_window_shot AGENT_FOLDER APPLICATION_FOLDER HOST[:PORT] DURING.png AFTER.png
#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cstdio>

#include "agent/session/package_install.h"
#include "agent/session/update_window.h"
#include "platform/files.h"

namespace {

using namespace tavrel;

// The packages shown carry no table update.
class NoTableConversion : public session::TableConversionStage {
  public:
    bool UpdTableConvert(const session::PackageNames&) override { return true; }
    int recoverInterruptedConversion(const session::PackageNames&) override { return 0; }
};

void saveScreen(const QString& file) {
    QCoreApplication::processEvents();
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen || !screen->grabWindow(0).save(file, "PNG"))
        std::fprintf(stderr, "could not save %s\n", qPrintable(file));
}

// The real installation, with a picture taken after the first package.
class PhotographedInstallation : public session::PackageInstallation {
  public:
    PhotographedInstallation(session::InstallTools tools, std::string folder, QString shot)
        : m_inner(std::move(tools), std::move(folder)), m_shot(std::move(shot)) {}
    void InstallUpdatePackage(const std::string& packageFile) override {
        m_inner.InstallUpdatePackage(packageFile);
        if (!m_taken) saveScreen(m_shot);
        m_taken = true;
    }
    std::string resultText() const override { return m_inner.resultText(); }

  private:
    session::PackageInstaller m_inner;
    QString m_shot;
    bool m_taken = false;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s AGENT APP HOST DURING.png AFTER.png\n", argv[0]);
        return 2;
    }
    agent::RunState state;
    state.agentFolder = platform::withTrailingSeparator(argv[1]);
    state.applicationFolder = platform::withTrailingSeparator(argv[2]);
    state.remoteBaseFolder = "/httpdocs/download/TAVREL";
    state.updateFolder0 = "UPDATE0";
    state.updateFolder2 = "UPDATE2";
    state.setupsFolder = "SETUPS";
    state.updatesFolder = "UPDATES";
    agent::Configuration configuration(state);
    configuration.WriteFtpHost(argv[3]);
    platform::SystemClock clock;
    session::VersionFiles versions(state.agentFolder, [&state] { return state.applicationFolder; });
    NoTableConversion conversion;
    const QString during = QString::fromLocal8Bit(argv[4]);
    const QString after = QString::fromLocal8Bit(argv[5]);

    session::UpdateWindowServices services{state, configuration, clock, versions, nullptr, {}, {},
                                           {}};
    services.makeInstallation = [&](const session::UpdateWindowParts& parts) {
        session::InstallTools tools(parts.windowLog, parts.panels, versions, conversion);
        tools.pages = &parts.progress;
        return std::make_unique<PhotographedInstallation>(tools, state.applicationFolder, during);
    };
    QTimer poll;
    poll.setInterval(200);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* window = QApplication::activeModalWidget();
        if (!window || !window->isVisible()) return;
        poll.stop();
        window->findChild<QPushButton*>(QStringLiteral("cmdConnect"))->click();
        QTimer::singleShot(500, window, [window, after] {
            saveScreen(after);
            window->findChild<QPushButton*>(QStringLiteral("cmdExit"))->click();
        });
    });
    poll.start();
    const int result = session::showUpdateWindowModal(services);
    std::printf("session result %d\n", result);
    return 0;
}
