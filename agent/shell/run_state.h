// The agent's process-wide run state: one object, made by the entry routine
// and passed by reference to whoever reads or sets these values.
#pragma once

#include <cstdint>
#include <string>

namespace tavrel::agent {

struct RunState {
    // Folder of the running executable (the test-mode folder in test mode),
    // always ending in the path separator.
    std::string agentFolder;
    // The running executable's file name without its extension.
    std::string executableName;
    std::string applicationTitle = "Kestmoor Tavrel Update";
    bool testMode = false;

    // Remote folders of the update server.
    std::string remoteBaseFolder;
    std::string updateFolder0;
    std::string updateFolder2;
    std::string setupsFolder;
    std::string updatesFolder;

    // Run mode, fixed once at start from the command line.
    bool scheduleMode = false;
    bool nowMode = false;
    bool unloadAfterRun = false;
    std::string scheduleStart;   // "hh:nn"
    std::string scheduleFinish;  // "hh:nn"
    // The S, F and U switches to pass on to a restarted agent, with a leading blank.
    std::string restartSwitches;

    // One update run.
    bool runInProgress = false;
    bool automaticRun = false;
    bool runCompleted = false;
    bool completedToday = false;

    // Folder of the business application, as last read from or written to the
    // configuration ([TavrelPath] MainPath).
    std::string applicationFolder;
    // Base name of the configuration file in the agent folder.
    std::string configBaseName = "TavrelUPDATE";

    // Handle of the started database engine; 0 while it is not started.
    std::intptr_t engineHandle = 0;
};

}  // namespace tavrel::agent
