// The logic of the main window frmMain: its load sequence, the state shown
// in caption, panels and tray icon, the Options menu, the tray handlers, the
// report view, the hints, the minimise and close rules and the daily timer
// with the Update Check. The window forwards its events here and shows what
// it is told; every decision is made in this class.
//
// One object lives as long as the window. All collaborators are borrowed and
// must outlive it.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "agent/history/update_list_model.h"
#include "agent/session/version_files.h"
#include "agent/shell/configuration.h"
#include "agent/shell/main_window_view.h"
#include "agent/shell/run_state.h"
#include "agent/shell/tavrel_update_init.h"
#include "platform/clock.h"

namespace tavrel::agent {

// Modes of ShowState.
enum class ShowStateMode : int {
    Idle = 0,       // decide between manual, automatic and stopped
    Manual = 1,     // "GENERAL", "Manual"
    Automatic = 2,  // "AUTOMATIC", "Automatic"
    Running = 3,    // "RUNNING", "Checking for Updates"
    Stopped = 4,    // "STOPPED", "Stopped"
};

// Modes of UpdateTrayIcon.
enum class TrayIconMode : int {
    Add = 0,     // show the icon when it is not shown
    Modify = 1,  // new image and tip (adds it when not shown)
    Delete = 2,  // remove the icon when it is shown
};

// Tray notifications, by the mouse message numbers the window receives.
inline constexpr int kTrayLeftDoubleClick = 515;
inline constexpr int kTrayRightButtonUp = 517;

// Notice codes of ShowUpdateNotice.
inline constexpr int kNoticeRestart = 3500;
inline constexpr int kNoticeDownloaded = 4500;

// Timer1: the first tick 10 s after load, then one a minute.
inline constexpr int kFirstTickInterval = 10000;
inline constexpr int kTickInterval = 60000;
// Ticks between two refreshes of the version panels.
inline constexpr int kVersionRefreshTicks = 12;

// Window sizes in twips.
inline constexpr int kLoadWidthTwips = 11000;
inline constexpr int kDesignHeightTwips = 6000;
inline constexpr int kDefaultWidthTwips = 13900;
inline constexpr int kDefaultHeightTwips = 6600;
inline constexpr int kMinimumWidthTwips = 8700;
inline constexpr int kMinimumHeightTwips = 4500;

// Tool tip of the hide options when the desktop has no notification area.
inline constexpr std::string_view kNoTrayToolTip =
    "Not available: this desktop has no system tray (notification area)";

// Shows notice 3500 or 4500 (or, for another code, the caller's text and
// style) in a message box; an empty title becomes `applicationTitle`. The
// text, style and title used are left in the arguments.
void ShowUpdateNotice(int code, std::string& text, MessageStyle& style, std::string& title,
                      const std::string& applicationTitle, MessageBoxView& view);

// The tray tip: the caption, then " (" state text ")" when there is one, cut
// to the 63 characters the notification record holds.
std::string trayTip(const std::string& caption, const std::string& stateText);

class MainWindow {
  public:
    MainWindow(MainWindowView& view, RunState& state, Configuration& configuration,
               TavrelUpdateInit& init, session::VersionFiles& versions, UpdateHistory& history,
               AgentServices& services, const platform::Clock& clock, std::string programVersion);

    // The load sequence; ends with Timer1 running.
    void Form_Load();

    void ShowState(ShowStateMode mode);
    void ShowVersions();
    void ArrangeWindow();
    // After a resize: snaps a window below the minimum size back to it and
    // arranges the controls. Nothing happens while minimised.
    void Form_Resize(bool minimized);

    // The Options handler; -1 applies all ticks.
    void mnoOption_Click(int index);
    // The Application menu, its buttons (same index) and the tray menu.
    void mnoApplication_Click(int index);
    void cmdApplication_Click(int index) { mnoApplication_Click(index); }
    void mnoTray_Click(int index);
    void UpdateTrayIcon(TrayIconMode mode);
    // A tray notification (kTrayLeftDoubleClick, kTrayRightButtonUp, others ignored).
    void picHook_MouseMove(int message);

    // The report view.
    void mnuReport_Click();
    void lvwUpdates_DblClick();
    void lvwUpdates_ItemClick();
    void CloseReport();
    bool reportOpen() const { return m_reportOpen; }

    // Hints in panel "STATUS": a control's tool tip, or the list's hint.
    void showHint(const std::string& toolTip);
    void lvwUpdates_MouseMove();

    // Minimise and close.
    void Form_Minimized();
    // True when the window may close; false when the close became hiding.
    bool QueryUnload(CloseSource source);
    void Form_Unload();
    void Form_Terminate();
    void CloseDown();

    // The daily schedule.
    void Timer1_Timer();
    void StartUpdateCheck();
    void LoadUpdateList();

    // State, for the window and for tests.
    bool IsConfigured() const { return m_isConfigured; }
    bool RestartPending() const { return m_restartPending; }
    bool AutoCheckActive() const { return m_autoCheckActive; }
    bool ClosedDown() const { return m_closedDown; }
    bool Unloaded() const { return m_unloaded; }
    int VersionCountdown() const { return m_versionCountdown; }
    const std::string& stateKey() const { return m_stateKey; }
    const std::string& stateText() const { return m_stateText; }
    const std::string& caption() const { return m_caption; }
    bool trayIconShown() const { return m_trayShown; }
    bool optionChecked(int index) const { return m_optionChecked.at(size_t(index)); }
    bool optionEnabled(int index) const { return m_optionEnabled.at(size_t(index)); }
    bool applicationItemEnabled(int index) const { return m_itemEnabled.at(size_t(index)); }
    bool applicationMenuEnabled() const { return m_menuEnabled; }
    bool timerEnabled() const { return m_timerEnabled; }
    const history::UpdateListModel& updateList() const { return m_list; }

  private:
    void setItemEnabled(int index, bool enabled);
    void setMenuEnabled(bool enabled);
    void setTimerEnabled(bool enabled);
    void setOptionChecked(int index, bool checked);
    void applyHideRules();
    void applyStateKey(ShowStateMode mode);
    void showModePanel();
    void applyStoredSize();
    void hideToTray();
    void openSettings();
    void trimUpdateLog();
    void unload();
    void startInstaller();
    void finishUpdateCheck(bool userStarted);
    bool hideOption(int index) const {
        return m_optionEnabled[size_t(index)] && optionChecked(index);
    }

    MainWindowView& m_view;
    RunState& m_state;
    Configuration& m_configuration;
    TavrelUpdateInit& m_init;
    session::VersionFiles& m_versions;
    UpdateHistory& m_history;
    AgentServices& m_services;
    const platform::Clock& m_clock;
    std::string m_programVersion;

    bool m_isConfigured = false;
    bool m_closedDown = false;
    bool m_unloaded = false;
    bool m_autoCheckActive = false;
    bool m_restartPending = false;
    int m_versionCountdown = 0;
    std::string m_caption;
    std::string m_stateKey = "GENERAL";
    std::string m_stateText;
    bool m_trayShown = false;
    bool m_trayBusy = false;
    bool m_reportOpen = false;
    bool m_menuEnabled = true;
    bool m_timerEnabled = false;
    std::array<bool, kApplicationItemCount> m_itemEnabled{};
    std::array<bool, kOptionItemCount> m_optionChecked{};
    std::array<bool, kOptionItemCount> m_optionEnabled{};
    history::UpdateListModel m_list;
};

}  // namespace tavrel::agent
