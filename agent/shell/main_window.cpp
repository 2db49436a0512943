// The main window's load sequence, state display, options, tray, report view,
// hints and close rules. The timer and the Update Check are in
// main_window_schedule.cpp.
#include "agent/shell/main_window.h"

#include <algorithm>

#include "platform/text_rules.h"

namespace tavrel::agent {
namespace {

constexpr int kHide = int(ApplicationItem::Hide);
constexpr int kTrim = int(ApplicationItem::TrimLog);
constexpr int kRefresh = int(ApplicationItem::RefreshList);
constexpr int kCheck = int(ApplicationItem::UpdateCheck);
constexpr int kInTray = int(OptionItem::HideInTray);
constexpr int kOnMinimize = int(OptionItem::HideOnMinimize);
constexpr int kMenuButtons = int(OptionItem::ShowMenuButtons);

bool flagSetting(const Configuration& configuration, WindowSetting key) {
    const SettingValue value = configuration.ReadWindowSetting(key);
    return std::holds_alternative<bool>(value) && std::get<bool>(value);
}

int numberSetting(const Configuration& configuration, WindowSetting key) {
    const SettingValue value = configuration.ReadWindowSetting(key);
    if (!std::holds_alternative<float>(value)) return 0;
    // Out-of-range numbers are taken as unusable sizes rather than wrapped.
    const float number = std::get<float>(value);
    if (!(number > -1e9f && number < 1e9f)) return -1;
    return int(number);
}

}  // namespace

std::string trayTip(const std::string& caption, const std::string& stateText) {
    std::string tip = caption;
    if (!stateText.empty()) tip += " (" + stateText + ")";
    if (tip.size() > 63) tip.resize(63);
    return tip;
}

MainWindow::MainWindow(MainWindowView& view, RunState& state, Configuration& configuration,
                       TavrelUpdateInit& init, session::VersionFiles& versions,
                       UpdateHistory& history, AgentServices& services,
                       const platform::Clock& clock, std::string programVersion)
    : m_view(view),
      m_state(state),
      m_configuration(configuration),
      m_init(init),
      m_versions(versions),
      m_history(history),
      m_services(services),
      m_clock(clock),
      m_programVersion(std::move(programVersion)) {
    m_itemEnabled.fill(true);
    m_optionEnabled.fill(true);
}

void MainWindow::Form_Load() {
    m_view.setWindowSizeTwips(kLoadWidthTwips, m_view.windowHeightTwips());
    m_view.setTrayShowCaption("Show " + m_state.applicationTitle);
    m_view.hideReport();
    m_view.setTrayMenuInMenuBar(m_state.testMode);
    m_view.setPanelText("VERSION", m_programVersion);
    setOptionChecked(kInTray, flagSetting(m_configuration, WindowSetting::HideInTray));
    setOptionChecked(kOnMinimize, flagSetting(m_configuration, WindowSetting::HideOnMinimize));
    setOptionChecked(kMenuButtons, flagSetting(m_configuration, WindowSetting::ShowMenuButtons));
    if (!m_view.trayAvailable()) {
        // Without a notification area a hidden window could never come back.
        m_optionEnabled[kInTray] = false;
        m_view.setOptionEnabled(kInTray, false, std::string(kNoTrayToolTip));
    }
    applyStoredSize();
    m_view.showWindow();
    m_view.processPendingEvents();
    mnoOption_Click(-1);
    ShowState(ShowStateMode::Idle);
    m_configuration.ReadMainPath();
    m_isConfigured = m_init.Settings().Configured();
    if (m_isConfigured) m_history.ImportInstallerResult();
    ShowVersions();
    m_view.setPanelText("LASTCHECK", m_configuration.ReadText("Updates", "LastCheck", ""));
    LoadUpdateList();
    m_services.appendOperationLog("Tavrel Update - Loaded and Started");
    m_view.setTimerInterval(kFirstTickInterval);
    setTimerEnabled(true);
}

void MainWindow::applyStoredSize() {
    int width = numberSetting(m_configuration, WindowSetting::FormWidth);
    int height = numberSetting(m_configuration, WindowSetting::FormHeight);
    if (width == 0) width = kDefaultWidthTwips;
    if (height == 0) height = kDefaultHeightTwips;
    if (width > 0 && height > 0) m_view.setWindowSizeTwips(width, height);
}

void MainWindow::ShowState(ShowStateMode mode) {
    const bool wasConfigured = m_isConfigured;
    m_isConfigured = m_init.Settings().Configured();
    if (m_isConfigured) {
        m_caption = m_state.applicationTitle;
        setItemEnabled(kCheck, true);
        setItemEnabled(kRefresh, true);
    } else {
        m_caption = m_state.applicationTitle + " (NOT CONFIGURED)";
        setItemEnabled(kRefresh, false);
        setItemEnabled(kCheck, false);
        m_view.setPanelText("STATUS", "Use Settings Option to configure the Application");
        mode = ShowStateMode::Idle;
    }
    m_view.setCaption(m_caption);
    m_view.setTrayItemEnabled(kCheck, m_itemEnabled[kCheck]);
    for (int index : {kCheck, kTrim, kRefresh})
        m_view.setButtonEnabled(index, m_itemEnabled[index]);
    if (mode == ShowStateMode::Idle) {
        if (!m_isConfigured) {
            mode = ShowStateMode::Stopped;
        } else if (m_init.UpdateAutomatic() || m_state.scheduleMode) {
            mode = ShowStateMode::Automatic;
        } else {
            mode = ShowStateMode::Manual;
        }
    }
    if (mode < ShowStateMode::Manual || mode > ShowStateMode::Stopped) return;
    applyStateKey(mode);
    m_view.setFolderText(m_configuration.ReadMainPath());
    m_view.setStateIcon(m_stateKey);
    showModePanel();
    if (optionChecked(kInTray)) UpdateTrayIcon(TrayIconMode::Modify);
    if (m_isConfigured && !wasConfigured) {
        m_view.setPanelText("STATUS", "");
        LoadUpdateList();
    }
}

void MainWindow::applyStateKey(ShowStateMode mode) {
    switch (mode) {
        case ShowStateMode::Manual:
            m_stateKey = "GENERAL", m_stateText = "Manual";
            break;
        case ShowStateMode::Automatic:
            m_stateKey = "AUTOMATIC", m_stateText = "Automatic";
            break;
        case ShowStateMode::Running:
            m_stateKey = "RUNNING", m_stateText = "Checking for Updates";
            break;
        default:
            m_stateKey = "STOPPED", m_stateText = "Stopped";
            break;
    }
}

void MainWindow::showModePanel() {
    const std::string text = m_stateKey == "RUNNING" ? "Running" : m_stateText;
    const std::string upper = platform::upperText(text);
    m_view.setPanelText("MODE", upper);
    if (upper == "AUTOMATIC") {
        std::string start, finish;
        m_init.UpdateTimes(start, finish);
        m_view.setPanelToolTip("MODE",
                               "Update Times Schedule - Start: " + start + " Finish: " + finish);
    } else {
        m_view.setPanelToolTip("MODE", "Update Mode");
    }
}

void MainWindow::ArrangeWindow() {
    WindowLayout layout;
    layout.buttonsVisible = optionChecked(kMenuButtons);
    layout.listPanelWidthTwips = m_view.clientWidthTwips() - 30;
    if (layout.buttonsVisible) layout.listPanelWidthTwips -= m_view.buttonColumnWidthTwips();
    layout.folderLabelWidthTwips =
        m_view.folderPanelWidthTwips() - m_view.folderLabelLeftTwips() - 60;
    m_view.applyLayout(layout);
}

void MainWindow::Form_Resize(bool minimized) {
    if (minimized) return;
    const int width = m_view.windowWidthTwips();
    const int height = m_view.windowHeightTwips();
    if (height < kMinimumHeightTwips || width < kMinimumWidthTwips) {
        m_view.setWindowSizeTwips(std::max(width, kMinimumWidthTwips),
                                  std::max(height, kMinimumHeightTwips));
    }
    ArrangeWindow();
}

void MainWindow::mnoOption_Click(int index) {
    if (index == -1) {
        ArrangeWindow();
    } else {
        if (index < 0 || index >= kOptionItemCount || !m_optionEnabled[size_t(index)]) return;
        setOptionChecked(index, !optionChecked(index));
        if (index == kMenuButtons) ArrangeWindow();
    }
    applyHideRules();
    if (index == kInTray) {
        UpdateTrayIcon(optionChecked(kInTray) ? TrayIconMode::Add : TrayIconMode::Delete);
    }
}

void MainWindow::applyHideRules() {
    // Hiding to the tray needs the tray icon.
    const bool hideAllowed = hideOption(kInTray);
    m_optionEnabled[kOnMinimize] = hideAllowed;
    m_view.setOptionEnabled(kOnMinimize, hideAllowed,
                            m_view.trayAvailable() ? "" : std::string(kNoTrayToolTip));
    setItemEnabled(kHide, hideAllowed);
    m_view.setButtonEnabled(kHide, hideAllowed);
}

void MainWindow::UpdateTrayIcon(TrayIconMode mode) {
    if (!m_view.trayAvailable()) return;
    if (mode == TrayIconMode::Modify && !m_trayShown) mode = TrayIconMode::Add;
    const std::string tip = trayTip(m_caption, m_stateText);
    switch (mode) {
        case TrayIconMode::Add:
            if (!m_trayShown) {
                m_view.addTrayIcon(m_stateKey, tip);
                m_trayShown = true;
            }
            break;
        case TrayIconMode::Modify:
            m_view.modifyTrayIcon(m_stateKey, tip);
            break;
        case TrayIconMode::Delete:
            if (m_trayShown) {
                m_view.deleteTrayIcon();
                m_trayShown = false;
            }
            break;
    }
}

void MainWindow::picHook_MouseMove(int message) {
    if (m_trayBusy) return;
    m_trayBusy = true;
    if (message == kTrayLeftDoubleClick) {
        if (!m_view.isWindowVisible()) mnoTray_Click(0);
    } else if (message == kTrayRightButtonUp) {
        if (!m_view.isWindowVisible()) m_view.popupTrayMenu();
    }
    m_trayBusy = false;
}

void MainWindow::mnoTray_Click(int index) {
    if (index != 0 || m_view.isWindowVisible()) {
        mnoApplication_Click(index);
    } else {
        m_view.showWindow();
    }
}

void MainWindow::mnoApplication_Click(int index) {
    switch (ApplicationItem(index)) {
        case ApplicationItem::Hide:
            if (m_itemEnabled[kHide] && m_view.isWindowVisible()) m_view.hideWindow();
            break;
        case ApplicationItem::TrimLog:
            trimUpdateLog();
            break;
        case ApplicationItem::RefreshList:
            LoadUpdateList();
            break;
        case ApplicationItem::UpdateCheck:
            StartUpdateCheck();
            break;
        case ApplicationItem::Settings:
            openSettings();
            break;
        case ApplicationItem::About:
            m_view.showAboutBox();
            break;
        case ApplicationItem::Exit:
            unload();
            break;
    }
}

void MainWindow::openSettings() {
    const std::string before = m_state.applicationFolder;
    m_init.Settings().Show();
    ShowState(ShowStateMode::Idle);
    m_configuration.ReadMainPath();
    ShowVersions();
    if (platform::upperText(before) != platform::upperText(m_state.applicationFolder)) {
        LoadUpdateList();
    }
    ShowVersions();
}

void MainWindow::mnuReport_Click() {
    if (m_reportOpen) {
        CloseReport();
        return;
    }
    const std::optional<std::string> key = m_view.selectedItemKey();
    if (!key) return;
    m_view.showReport(m_history.ReadUpdateReport(*key).value_or(""));
    m_reportOpen = true;
    m_view.setReportMenuCaption("Close Report");
}

void MainWindow::lvwUpdates_DblClick() {
    if (!m_reportOpen) mnuReport_Click();
}

void MainWindow::CloseReport() {
    m_view.setReportMenuCaption("Open Report");
    m_view.hideReport();
    m_reportOpen = false;
}

void MainWindow::lvwUpdates_ItemClick() {
    m_view.setReportMenuCaption(m_reportOpen ? "Close Report" : "Open Report");
    if (m_isConfigured) m_view.setPanelText("STATUS", "Double-Click to View Update Log Report");
}

void MainWindow::showHint(const std::string& toolTip) {
    if (m_isConfigured) m_view.setPanelText("STATUS", toolTip);
}

void MainWindow::lvwUpdates_MouseMove() {
    if (!m_isConfigured) return;
    m_view.setPanelText("STATUS", m_list.count() == 0 ? "Update Reports will appear in this window"
                                                      : "Double-Click on Update to View Report");
}

void MainWindow::hideToTray() { mnoApplication_Click(kHide); }

void MainWindow::Form_Minimized() {
    if (hideOption(kInTray) && hideOption(kOnMinimize)) {
        m_view.showHideOnMinimize();
        hideToTray();
        m_view.restoreNormalState();
    }
}

bool MainWindow::QueryUnload(CloseSource source) {
    if (!m_restartPending) {
        if (m_state.scheduleMode && m_state.unloadAfterRun) {
            CloseDown();
            return true;
        }
        if (source == CloseSource::CloseBox && hideOption(kInTray) &&
            m_optionEnabled[kOnMinimize] && !optionChecked(kOnMinimize)) {
            m_view.showHideOnClose();
            hideToTray();
            return false;
        }
    }
    if (m_view.isWindowNormal()) {
        m_configuration.WriteWindowSetting(WindowSetting::FormHeight,
                                           float(m_view.windowHeightTwips()));
        m_configuration.WriteWindowSetting(WindowSetting::FormWidth,
                                           float(m_view.windowWidthTwips()));
    }
    m_configuration.WriteWindowSetting(WindowSetting::HideInTray, optionChecked(kInTray));
    m_configuration.WriteWindowSetting(WindowSetting::HideOnMinimize, optionChecked(kOnMinimize));
    m_configuration.WriteWindowSetting(WindowSetting::ShowMenuButtons, optionChecked(kMenuButtons));
    CloseDown();
    return true;
}

void MainWindow::Form_Unload() {
    m_unloaded = true;
    CloseDown();
    m_services.appendOperationLog("TavrelUpdate1 - Unloaded");
    if (m_restartPending && !m_state.testMode) startInstaller();
}

void MainWindow::startInstaller() {
    const std::string program = m_state.agentFolder + "TAVRELUPDATE.EXE";
    const int error = m_services.startProgram(program, m_state.restartSwitches);
    if (error == 0) return;
    // The agent is ending: a hand-over that did not happen must be seen.
    const std::string text =
        "The installer " + program + " could not be started (error " + std::to_string(error) + ")";
    m_services.appendOperationLog("TavrelUpdate1 - " + text);
    m_view.showMessageBox(m_state.applicationTitle, text + ".", MessageStyle::Information);
}

void MainWindow::Form_Terminate() {
    CloseDown();
    m_services.appendOperationLog("TavrelUpdate1 - Terminated");
}

void MainWindow::CloseDown() {
    if (m_closedDown) return;
    UpdateTrayIcon(TrayIconMode::Delete);
    m_services.closeEngine();
    m_closedDown = true;
}

void MainWindow::unload() {
    if (m_unloaded) return;
    m_view.unloadWindow();
}

void MainWindow::setItemEnabled(int index, bool enabled) {
    m_itemEnabled[size_t(index)] = enabled;
    m_view.setApplicationItemEnabled(index, enabled);
}

void MainWindow::setMenuEnabled(bool enabled) {
    m_menuEnabled = enabled;
    m_view.setApplicationMenuEnabled(enabled);
}

void MainWindow::setTimerEnabled(bool enabled) {
    m_timerEnabled = enabled;
    m_view.setTimerEnabled(enabled);
}

void MainWindow::setOptionChecked(int index, bool checked) {
    m_optionChecked[size_t(index)] = checked;
    m_view.setOptionChecked(index, checked);
}

}  // namespace tavrel::agent
