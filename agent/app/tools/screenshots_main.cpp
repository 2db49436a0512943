// Shows every window of the agent on the current X display and saves a
// picture of the screen for each (scripts/screenshots-agent.sh runs it under
// a virtual X server):
//   agent_screenshots OUTPUT_FOLDER
// It makes a scratch agent folder whose application folder holds a history
// table with a failed and a completed update, starts the agent there, and
// then opens the report, the settings dialog, the about box and both tray
// notices in turn.
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "agent/app/agent_program.h"
#include "agent/history/history_table.h"
#include "agent/tables/engine_fields.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

namespace fs = std::filesystem;
using namespace tavrel;

std::string engineFile() {
    return (platform::executablePath().parent_path() / "KES04.DLL").string();
}

// The history table with one failed and one completed application package.
bool makeHistory(const fs::path& app) {
    tables::Kes04Library library(
        [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }, engineFile());
    tables::DatabaseEngine engine(library);
    if (!engine.start()) return false;
    FIELD4INFO fields[] = {
        {"UPDATE_KEY", 'C', 10, 0, 0}, {"UPDATE_ZIP", 'C', 20, 0, 0}, {"TYPE", 'C', 1, 0, 0},
        {"ACT_FLAG", 'C', 1, 0, 0},    {"CREATE_BY", 'C', 20, 0, 0},  {"UPDATE_ON", 'C', 14, 0, 0},
        {"UPDATE_BY", 'C', 20, 0, 0},  {"RESULT", 'C', 1, 0, 0},      {"DESC_TEXT", 'C', 100, 0, 0},
        {"DESC_MEMO", 'M', 10, 0, 0},  {nullptr, 0, 0, 0, 0}};
    TAG4INFO tags[] = {{"UPDATE", "UPDATE_KEY+UPDATE_ZIP", "", 0, 0},
                       {"DATE_BACK", "UPDATE_ON", "", 0, 10},
                       {nullptr, nullptr, nullptr, 0, 0}};
    const std::string path = (app / "TABLEUPL").string();
    DATA4* data = K4(library, d4create, engine.handle(), path.c_str(), fields, tags);
    if (!data) return false;
    K4(library, d4close, data);
    platform::FixedClock clock({2026, 12, 5, 1, 5, 12});
    history::HistoryTable table(engine, clock, app.string());
    if (!table.OpenHistoryTable()) return false;
    table.RegisterUpdateRecord("TAVREL0041", "TAVREL0041", "G");
    table.CompleteUpdateRecord("TAVREL0041", "TAVREL0041", "F",
                               "INSTALL OF UPDATE FAILED DUE TO AN ERROR",
                               "Installing TAVREL0041.ZIP\r\nStage 3: TAVREL32.EXE is in use\r\n"
                               "Rolled back: 3 files restored");
    clock.advanceMinutes(24 * 60);
    table.RegisterUpdateRecord("TAVREL0042", "TAVREL0042", "G");
    table.CompleteUpdateRecord("TAVREL0042", "TAVREL0042", "S",
                               "INSTALL OF UPDATE COMPLETED WITHOUT ANY ERRORS",
                               "Installing TAVREL0042.ZIP\r\nStage 0: 4 files selected\r\n"
                               "Stage 3: 4 files installed");
    table.CloseHistoryTable();
    return true;
}

bool prepare(const fs::path& agent, const fs::path& app) {
    return platform::ensureFolder(agent) == 0 && platform::ensureFolder(app) == 0 &&
           platform::writeFileAtomic(app / "TAVREL32.EXE", "MZ") == 0 &&
           platform::writeFileAtomic(app / "TAVRELUPD.VER", "TAVREL0042") == 0 &&
           platform::writeFileAtomic(agent / "TAVRELUPD.VER", "UPDATE0011") == 0 &&
           platform::writeFileAtomic(agent / "TavrelUPDATE.INI",
                                     "[TavrelPath]\nMainPath=" + app.string() +
                                         "\n[Updates]\nUpdateFlag=True\nLastCheck=06 Dec 2026 "
                                         "01:05:12\n") == 0 &&
           makeHistory(app);
}

class Shooter {
  public:
    explicit Shooter(QString folder) : m_folder(std::move(folder)) {}
    void shoot(const char* name) {
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
        const QString path = QDir(m_folder).filePath(QString::fromLatin1(name));
        if (!shot.save(path, "PNG")) m_ok = false;
        std::printf("%s\n", path.toLocal8Bit().constData());
    }
    // Shoots the modal window that `open` brings up, then closes it.
    void shootModal(const char* name, const std::function<void()>& open) {
        QTimer::singleShot(400, [this, name] {
            shoot(name);
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                dialog->reject();
            }
        });
        open();
    }
    bool ok() const { return m_ok; }

  private:
    QString m_folder;
    bool m_ok = true;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const fs::path scratch =
        fs::temp_directory_path() / ("tavrel-shots-" + std::to_string(::getpid()));
    const fs::path agent = scratch / "agent", app = scratch / "app";
    if (!prepare(agent, app)) {
        std::fprintf(stderr, "could not prepare %s\n", scratch.c_str());
        return 1;
    }
    agent::AgentOptions options;
    options.executablePath = (agent / "TavrelUpdate1.exe").string();
    options.instanceFolder = scratch;
    options.engineFile = engineFile();
    platform::SystemClock clock;
    agent::AgentProgram program(options, clock, nullptr);
    Shooter shooter(QString::fromLocal8Bit(argv[1]));
    if (program.start() != agent::EntryOutcome::MainWindowShown) return 1;
    agent::FrmMain* window = program.mainWindow();
    window->move(0, 0);
    QTimer::singleShot(800, [&] {
        shooter.shoot("agent-main.png");
        auto* list = window->findChild<QTreeWidget*>(QStringLiteral("lvwUpdates"));
        list->setCurrentItem(list->topLevelItem(list->topLevelItemCount() - 1));
        program.mainWindowLogic()->lvwUpdates_DblClick();
        shooter.shoot("agent-report.png");
        program.mainWindowLogic()->CloseReport();
        shooter.shootModal("agent-settings.png",
                           [&] { program.mainWindowLogic()->mnoApplication_Click(6); });
        shooter.shootModal("agent-about.png",
                           [&] { program.mainWindowLogic()->mnoApplication_Click(8); });
        shooter.shootModal("agent-hide-on-close.png", [&] { program.showHideOnClose(window); });
        shooter.shootModal("agent-hide-on-minimize.png",
                           [&] { program.showHideOnMinimize(window); });
        QCoreApplication::exit(0);
    });
    application.exec();
    program.finish();
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    return shooter.ok() ? 0 : 1;
}
