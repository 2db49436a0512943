// The main window's timer rule, the Update Check with its hand-over to a
// self-update, the version panels and the history list.
#include "agent/session/update_level.h"
#include "agent/shell/main_window.h"

namespace tavrel::agent {

void ShowUpdateNotice(int code, std::string& text, MessageStyle& style, std::string& title,
                      const std::string& applicationTitle, MessageBoxView& view) {
    if (title.empty()) title = applicationTitle;
    if (code == kNoticeRestart) {
        text =
            "This Application needs to Terminate and Restart itself in order to install an "
            "Update";
        style = MessageStyle::Information;
    } else if (code == kNoticeDownloaded) {
        text =
            "An Update has been downloaded for the 'Kestmoor Tavrel Update' Application.\r\n"
            "This needs to be installed before any other updates can be downloaded\r\n\r\n"
            "When the Application restarts Run Update Check again.";
        style = MessageStyle::Information;
    }
    view.showMessageBox(title, text, style);
}

void MainWindow::Timer1_Timer() {
    if (m_unloaded) return;
    if (m_view.timerInterval() < kTickInterval) m_view.setTimerInterval(kTickInterval);
    if (m_init.UpdateRunning()) return;
    if (!m_init.UpdateAutomatic()) return;
    m_view.setPanelText("LASTCHECK", m_configuration.ReadText("Updates", "LastCheck", ""));
    bool checked = false;
    const platform::DateTime now = m_clock.now();
    if (m_state.nowMode ||
        (m_init.UpdateLast() != platform::formatDateTime(now, platform::kDayPattern) &&
         m_init.UpdateNow())) {
        m_autoCheckActive = true;
        StartUpdateCheck();
        m_autoCheckActive = false;
        checked = true;
    }
    if (m_unloaded) return;
    if (m_versionCountdown > 0) {
        --m_versionCountdown;
    } else {
        ShowVersions();
    }
    if (!m_state.scheduleMode || !m_state.unloadAfterRun) return;
    if (checked && m_state.completedToday) {
        m_services.appendOperationLog(
            "ScheduleTask Finished - Update Process has been Completed for Today");
        unload();
    } else if (platform::formatDateTime(m_clock.now(), platform::kTimeOfDayPattern) >
               m_state.scheduleFinish) {
        m_services.appendOperationLog("ScheduleTask Finished - FinishTime has already been passed");
        unload();
    }
}

void MainWindow::StartUpdateCheck() {
    if (!m_menuEnabled || !m_itemEnabled[size_t(ApplicationItem::UpdateCheck)]) return;
    setMenuEnabled(false);
    bool userStarted = false;
    if (m_init.UpdateLock(true) == LockResult::Taken) {
        ShowState(ShowStateMode::Running);
        userStarted = !m_autoCheckActive;
        setTimerEnabled(false);
        if (m_init.UpdateRun(m_autoCheckActive)) {
            m_view.setPanelText("LASTCHECK",
                                platform::formatDateTime(m_clock.now(), platform::kDisplayPattern));
            m_configuration.WriteWindowSetting(WindowSetting::LastCheck,
                                               m_view.panelText("LASTCHECK"));
        }
        LoadUpdateList();
        ShowState(ShowStateMode::Idle);
        ShowVersions();
    }
    m_init.UpdateLock(false);
    finishUpdateCheck(userStarted);
}

void MainWindow::finishUpdateCheck(bool userStarted) {
    const std::string installed = m_versions.ReadVersionFile(session::VersionKind::Agent);
    const std::string downloaded =
        m_versions.ReadVersionFile(session::VersionKind::DownloadedAgent);
    if (session::isNewerLevel(downloaded, installed)) {
        setTimerEnabled(false);
        m_restartPending = true;
        if (userStarted) {
            std::string text;
            MessageStyle style = MessageStyle::Information;
            std::string title;
            ShowUpdateNotice(kNoticeRestart, text, style, title, m_state.applicationTitle, m_view);
        }
        unload();
        return;
    }
    m_autoCheckActive = false;
    setTimerEnabled(true);
    setMenuEnabled(true);
}

void MainWindow::ShowVersions() {
    m_versionCountdown = kVersionRefreshTicks;
    m_view.setPanelText("UPDVERSION", m_versions.ReadVersionFile(session::VersionKind::Agent));
    if (m_isConfigured) {
        m_view.setPanelText("CURVERSION",
                            m_versions.ReadVersionFile(session::VersionKind::Application));
    }
}

void MainWindow::LoadUpdateList() {
    m_history.LoadUpdateList(m_list, m_isConfigured, m_configuration.ReadKeepLastRecords(),
                             [this] { trimUpdateLog(); });
    const bool trim = m_list.trimEnabled();
    setItemEnabled(int(ApplicationItem::TrimLog), trim);
    m_view.setButtonEnabled(int(ApplicationItem::TrimLog), trim);
    m_view.showUpdateList(m_list);
}

void MainWindow::trimUpdateLog() {
    // Completed records beyond "Number of Update Records to Keep" are marked
    // deleted; the list then shows what the table keeps.
    if (m_history.TrimUpdateLogTable(m_configuration.ReadKeepLastRecords()) > 0) LoadUpdateList();
}

}  // namespace tavrel::agent
