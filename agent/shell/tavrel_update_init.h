// The start-up object: answers the schedule questions, takes the lock file
// that keeps an update run and the business application apart, and runs one
// update run. One instance lives as long as the process.
#pragma once

#include <memory>
#include <string>

#include "agent/shell/configuration.h"
#include "agent/shell/run_state.h"
#include "agent/shell/tavrel_update_settings.h"
#include "platform/clock.h"
#include "platform/lock_file.h"

namespace tavrel::agent {

// Results of `UpdateLock`.
enum class LockResult : int {
    Taken = 1,           // lock taken (or released)
    NoApplication = -1,  // no TAVREL32.EXE in the application folder
    InUse = -2,          // the lock file is held by someone else
};

// What an update run needs from the rest of the agent.
class UpdateRunServices {
  public:
    virtual ~UpdateRunServices() = default;
    // Closes every open table of the database engine; returns the engine's
    // error code (0 when all went well).
    virtual int closeAllTables() = 0;
    // Creates the update window, shows it modally and returns when it has
    // closed. The window reads and sets the run state's run values.
    virtual void showUpdateWindow() = 0;
};

class TavrelUpdateInit {
  public:
    // All references must outlive this object.
    TavrelUpdateInit(RunState& state, Configuration& configuration, const platform::Clock& clock);
    ~TavrelUpdateInit();

    // `services` is borrowed and must outlive this object (or be replaced);
    // without services a run shows nothing and does not complete.
    void setRunServices(UpdateRunServices* services) { m_services = services; }

    // In schedule mode the command line's start and finish; otherwise the
    // configured ones.
    void UpdateTimes(std::string& start, std::string& finish);

    // take: opens "TAVRELUPD.LCK" in the application folder exclusively and
    // holds it. Release (take = false) closes the lock file opened last.
    LockResult UpdateLock(bool take);

    TavrelUpdateSettings& Settings() { return m_settings; }

    // [Updates] UpdateLast: the day ("YYYYMMDD") an automatic run last completed.
    std::string UpdateLast() const { return m_configuration.ReadUpdateLast(); }

    // True when the time of day ("Hh:Nn") lies strictly between start and
    // finish, compared as texts.
    bool UpdateNow();

    // Schedule mode, or else the configured UpdateFlag.
    bool UpdateAutomatic() const;

    // Runs one update run: closes the engine's tables (an error there starts
    // nothing and returns false), shows the update window modally, releases
    // the lock and returns whether the run completed.
    bool UpdateRun(bool automatic);

    bool UpdateRunning() const { return m_state.runInProgress; }

  private:
    RunState& m_state;
    Configuration& m_configuration;
    const platform::Clock& m_clock;
    TavrelUpdateSettings m_settings;
    std::unique_ptr<platform::LockFile> m_lock;
    UpdateRunServices* m_services = nullptr;
};

}  // namespace tavrel::agent
