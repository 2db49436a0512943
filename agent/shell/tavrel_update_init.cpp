#include "agent/shell/tavrel_update_init.h"

#include "platform/files.h"

namespace tavrel::agent {

TavrelUpdateInit::TavrelUpdateInit(RunState& state, Configuration& configuration,
                                   const platform::Clock& clock)
    : m_state(state), m_configuration(configuration), m_clock(clock), m_settings(configuration) {}

TavrelUpdateInit::~TavrelUpdateInit() = default;

void TavrelUpdateInit::UpdateTimes(std::string& start, std::string& finish) {
    if (m_state.scheduleMode) {
        start = m_state.scheduleStart;
        finish = m_state.scheduleFinish;
    } else {
        start = m_settings.TimeStart();
        finish = m_settings.TimeFinish();
    }
}

LockResult TavrelUpdateInit::UpdateLock(bool take) {
    if (!take) {
        m_lock.reset();
        return LockResult::Taken;
    }
    // An unset folder would name the current folder: never look for the
    // application, nor leave a lock file, wherever the agent happens to run.
    if (m_state.applicationFolder.empty()) return LockResult::NoApplication;
    const std::string folder = platform::withTrailingSeparator(m_state.applicationFolder);
    if (!platform::fileExists(folder + "TAVREL32.EXE")) return LockResult::NoApplication;
    auto lock = platform::LockFile::acquire(folder + "TAVRELUPD.LCK");
    if (!lock) return LockResult::InUse;
    m_lock = std::move(lock);
    return LockResult::Taken;
}

bool TavrelUpdateInit::UpdateNow() {
    std::string start, finish;
    UpdateTimes(start, finish);
    const std::string now = platform::formatDateTime(m_clock.now(), platform::kTimeOfDayPattern);
    return now > start && now < finish;
}

bool TavrelUpdateInit::UpdateAutomatic() const {
    return m_state.scheduleMode || m_configuration.ReadUpdateFlag();
}

bool TavrelUpdateInit::UpdateRun(bool automatic) {
    if (m_services && m_services->closeAllTables() != 0) return false;
    m_state.runCompleted = false;
    m_state.runInProgress = true;
    m_state.automaticRun = automatic;
    if (m_services) m_services->showUpdateWindow();
    UpdateLock(false);
    const bool completed = m_state.runCompleted;
    m_state.automaticRun = false;
    m_state.runInProgress = false;
    m_state.runCompleted = false;
    return completed;
}

}  // namespace tavrel::agent
