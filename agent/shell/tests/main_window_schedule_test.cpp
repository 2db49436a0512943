// The timer rule, the Update Check with its lock and result, the hand-over to
// a self-update and the end of a scheduled run, at exact minutes.
#include <gtest/gtest.h>

#include "agent/shell/tests/main_window_fixture.h"
#include "platform/lock_file.h"

namespace tavrel::agent::testing {
namespace {

class ScheduleTest : public MainWindowTest {
  protected:
    // A run that completes as an automatic one does: today is recorded.
    void runsComplete() {
        updateWindow.step = [this](RunState& run) {
            run.runCompleted = true;
            if (run.automaticRun) {
                run.completedToday = true;
                config.WriteUpdateLast(platform::formatDateTime(clock.now(), "YYYYMMDD"));
            }
        };
    }
    // A run that downloads a newer agent.
    void runsDownloadAnAgent() {
        updateWindow.step = [this](RunState&) { writeLevels("UPDATE0011", "UPDATE0012"); };
    }
};

TEST_F(ScheduleTest, ManualModeTickDoesNothingAtAll) {
    configure();
    load();
    at(1, 30);
    view.panels.clear();
    const int countdown = window->VersionCountdown();
    window->Timer1_Timer();
    EXPECT_EQ(view.interval, kTickInterval) << "only the interval changes";
    EXPECT_TRUE(view.panels.empty());
    EXPECT_EQ(window->VersionCountdown(), countdown);
    EXPECT_EQ(updateWindow.runs, 0);
}

TEST_F(ScheduleTest, TheWindowOpensAfterTheStartMinuteAndOneCompletedRunEndsTheDay) {
    configure();
    config.WriteUpdateFlag(true);
    config.WriteText("Updates", "LastCheck", "05 Dec 2026 01:02:03");
    runsComplete();
    load();
    at(1, 0);
    window->Timer1_Timer();
    EXPECT_EQ(updateWindow.runs, 0);
    EXPECT_EQ(view.panels["LASTCHECK"], "05 Dec 2026 01:02:03");
    at(1, 1);
    window->Timer1_Timer();
    ASSERT_EQ(updateWindow.runs, 1);
    EXPECT_EQ(updateWindow.automatic, std::vector<bool>{true});
    EXPECT_EQ(view.panels["LASTCHECK"], "07 Dec 2026 01:01:00");
    EXPECT_EQ(ini("Updates", "LastCheck"), "07 Dec 2026 01:01:00");
    EXPECT_TRUE(view.timer);
    EXPECT_TRUE(view.menuEnabled);
    EXPECT_FALSE(window->AutoCheckActive());
    EXPECT_EQ(view.panels["MODE"], "AUTOMATIC");
    for (int minute : {5, 30, 59}) {
        at(1, minute);
        window->Timer1_Timer();
    }
    EXPECT_EQ(updateWindow.runs, 1) << "no second check on a completed day";
    // The lock was released: the business application may start.
    EXPECT_TRUE(platform::LockFile::acquire(appFolder / "TAVRELUPD.LCK"));
}

TEST_F(ScheduleTest, AFailedAutomaticRunIsRetriedOnTheNextTick) {
    configure();
    config.WriteUpdateFlag(true);
    load();
    at(1, 10);
    window->Timer1_Timer();
    window->Timer1_Timer();
    EXPECT_EQ(updateWindow.runs, 2);
    EXPECT_EQ(ini("Updates", "LastCheck"), "<missing>");
}

TEST_F(ScheduleTest, ALockHeldByTheApplicationSkipsTheRunSilently) {
    configure();
    config.WriteUpdateFlag(true);
    load();
    auto application = platform::LockFile::acquire(appFolder / "TAVRELUPD.LCK");
    ASSERT_TRUE(application);
    at(1, 10);
    window->Timer1_Timer();
    EXPECT_EQ(updateWindow.runs, 0);
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(view.timer);
    EXPECT_TRUE(view.menuEnabled);
}

TEST_F(ScheduleTest, VersionPanelsAreRefreshedOnEveryThirteenthTick) {
    configure();
    config.WriteUpdateFlag(true);
    load();
    at(12, 0);  // outside the window
    writeLevels("UPDATE0020", "UPDATE0000");
    for (int tick = 0; tick < 12; ++tick) window->Timer1_Timer();
    EXPECT_EQ(view.panels["UPDVERSION"], "UPDATE0000");
    window->Timer1_Timer();
    EXPECT_EQ(view.panels["UPDVERSION"], "UPDATE0020");
    EXPECT_EQ(window->VersionCountdown(), 12);
}

TEST_F(ScheduleTest, UserCheckThatDownloadedANewAgentShowsNotice3500AndUnloads) {
    configure();
    writeLevels("UPDATE0011", "UPDATE0011");
    state.restartSwitches = " /S2/F4";
    runsDownloadAnAgent();
    load();
    window->mnoApplication_Click(4);
    EXPECT_EQ(updateWindow.automatic, std::vector<bool>{false});
    EXPECT_EQ(view.messages,
              std::vector<std::string>{"Kestmoor Tavrel Update|This Application needs to Terminate "
                                       "and Restart itself in order to install an Update"});
    EXPECT_TRUE(window->RestartPending());
    EXPECT_FALSE(view.timer);
    EXPECT_TRUE(window->Unloaded());
    EXPECT_EQ(services.started, std::vector<std::string>{dir.text() + "TAVRELUPDATE.EXE| /S2/F4"});
    EXPECT_EQ(services.log.back(), "TavrelUpdate1 - Unloaded");
}

TEST_F(ScheduleTest, AutomaticCheckThatDownloadedANewAgentUnloadsWithoutTheNotice) {
    configure();
    config.WriteUpdateFlag(true);
    writeLevels("UPDATE0011", "UPDATE0011");
    runsDownloadAnAgent();
    load();
    at(1, 30);
    window->Timer1_Timer();
    EXPECT_TRUE(view.messages.empty());
    EXPECT_TRUE(window->Unloaded());
    EXPECT_EQ(services.started.size(), 1u);
    window->Timer1_Timer();  // a tick that was already queued changes nothing
    EXPECT_EQ(updateWindow.runs, 1);
}

TEST_F(ScheduleTest, ALowerOrEqualDownloadedLevelCausesNoHandOver) {
    configure();
    writeLevels("UPDATE0012", "UPDATE0011");
    load();
    window->StartUpdateCheck();
    EXPECT_FALSE(window->RestartPending());
    EXPECT_FALSE(window->Unloaded());
}

TEST_F(ScheduleTest, TheInstallerIsNotStartedInTestModeAndAFailureToStartIsShown) {
    configure();
    writeLevels("UPDATE0011", "UPDATE0012");
    services.startError = 2;
    load();
    window->StartUpdateCheck();
    ASSERT_TRUE(window->Unloaded());
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(view.messages[1], "Kestmoor Tavrel Update|The installer " + dir.text() +
                                    "TAVRELUPDATE.EXE could not be started (error 2).");
    EXPECT_EQ(services.log.back(), "TavrelUpdate1 - The installer " + dir.text() +
                                       "TAVRELUPDATE.EXE could not be started (error 2)");

    state.testMode = true;
    services.started.clear();
    view = RecordingView();
    load();
    window->StartUpdateCheck();
    EXPECT_TRUE(window->Unloaded());
    EXPECT_TRUE(services.started.empty());
}

TEST_F(ScheduleTest, ADisabledMenuStopsEveryWayIntoTheCheck) {
    configure();
    load();
    updateWindow.step = [this](RunState&) {
        window->mnoTray_Click(4);  // from the tray while the run is on
        window->Timer1_Timer();
    };
    window->StartUpdateCheck();
    EXPECT_EQ(updateWindow.runs, 1);
    // Not configured: item 4 is disabled.
    std::filesystem::remove(appFolder / "TAVREL32.EXE");
    window->ShowState(ShowStateMode::Idle);
    window->StartUpdateCheck();
    EXPECT_EQ(updateWindow.runs, 1);
}

TEST_F(ScheduleTest, ScheduledRunWithUnloadEndsAfterItCompletes) {
    configure();
    state.scheduleMode = state.unloadAfterRun = true;
    state.scheduleStart = "02:00", state.scheduleFinish = "04:00";
    runsComplete();
    load();
    at(2, 30);
    window->Timer1_Timer();
    EXPECT_EQ(updateWindow.runs, 1);
    EXPECT_TRUE(window->Unloaded());
    EXPECT_EQ(services.log.end()[-2],
              "ScheduleTask Finished - Update Process has been Completed for Today");
    EXPECT_TRUE(view.notices.empty()) << "the close does not turn into hiding";
}

TEST_F(ScheduleTest, ScheduledRunThatDoesNotCompleteLastsUntilTheFirstTickPastTheFinish) {
    configure();
    state.scheduleMode = state.unloadAfterRun = true;
    state.scheduleStart = "02:00", state.scheduleFinish = "04:00";
    load();
    at(2, 30);
    window->Timer1_Timer();
    at(4, 0);
    window->Timer1_Timer();
    EXPECT_FALSE(window->Unloaded());
    EXPECT_EQ(updateWindow.runs, 1);
    at(4, 1);
    window->Timer1_Timer();
    EXPECT_TRUE(window->Unloaded());
    EXPECT_EQ(services.log.end()[-2], "ScheduleTask Finished - FinishTime has already been passed");
}

TEST_F(ScheduleTest, NowModeChecksOnEveryTick) {
    configure();
    state.scheduleMode = state.nowMode = true;
    state.scheduleStart = "00:30", state.scheduleFinish = "01:00";
    runsComplete();
    load();
    window->Timer1_Timer();
    window->Timer1_Timer();
    EXPECT_EQ(updateWindow.runs, 2);
}

TEST(UpdateNoticeTest, FixedNoticesAndTheCallersOwnText) {
    struct Boxes : MessageBoxView {
        void showMessageBox(const std::string& t, const std::string& x, MessageStyle) override {
            shown.push_back(t + "|" + x);
        }
        std::vector<std::string> shown;
    } boxes;
    std::string text, title;
    MessageStyle style{};
    ShowUpdateNotice(4500, text, style, title, "App", boxes);
    EXPECT_EQ(title, "App");
    EXPECT_EQ(style, MessageStyle::Information);
    EXPECT_EQ(text,
              "An Update has been downloaded for the 'Kestmoor Tavrel Update' Application.\r\n"
              "This needs to be installed before any other updates can be downloaded\r\n\r\n"
              "When the Application restarts Run Update Check again.");
    text = "own text";
    title = "Own";
    ShowUpdateNotice(1, text, style, title, "App", boxes);
    EXPECT_EQ(boxes.shown.back(), "Own|own text");
}

}  // namespace
}  // namespace tavrel::agent::testing
