// The update window's own rules: its load, the retry timer of an automatic
// session, the buttons and the Options menu, and the closing rules.
#include "agent/history/history_table.h"
#include "agent/session/file_helpers.h"
#include "agent/session/update_session.h"

namespace tavrel::session {

using history::WindowLogAction;
using history::WindowLogTarget;

void UpdateSession::FormLoad() {
    m_stepCode = int(FtpStep::kDisconnected);
    clearRemoteList();
    if (m_panels) {
        m_panels->setPanelText("NEWVERSION", "");
        m_panels->setPanelText("CURVERSION", "");
        m_panels->setPanelText("UPDVERSION", "");
    }
    if (m_view) m_view->showCommandLog(false);
    for (int page = 0; page < history::kWindowLogPages; ++page) clearPage(page);
    if (m_pages) m_pages->SelectLogPage(0);
    setMenu(OptionsItem::kShowCommandLog, false, true);
    setMenu(OptionsItem::kIgnoreThisUpdate, false, true);
    setMenu(OptionsItem::kProduceTraceFile, m_with.configuration.ReadTraceFile(), true);
    m_with.versions.ReadVersionFile(VersionKind::Agent);
    m_with.versions.ReadVersionFile(VersionKind::Application);
    if (m_panels) {
        m_panels->setPanelText("CURVERSION", m_with.versions.ApplicationLevel());
        m_panels->setPanelText("UPDVERSION", m_with.versions.AgentLevel());
    }
    m_lastSessionResult = int(SessionResult::kLoaded);
    m_ftp.setTrace(false);
    m_ftp.setTraceFile(JoinPath(m_with.state.agentFolder, "FTPTRACE5.LOG"));
    m_retry = true;
    const bool automatic = m_with.state.automaticRun;
    if (m_panels) m_panels->setPanelText("AUTOUPDATE", automatic ? "AUTO" : "USER");
    setButton(UpdateButton::kConnect, !automatic);
    setButton(UpdateButton::kDisconnect, true);
    setButton(UpdateButton::kExit, true);
    setTimer(automatic, kFirstTickMilliseconds);
    if (!automatic) setMenu(OptionsItem::kIgnoreThisUpdate, true, false);
    if (m_with.history && m_with.history->OpenHistoryTable()) m_with.history->CloseHistoryTable();
    EnsureFolder(JoinPath(m_with.state.agentFolder, "OldVersion"), true);
    EnsureFolder(JoinPath(m_with.state.agentFolder, "NewVersion"), true);
}

std::string UpdateSession::finishTime() const {
    if (m_with.state.scheduleMode) return m_with.state.scheduleFinish;
    return m_with.configuration.ReadUpdateFinish();
}

void UpdateSession::Timer1Tick() {
    const platform::DateTime now = m_with.clock.now();
    if (m_view) m_view->showDateTime(platform::formatDateTime(now, platform::kDisplayPattern));
    if (m_timerInterval != kTickMilliseconds) setTimer(true, kTickMilliseconds);
    const std::string time = platform::formatDateTime(now, platform::kTimeOfDayPattern);
    if (m_retry && time < finishTime()) {
        if (m_tickCounter < 1) {
            if (buttonEnabled(UpdateButton::kExit)) cmdConnectClick();
            m_tickCounter = 1;
        } else {
            ++m_tickCounter;
            write("Next Connection Due In " + std::to_string(10 - m_tickCounter) + " Mins",
                  WindowLogTarget::Status);
            if (m_tickCounter == 9) m_tickCounter = 0;
        }
        return;
    }
    if (buttonEnabled(UpdateButton::kExit) && m_view) m_view->closeWindow();
}

void UpdateSession::cmdConnectClick() {
    FtpSessionStep(int(FtpStep::kConnect));
    if (!m_restart) return;
    if (!m_with.state.automaticRun && m_view) m_view->showUpdateNotice();
    if (m_view) m_view->closeWindow();
}

void UpdateSession::cmdDisconnectClick() { FtpSessionStep(int(FtpStep::kDisconnect)); }

void UpdateSession::cmdExitClick() {
    if (m_view) m_view->closeWindow();
}

void UpdateSession::menuItemClicked(OptionsItem item) {
    if (!menuEnabled(item)) return;
    const bool checked = !menuChecked(item);
    setMenu(item, checked, true);
    if (item == OptionsItem::kShowCommandLog && m_view) m_view->showCommandLog(checked);
}

bool UpdateSession::QueryUnload() {
    // "Exit" is disabled from step 3001 until the session's last step ran.
    if (!buttonEnabled(UpdateButton::kExit)) return false;
    if (m_restart) return true;
    const int step = m_stepCode;
    if (step == int(FtpStep::kDisconnected) || step == int(FtpStep::kShutDown)) {
        setTimer(false, m_timerInterval);
        const int result = m_lastSessionResult;
        if (m_with.state.automaticRun && !menuChecked(OptionsItem::kIgnoreThisUpdate) &&
            (result == int(SessionResult::kNothingNew) ||
             result == int(SessionResult::kInstalled))) {
            m_with.state.completedToday = true;
            m_with.configuration.WriteUpdateLast(
                platform::formatDateTime(m_with.clock.now(), platform::kDayPattern));
        }
        if (step < int(FtpStep::kShutDown)) FtpSessionStep(int(FtpStep::kShutDown));
        m_closedCleanly = true;
        return true;
    }
    return step >= int(FtpStep::kDisconnected);
}

void UpdateSession::FormUnload() {
    setTimer(false, m_timerInterval);
    if (!m_shutDownRan) FtpSessionStep(int(FtpStep::kShutDown));
    m_closedCleanly = true;
}

}  // namespace tavrel::session
