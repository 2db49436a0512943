// The agent program TavrelUpdate1.exe assembled: the run state, the
// configuration, the engine, the logs, the history and the windows, joined
// to the entry routine. main.cpp makes one of these and runs the event loop;
// tests make one in-process with their own folders.
#pragma once

#include <QWidget>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "agent/session/version_files.h"
#include "agent/shell/configuration.h"
#include "agent/shell/entry_routine.h"
#include "agent/shell/main_window.h"
#include "agent/shell/run_state.h"
#include "agent/shell/tavrel_update_init.h"
#include "agent/shell/windows/frm_dialogs.h"
#include "agent/shell/windows/frm_main.h"
#include "agent/tables/database_engine.h"
#include "agent/tables/kes01_library.h"
#include "platform/clock.h"
#include "platform/lock_file.h"

namespace tavrel::agent {

// Shows the update window frmUpdate modally for one update run and returns
// when it has closed; it reads and sets the run state's run values. The
// program runs the real window unless it is given another one (tests).
class UpdateWindowRunner {
  public:
    virtual ~UpdateWindowRunner() = default;
    virtual void runUpdateWindow(QWidget* parent) = 0;
};

struct AgentOptions {
    // Full path of the running executable.
    std::string executablePath;
    // The command line after the program name.
    std::string commandLine;
    // Where the single-instance lock lies; empty: the user's runtime folder.
    std::filesystem::path instanceFolder;
    // Whether the desktop has a notification area.
    bool trayAvailable = false;
    // The database engine library, by file name or path.
    std::string engineFile = "KES04.DLL";
    // The agent's version, "major.minor.revision".
    std::string version = "1.0.0";
};

class AgentProgram final : public EntryServices,
                           public UpdateRunServices,
                           public UpdateHistory,
                           public AgentServices,
                           public SettingsDialogOpener,
                           public MainWindowDialogs {
  public:
    // `clock` and `updateWindow` (null: the real update window) are borrowed
    // and must outlive the program. A QApplication must exist.
    AgentProgram(AgentOptions options, const platform::Clock& clock,
                 UpdateWindowRunner* updateWindow);
    ~AgentProgram() override;

    // Runs the entry routine; when it returns MainWindowShown the caller runs
    // the event loop, which ends when the main window has unloaded.
    EntryOutcome start();
    // After the event loop: the main window's termination step.
    void finish();

    RunState& state() { return m_state; }
    FrmMain* mainWindow() { return m_frmMain.get(); }
    MainWindow* mainWindowLogic() { return m_mainWindow.get(); }

    // EntryServices.
    bool claimSingleInstance() override;
    void showInformation(const std::string& caption, const std::string& text) override;
    void appendOperationLog(const std::string& message) override;
    std::intptr_t startEngine() override;
    void showMainWindow() override;
    // UpdateRunServices.
    int closeAllTables() override;
    void showUpdateWindow() override;
    // UpdateHistory.
    void ImportInstallerResult() override;
    void LoadUpdateList(history::UpdateListModel& list, bool configured, int keepLastRecords,
                        const std::function<void()>& trim) override;
    std::optional<std::string> ReadUpdateReport(const std::string& itemKey) override;
    int TrimUpdateLogTable(int keepLastRecords) override;
    // AgentServices.
    void closeEngine() override;
    int startProgram(const std::string& program, const std::string& switches) override;
    // SettingsDialogOpener.
    void showSettingsDialog() override;
    // MainWindowDialogs.
    void showAboutBox(QWidget* parent) override;
    void showHideOnClose(QWidget* parent) override;
    void showHideOnMinimize(QWidget* parent) override;

    // The update run's LastSessionResult (0 before the first run).
    int lastSessionResult() const { return m_lastSessionResult; }

  private:
    // One modal run of frmUpdate with the package installation behind it.
    void runRealUpdateWindow();

    AgentOptions m_options;
    const platform::Clock& m_clock;
    UpdateWindowRunner* m_updateWindow;
    RunState m_state;
    Configuration m_configuration;
    TavrelUpdateInit m_init;
    std::unique_ptr<platform::LockFile> m_instanceLock;
    tables::Kes04Library m_library;
    tables::DatabaseEngine m_engine;
    tables::Kes01Library m_kes01;
    QtFileChooser m_chooser;
    std::unique_ptr<session::VersionFiles> m_versions;
    std::unique_ptr<FrmMain> m_frmMain;
    std::unique_ptr<MainWindow> m_mainWindow;
    int m_lastSessionResult = 0;
};

}  // namespace tavrel::agent
