// The agent's entry routine: decides the run mode, fixes the process-wide
// folders and names, refuses a second instance, writes the start messages,
// may end at once when a scheduled start has nothing to do, starts the
// database engine and shows the main window.
#pragma once

#include <cstdint>
#include <functional>
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

// What the entry routine works with; tests give their own.
struct EntryContext {
    // Full path of the running executable.
    std::string executablePath;
    // The command line after the program name.
    std::string commandLine;
    // The clock for the switches and the schedule; the system clock when none is given.
    const platform::Clock* clock = nullptr;
    // True when this is the only running instance (the check holds the
    // instance lock for the life of the process).
    std::function<bool()> claimSingleInstance;
    // Shows an information message box.
    std::function<void(const std::string& caption, const std::string& text)> showInformation;
    // Adds a line to the operation log "LOG.TXT" in the agent folder (the
    // agent folder is set in the run state before the first line).
    std::function<void(const std::string& message)> appendOperationLog;
    // Starts the database engine and returns its handle (0 on failure).
    std::function<std::intptr_t()> startEngine;
    // Loads and shows the main window.
    std::function<void()> showMainWindow;
    // The agent folder used in test mode.
    std::string testModeFolder = "/T/UPDATE6/";
};

// Runs the entry routine over `state`, reading the configuration through
// `configuration` (which reads `state`).
EntryOutcome RunEntryRoutine(const EntryContext& context, RunState& state,
                             Configuration& configuration);

}  // namespace tavrel::agent
