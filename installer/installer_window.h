// The installer's window: the nine controls of TAVRELUPDATE.EXE, wired to an
// `Installer`. It shows what the logic tells it and forwards the timer ticks
// and the button clicks; it decides nothing itself.
#pragma once

#include <QObject>
#include <QWidget>

#include "installer/installer.h"
#include "installer/installer_view.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace tavrel::installer {

// Control ids of the window; each control's object name is `controlName(id)`.
enum class ControlId : int {
    CurrentVersionLabel = 1000,
    UpdatedVersionLabel = 1001,
    CurrentFolderLabel = 1002,
    InstalledVersionBox = 1003,
    NewVersionBox = 1004,
    FolderBox = 1005,
    LogBox = 1006,
    RunSetupButton = 1007,
    ExitButton = 1008,
};

// "control1003" for the installed-version box, and so on.
QString controlName(ControlId id);

inline constexpr const char* kWindowCaption = "Installer for Kestmoor Tavrel Update";
// The window class name of the original window, kept as the window's object name.
inline constexpr const char* kWindowClassName = "FORM_TAVRELUPDATE_FRMUPDATE_CLASS";
// Outer size of the window, frame included.
inline constexpr int kWindowWidth = 500;
inline constexpr int kWindowHeight = 412;
// The client area of such a window with a classic 4-pixel frame and caption.
inline constexpr int kClientWidth = 492;
inline constexpr int kClientHeight = 381;

// Posts steps through the Qt event loop, behind the events already queued.
class QtEventQueue : public EventQueue {
  public:
    // `context` must outlive the queue; steps still queued when it is
    // destroyed are dropped.
    explicit QtEventQueue(QObject* context) : m_context(context) {}
    void post(std::function<void()> step) override;

  private:
    QObject* m_context;
};

class InstallerWindow : public QWidget, public InstallerView {
  public:
    // Builds the window and runs the installer's window creation step, which
    // starts the timer. `installer` must outlive the window.
    explicit InstallerWindow(Installer& installer, QWidget* parent = nullptr);

    void showFolder(const std::string& text) override;
    void showVersions(const std::string& installed, const std::string& updated) override;
    void showLog(const std::string& text) override;
    void setRunSetupEnabled(bool enabled) override;
    void setExitEnabled(bool enabled) override;
    void repaintNow() override;
    void startTickTimer(int milliseconds) override;
    void closeWindow() override;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void setupWindow();
    void setupLabels();
    void setupBoxes();
    void setupButtons();
    void centreOnScreen();

    Installer& m_installer;
    QtEventQueue m_queue;
    QLineEdit* m_installedVersionBox = nullptr;
    QLineEdit* m_newVersionBox = nullptr;
    QLineEdit* m_folderBox = nullptr;
    QPlainTextEdit* m_logBox = nullptr;
    QPushButton* m_runSetupButton = nullptr;
    QPushButton* m_exitButton = nullptr;
    QTimer* m_timer = nullptr;
};

// The window icon IMAGE_KESUPDATE, at 16 x 16 and 32 x 32.
QIcon kesUpdateIcon();

}  // namespace tavrel::installer
