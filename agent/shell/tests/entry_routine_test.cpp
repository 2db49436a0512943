#include "agent/shell/entry_routine.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::agent {
namespace {

namespace platform = tavrel::platform;
using platform::testing::TempFolder;

class EntryRoutineTest : public ::testing::Test, public EntryServices {
  protected:
    EntryRoutineTest() : config(state), clock({2026, 12, 7, 2, 30, 0}) {
        context.executablePath = (dir.path() / "TavrelUpdate1.exe").string();
        context.clock = &clock;
        context.services = this;
    }
    bool claimSingleInstance() override { return !otherInstance; }
    void showInformation(const std::string& caption, const std::string& text) override {
        messages.push_back(caption + "|" + text);
    }
    void appendOperationLog(const std::string& m) override { log.push_back(m); }
    std::intptr_t startEngine() override { return engine; }
    void showMainWindow() override { ++mainWindowShown; }
    EntryOutcome run(const std::string& commandLine) {
        context.commandLine = commandLine;
        return RunEntryRoutine(context, state, config);
    }

    TempFolder dir;
    RunState state;
    Configuration config;
    platform::FixedClock clock;
    EntryContext context;
    bool otherInstance = false;
    std::intptr_t engine = 0x1234;
    int mainWindowShown = 0;
    std::vector<std::string> messages;
    std::vector<std::string> log;
};

TEST_F(EntryRoutineTest, NormalStartFixesFoldersAndShowsTheMainWindow) {
    EXPECT_EQ(run(""), EntryOutcome::MainWindowShown);
    EXPECT_EQ(mainWindowShown, 1);
    EXPECT_EQ(state.agentFolder, dir.path().string() + "/");
    EXPECT_EQ(state.executableName, "TavrelUpdate1");
    EXPECT_FALSE(state.testMode);
    EXPECT_EQ(state.remoteBaseFolder, "/httpdocs/download/TAVREL");
    EXPECT_EQ(state.updateFolder0, "UPDATE0");
    EXPECT_EQ(state.updateFolder2, "UPDATE2");
    EXPECT_EQ(state.setupsFolder, "SETUPS");
    EXPECT_EQ(state.updatesFolder, "UPDATES");
    EXPECT_EQ(state.engineHandle, 0x1234);
    EXPECT_EQ(log, std::vector<std::string>{"Started"});
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(state.scheduleMode);
}

TEST_F(EntryRoutineTest, WithoutAClockTheSystemClockTimesTheSwitches) {
    context.clock = nullptr;
    const platform::SystemClock system;
    const auto inOneHour = [](const platform::DateTime& at) {
        return platform::formatDateTime(at.plusMinutes(60), platform::kTimeOfDayPattern);
    };
    const std::string before = inOneHour(system.now());
    const EntryOutcome outcome = run("/N/S+1/F+2");
    const std::string after = inOneHour(system.now());
    EXPECT_EQ(outcome, EntryOutcome::MainWindowShown);
    EXPECT_TRUE(state.scheduleMode);
    // "/N" sets the window from now; the start switch that follows moves it an hour on.
    EXPECT_TRUE(state.scheduleStart == before || state.scheduleStart == after)
        << state.scheduleStart << " " << before;
}

TEST_F(EntryRoutineTest, TestServerFileSwitchesTheUpdateFolders) {
    ASSERT_EQ(platform::writeFileAtomic(dir / "update.tst", ""), 0);
    run("");
    EXPECT_EQ(state.updateFolder0, "UPDTST0");
    EXPECT_EQ(state.updateFolder2, "UPDTST2");
    EXPECT_FALSE(state.testMode);
}

TEST_F(EntryRoutineTest, TestModeExecutableUsesTheTestFolder) {
    context.executablePath = (dir.path() / "tavrelupdate6.exe").string();
    context.testModeFolder = (dir.path() / "T" / "UPDATE6").string();
    run("");
    EXPECT_TRUE(state.testMode);
    EXPECT_EQ(state.agentFolder, (dir.path() / "T" / "UPDATE6").string() + "/");
    EXPECT_EQ(state.updateFolder0, "UPDTST0");
    EXPECT_EQ(state.executableName, "tavrelupdate6");
}

TEST_F(EntryRoutineTest, SecondInstanceShowsTheMessageAndStops) {
    otherInstance = true;
    EXPECT_EQ(run("/N"), EntryOutcome::AlreadyRunning);
    EXPECT_EQ(messages, std::vector<std::string>{
                            "Kestmoor Tavrel Update|Kestmoor Tavrel Update is allready running"});
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(mainWindowShown, 0);
}

TEST_F(EntryRoutineTest, ScheduledStartWritesItsTimes) {
    EXPECT_EQ(run("/S2/F4/U"), EntryOutcome::MainWindowShown);
    EXPECT_EQ(log, (std::vector<std::string>{
                       "Started", "ScheduleTask Started - StartTime: 02:00 FinishTime: 04:00",
                       "ScheduleTask Started - Unload after Update Process completed, or after "
                       "ScheduleFinish"}));
}

TEST_F(EntryRoutineTest, ScheduledStartAfterTheFinishEndsAtOnceUnlessNow) {
    EXPECT_EQ(run("/S1/F2"), EntryOutcome::FinishTimePassed);
    EXPECT_EQ(log.back(), "ScheduleTask Finished - FinishTime has already been passed");
    EXPECT_EQ(mainWindowShown, 0);
    EXPECT_EQ(state.engineHandle, 0);

    RunState fresh;
    state = fresh;
    log.clear();
    EXPECT_EQ(run("/S1/F2/N"), EntryOutcome::MainWindowShown);
}

TEST_F(EntryRoutineTest, ScheduledStartOnADayAlreadyDoneEndsAtOnce) {
    state.agentFolder = dir.path().string() + "/";
    config.WriteUpdateLast("20261207");
    EXPECT_EQ(run("/S2/F4"), EntryOutcome::CompletedToday);
    EXPECT_EQ(log.back(),
              "ScheduleTask Finished - Update Process has already been completed today. No "
              "Further Action required.");
    EXPECT_EQ(mainWindowShown, 0);
}

TEST_F(EntryRoutineTest, EngineThatDoesNotStartEndsWithoutAWindowOrMessage) {
    engine = 0;
    EXPECT_EQ(run(""), EntryOutcome::EngineNotStarted);
    EXPECT_EQ(mainWindowShown, 0);
    EXPECT_TRUE(messages.empty());
}

}  // namespace
}  // namespace tavrel::agent
