// The main window frmMain: menus, the command button column, the history list
// and report box, the folder labels, the status bar, Timer1 and the tray icon,
// wired to a MainWindow. It shows what the logic tells it and forwards the
// window's events; it decides nothing itself.
//
// Object names are the control names: "mnoApplication(4)", "cmdApplication(4)",
// "mnoOption(0)", "mnoTray(0)", "picWindow(1)", "lvwUpdates", "rtbReport",
// "cmdCloseReport", "lblTavrelApp", "lblTavrelPath", "stb1" with one QLabel per
// panel named by its key, "Timer1".
#pragma once

#include <QMainWindow>
#include <array>
#include <functional>
#include <memory>

#include "agent/shell/main_window.h"

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class QSystemTrayIcon;
class QTextEdit;
class QTimer;
class QTreeWidget;

namespace tavrel::agent {

// The modal windows the main window opens; the program gives the real ones.
class MainWindowDialogs {
  public:
    virtual ~MainWindowDialogs() = default;
    virtual void showAboutBox(QWidget* parent) = 0;
    virtual void showHideOnClose(QWidget* parent) = 0;
    virtual void showHideOnMinimize(QWidget* parent) = 0;
};

class FrmMain : public QMainWindow, public MainWindowView {
  public:
    // `dialogs` is borrowed and must outlive the window. `trayAvailable`:
    // whether the desktop has a notification area (no tray icon otherwise).
    FrmMain(MainWindowDialogs& dialogs, bool trayAvailable, QWidget* parent = nullptr);
    ~FrmMain() override;

    // The logic this window forwards to; set before the window is loaded.
    void setLogic(MainWindow* logic) { m_logic = logic; }
    // Runs after the window has unloaded (the program ends its event loop there).
    void setUnloadHandler(std::function<void()> handler) { m_onUnload = std::move(handler); }

    // MainWindowView.
    void showMessageBox(const std::string& title, const std::string& text,
                        MessageStyle style) override;
    void setCaption(const std::string& caption) override;
    void setStateIcon(std::string_view stateKey) override;
    void setApplicationMenuEnabled(bool enabled) override;
    void setApplicationItemEnabled(int index, bool enabled) override;
    void setButtonEnabled(int index, bool enabled) override;
    void setTrayItemEnabled(int index, bool enabled) override;
    void setOptionChecked(int index, bool checked) override;
    void setOptionEnabled(int index, bool enabled, const std::string& toolTip) override;
    void setReportMenuCaption(const std::string& caption) override;
    void setTrayShowCaption(const std::string& caption) override;
    void setTrayMenuInMenuBar(bool visible) override;
    void setPanelText(std::string_view key, const std::string& text) override;
    void setPanelToolTip(std::string_view key, const std::string& toolTip) override;
    std::string panelText(std::string_view key) const override;
    void setFolderText(const std::string& text) override;
    int windowWidthTwips() const override;
    int windowHeightTwips() const override;
    void setWindowSizeTwips(int width, int height) override;
    int clientWidthTwips() const override;
    int buttonColumnWidthTwips() const override;
    int folderPanelWidthTwips() const override;
    int folderLabelLeftTwips() const override;
    void applyLayout(const WindowLayout& layout) override;
    bool isWindowVisible() const override;
    bool isWindowNormal() const override;
    void showWindow() override;
    void hideWindow() override;
    void restoreNormalState() override;
    void processPendingEvents() override;
    void showUpdateList(const history::UpdateListModel& list) override;
    std::optional<std::string> selectedItemKey() const override;
    void showReport(const std::string& text) override;
    void hideReport() override;
    int timerInterval() const override;
    void setTimerInterval(int milliseconds) override;
    void setTimerEnabled(bool enabled) override;
    bool trayAvailable() const override { return m_trayAvailable; }
    void addTrayIcon(std::string_view stateKey, const std::string& tip) override;
    void modifyTrayIcon(std::string_view stateKey, const std::string& tip) override;
    void deleteTrayIcon() override;
    void popupTrayMenu() override;
    void showAboutBox() override;
    void showHideOnClose() override;
    void showHideOnMinimize() override;
    void unloadWindow() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void setupMenus();
    void setupApplicationMenu();
    void setupOptionMenu();
    void setupTrayMenu();
    void setupButtons();
    void setupPanels();
    void setupStatusBar();
    void setupTimer();
    void watchHints(QWidget* widget);
    QLabel* panel(std::string_view key) const;

    MainWindowDialogs& m_dialogs;
    bool m_trayAvailable;
    MainWindow* m_logic = nullptr;
    std::function<void()> m_onUnload;
    bool m_closingFromCode = false;
    bool m_unloaded = false;

    QMenu* m_applicationMenu = nullptr;
    QMenu* m_optionMenu = nullptr;
    QMenu* m_trayMenu = nullptr;
    QAction* m_reportAction = nullptr;
    std::array<QAction*, kApplicationItemCount> m_applicationItems{};
    std::array<QAction*, kOptionItemCount> m_optionItems{};
    std::array<QAction*, kApplicationItemCount> m_trayItems{};
    std::array<QPushButton*, kApplicationItemCount> m_buttons{};
    std::array<QFrame*, 3> m_picWindow{};
    QTreeWidget* m_list = nullptr;
    QTextEdit* m_report = nullptr;
    QPushButton* m_closeReport = nullptr;
    QLabel* m_folderCaption = nullptr;
    QLabel* m_folderLabel = nullptr;
    QStatusBar* m_statusBar = nullptr;
    QTimer* m_timer = nullptr;
    QSystemTrayIcon* m_tray = nullptr;
};

// The image of a state key ("GENERAL", "AUTOMATIC", "RUNNING", "STOPPED"),
// and the program's own icon.
QIcon stateIcon(std::string_view stateKey);
QIcon programIcon();

// The shown name of a control-array member: "name(index)".
QString arrayName(const char* name, int index);

}  // namespace tavrel::agent
