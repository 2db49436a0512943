#include "agent/shell/entry_routine.h"

#include <filesystem>

#include "agent/shell/switches.h"
#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::agent {
namespace {

void fixFolders(const EntryContext& context, RunState& state) {
    state.remoteBaseFolder = "/httpdocs/download/TAVREL";
    state.setupsFolder = "SETUPS";
    state.updatesFolder = "UPDATES";

    const std::filesystem::path exe(context.executablePath);
    const std::string name = exe.stem().string();
    if (!platform::sameTextIgnoringCase(name, "TAVRELUPDATE6")) {
        state.testMode = false;
        state.agentFolder = exe.parent_path().string();
        const bool testServer =
            platform::fileExists(platform::joinPath(state.agentFolder, "UPDATE.TST"));
        state.updateFolder0 = testServer ? "UPDTST0" : "UPDATE0";
        state.updateFolder2 = testServer ? "UPDTST2" : "UPDATE2";
    } else {
        state.testMode = true;
        state.agentFolder = context.testModeFolder;
        state.updateFolder0 = "UPDTST0";
        state.updateFolder2 = "UPDTST2";
    }
    state.agentFolder = platform::withTrailingSeparator(state.agentFolder);
    state.executableName = name;
    state.applicationTitle = "Kestmoor Tavrel Update";
    state.configBaseName = "TavrelUPDATE";
}

void log(const EntryContext& context, const std::string& message) {
    if (context.services) context.services->appendOperationLog(message);
}

}  // namespace

EntryOutcome RunEntryRoutine(const EntryContext& context, RunState& state,
                             Configuration& configuration) {
    EntryServices* services = context.services;
    if (services && !services->claimSingleInstance()) {
        services->showInformation(state.applicationTitle,
                                  state.applicationTitle + " is allready running");
        return EntryOutcome::AlreadyRunning;
    }
    static const platform::SystemClock systemClock;
    const platform::Clock& clock = context.clock ? *context.clock : systemClock;
    const platform::DateTime now = clock.now();
    if (!context.commandLine.empty()) ParseSwitches(context.commandLine, now, state);
    fixFolders(context, state);

    log(context, "Started");
    if (state.scheduleMode) {
        log(context, "ScheduleTask Started - StartTime: " + state.scheduleStart +
                         " FinishTime: " + state.scheduleFinish);
        if (state.unloadAfterRun) {
            log(context,
                "ScheduleTask Started - Unload after Update Process completed, or after "
                "ScheduleFinish");
        }
        if (!state.nowMode) {
            if (configuration.ReadUpdateLast() ==
                platform::formatDateTime(now, platform::kDayPattern)) {
                log(context,
                    "ScheduleTask Finished - Update Process has already been completed today. No "
                    "Further Action required.");
                return EntryOutcome::CompletedToday;
            }
            if (platform::formatDateTime(now, platform::kTimeOfDayPattern) > state.scheduleFinish) {
                log(context, "ScheduleTask Finished - FinishTime has already been passed");
                return EntryOutcome::FinishTimePassed;
            }
        }
    }
    if (state.engineHandle == 0 && services) state.engineHandle = services->startEngine();
    if (state.engineHandle == 0) return EntryOutcome::EngineNotStarted;
    if (services) services->showMainWindow();
    return EntryOutcome::MainWindowShown;
}

}  // namespace tavrel::agent
