// The update window frmUpdate, "Kestmoor Tavrel Update Operation": a modal
// dialog thin over UpdateSession. It shows what the session tells it and
// forwards its timer ticks, clicks and close requests; it decides nothing.
//
// Object names are the control names of the system: SSTab1, rtbLog(0) to
// rtbLog(3), lblStatus(0) to lblStatus(2), lstRemoteFiles, pbr1,
// txtProgressText(n), txtProgressValue(n), pbrProgress(n), stb1 with panels
// named by their keys, cmdConnect, cmdDisconnect, cmdExit, the menu
// mnuOptions with mnuShowCommandLog, mnuIgnoreUpdate, mnuTraceFile, the label
// lblDateTime and the timer Timer1.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "agent/session/update_session.h"

class QAction;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QTimer;

namespace tavrel::session {

inline constexpr const char* kUpdateWindowCaption = "Kestmoor Tavrel Update Operation";
// Lines and bars of the table-conversion frames on page 2 (bars 0 to 10 are
// remembered; these have widgets).
inline constexpr int kProgressLines = 5;
inline constexpr int kProgressBars = 11;

class UpdateWindow : public QDialog,
                     public UpdateWindowView,
                     public StatusPanels,
                     public ConversionProgressView,
                     public history::WindowLogView {
  public:
    // Shows notice 4500 over the window; the default is a message box.
    using NoticePrompt = std::function<void(QWidget* window)>;

    // Builds the controls and attaches itself to `session` (views and window
    // log). The session's FormLoad is left to the caller, after the package
    // installation is set. `session` must outlive the window.
    UpdateWindow(UpdateSession& session, NoticePrompt notice = {}, QWidget* parent = nullptr);
    ~UpdateWindow() override;

    // UpdateWindowView
    void setButtonEnabled(UpdateButton button, bool enabled) override;
    void setMenuItem(OptionsItem item, bool checked, bool enabled) override;
    void showCommandLog(bool shown) override;
    void remoteListCleared() override;
    void remoteItemInserted(int index, std::string_view name) override;
    void remoteItemSelected(int index, bool selected) override;
    void remoteCurrentItem(int index) override;
    void transferProgressChanged(int value, int maximum) override;
    void showDateTime(std::string_view text) override;
    void setTimer(bool running, int intervalMilliseconds) override;
    void closeWindow() override;
    void showUpdateNotice() override;
    void letEventsRun() override;
    // StatusPanels
    std::string panelText(std::string_view key) const override;
    void setPanelText(std::string_view key, std::string_view text) override;
    // ConversionProgressView
    void ProgressText(int line, std::string_view text) override;
    void ProgressValue(int bar, std::int64_t value, std::int64_t maximum) override;
    void SelectLogPage(int page) override;
    // history::WindowLogView
    void pageCleared(int page) override;
    void lineAdded(int page, std::string_view line) override;
    void statusChanged(int page, std::string_view text) override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    // Escape closes through the closing rules too.
    void reject() override;

  private:
    void setupWindow();
    QWidget* setupCheckPage();
    QWidget* setupLogPage(int page);
    QWidget* setupTablesPage();
    void setupButtons();
    void setupMenu();
    void setupStatusBar();

    UpdateSession& m_session;
    NoticePrompt m_notice;
    QTabWidget* m_tabs = nullptr;
    std::array<QPlainTextEdit*, 4> m_logs{};
    std::array<QLabel*, 3> m_status{};
    QListWidget* m_remoteFiles = nullptr;
    QProgressBar* m_pbr1 = nullptr;
    std::array<QLineEdit*, kProgressLines> m_progressText{};
    std::array<QLineEdit*, kProgressLines> m_progressValue{};
    std::array<QProgressBar*, kProgressLines> m_progressBar{};
    std::array<std::int64_t, kProgressBars> m_barMaximum{};
    std::array<QPushButton*, 3> m_buttons{};
    std::array<QAction*, 3> m_menuItems{};
    QLabel* m_dateTime = nullptr;
    QStatusBar* m_statusBar = nullptr;
    QTimer* m_timer = nullptr;
};

// The windows' parts that the package installation writes to, for the
// factory that makes it once the window exists.
struct UpdateWindowParts {
    history::WindowLog& windowLog;
    StatusPanels& panels;
    ConversionProgressView& progress;
};
using InstallationFactory =
    std::function<std::unique_ptr<PackageInstallation>(const UpdateWindowParts& parts)>;

// What one modal update run needs; all borrowed for the length of the call.
struct UpdateWindowServices {
    agent::RunState& state;
    agent::Configuration& configuration;
    const platform::Clock& clock;
    VersionFiles& versions;
    // The history table, or nullptr without an engine.
    history::HistoryTable* history = nullptr;
    // Makes the package installation over the window's parts; when empty (or
    // it returns null) every package counts as failed to install.
    InstallationFactory makeInstallation;
    // Notice 4500; empty for the standard message box.
    UpdateWindow::NoticePrompt notice;
    ftpclient::FtpTimeouts timeouts{};
};

// Runs the update window modally for TavrelUpdateInit::UpdateRun: makes the
// session and the window, loads it (automatic or user session as
// `services.state.automaticRun` says), runs it until the closing rules let it
// close, and returns LastSessionResult (30001, 32001, 32501 or 33001). The
// run state's run-completed and completed-today values are set as the
// session found; the caller reads them afterwards.
int showUpdateWindowModal(const UpdateWindowServices& services, QWidget* parent = nullptr);

}  // namespace tavrel::session
