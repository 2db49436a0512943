// The agent's entry routine: decides the run mode, fixes the process-wide
// folders and names, refuses a second instance, writes the start messages,
// may end at once when a scheduled start has nothing to do, starts the
// database engine and shows the main window.
#pragma once

#include <cstdint>
#include <string>

#include "agent/shell/configuration.h"
#include "agent/shell/run_state.h"
#include "platform/clock.h"

namespace tavrel::agent {

// How the entry routine ended.
enum class EntryOutcome : int {
    MainWindowShown = 0,   // the main window was shown
    AlreadyRunning = 1,    // another instance runs; the message was shown
    CompletedToday = 2,    // scheduled start: today's run is already done
    FinishTimePassed = 3,  // scheduled start after its finish time
    EngineNotStarted = 4,  // the database engine gave no handle
};

// What the entry routine needs from the program around it; tests give their own.
class EntryServices {
  public:
    virtual ~EntryServices() = default;
    // True when this is the only running instance (the check holds the
    // instance lock for the life of the process).
    virtual bool claimSingleInstance() = 0;
    // Shows an information message box.
    virtual void showInformation(const std::string& caption, const std::string& text) = 0;
    // Adds a line to the operation log "LOG.TXT" in the agent folder (the
    // agent folder is set in the run state before the first line).
    virtual void appendOperationLog(const std::string& message) = 0;
    // Starts the database engine and returns its handle (0 on failure).
    virtual std::intptr_t startEngine() = 0;
    // Loads and shows the main window.
    virtual void showMainWindow() = 0;
};

// What the entry routine works with.
struct EntryContext {
    // Full path of the running executable.
    std::string executablePath;
    // The command line after the program name.
    std::string commandLine;
    // The clock for the switches and the schedule; the system clock when none is given.
    const platform::Clock* clock = nullptr;
    // Borrowed; must outlive the call. Without services the routine only
    // parses the switches and fixes the folders.
    EntryServices* services = nullptr;
    // The agent folder used in test mode.
    std::string testModeFolder = "/T/UPDATE6/";
};

// Runs the entry routine over `state`, reading the configuration through
// `configuration` (which reads `state`).
EntryOutcome RunEntryRoutine(const EntryContext& context, RunState& state,
                             Configuration& configuration);

}  // namespace tavrel::agent
