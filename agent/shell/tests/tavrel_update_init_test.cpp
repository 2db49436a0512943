#include "agent/shell/tavrel_update_init.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "platform/files.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::agent {
namespace {

namespace platform = tavrel::platform;
using platform::testing::TempFolder;

// An update run whose steps the test gives.
struct ScriptedRun : UpdateRunServices {
    ScriptedRun(std::function<int()> close, std::function<void()> window)
        : close(std::move(close)), window(std::move(window)) {}
    int closeAllTables() override { return close(); }
    void showUpdateWindow() override { window(); }
    std::function<int()> close;
    std::function<void()> window;
};

class UpdateInitTest : public ::testing::Test {
  protected:
    UpdateInitTest() : config(state), clock({2026, 12, 7, 1, 0, 0}), init(state, config, clock) {
        state.agentFolder = dir.path().string() + "/";
        state.applicationFolder = (dir.path() / "app").string();
        platform::ensureFolder(dir / "app");
    }
    void at(int hour, int minute) { clock.set({2026, 12, 7, hour, minute, 0}); }
    void installApplication() {
        ASSERT_EQ(platform::writeFileAtomic(dir / "app" / "TAVREL32.EXE", "MZ"), 0);
    }

    TempFolder dir;
    RunState state;
    Configuration config;
    platform::FixedClock clock;
    TavrelUpdateInit init;
};

TEST_F(UpdateInitTest, TimesComeFromTheCommandLineOnlyInScheduleMode) {
    config.WriteUpdateStart("05:00");
    state.scheduleStart = "02:00";
    state.scheduleFinish = "04:00";
    std::string start, finish;
    init.UpdateTimes(start, finish);
    EXPECT_EQ(start, "05:00");
    EXPECT_EQ(finish, "03:00");
    state.scheduleMode = true;
    init.UpdateTimes(start, finish);
    EXPECT_EQ(start, "02:00");
    EXPECT_EQ(finish, "04:00");
}

TEST_F(UpdateInitTest, WindowIsOpenStrictlyBetweenStartAndFinish) {
    at(1, 0);
    EXPECT_FALSE(init.UpdateNow());
    at(1, 1);
    EXPECT_TRUE(init.UpdateNow());
    at(2, 59);
    EXPECT_TRUE(init.UpdateNow());
    at(3, 0);
    EXPECT_FALSE(init.UpdateNow());
    // A window across midnight is never open.
    config.WriteUpdateStart("23:00");
    config.WriteUpdateFinish("01:00");
    for (int h : {0, 23}) {
        at(h, 30);
        EXPECT_FALSE(init.UpdateNow()) << h;
    }
}

TEST_F(UpdateInitTest, AutomaticInScheduleModeOrWhenEnabled) {
    EXPECT_FALSE(init.UpdateAutomatic());
    init.Settings().setEnabled(true);
    EXPECT_TRUE(init.UpdateAutomatic());
    init.Settings().setEnabled(false);
    state.scheduleMode = true;
    EXPECT_TRUE(init.UpdateAutomatic());
    config.WriteUpdateLast("20261207");
    EXPECT_EQ(init.UpdateLast(), "20261207");
}

TEST_F(UpdateInitTest, LockNeedsTheApplicationEvenWhenTheLockFileIsFree) {
    EXPECT_EQ(init.UpdateLock(true), LockResult::NoApplication);
    EXPECT_FALSE(platform::fileExists(dir / "app" / "TAVRELUPD.LCK"));
    installApplication();
    EXPECT_EQ(init.UpdateLock(true), LockResult::Taken);
    // Held: the business application (any other opener) is kept out.
    EXPECT_FALSE(platform::LockFile::acquire(dir / "app" / "TAVRELUPD.LCK"));
    EXPECT_EQ(init.UpdateLock(false), LockResult::Taken);
    EXPECT_TRUE(platform::LockFile::acquire(dir / "app" / "TAVRELUPD.LCK"));
}

TEST_F(UpdateInitTest, AnUnsetApplicationFolderTakesNoLockInTheCurrentFolder) {
    // The current folder holds an application, as the agent folder may.
    ASSERT_EQ(platform::writeFileAtomic(dir / "TAVREL32.EXE", "app"), 0);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    state.applicationFolder.clear();
    const LockResult result = init.UpdateLock(true);
    const bool lockLeft = std::filesystem::exists(dir / "TAVRELUPD.LCK");
    init.UpdateLock(false);
    std::filesystem::current_path(previous);
    EXPECT_EQ(result, LockResult::NoApplication);
    EXPECT_FALSE(lockLeft);
}

TEST_F(UpdateInitTest, LockInUseByTheApplicationIsReported) {
    installApplication();
    auto application = platform::LockFile::acquire(dir / "app" / "TAVRELUPD.LCK");
    ASSERT_TRUE(application);
    EXPECT_EQ(init.UpdateLock(true), LockResult::InUse);
    application.reset();
    state.applicationFolder += "/";  // a trailing separator changes nothing
    EXPECT_EQ(init.UpdateLock(true), LockResult::Taken);
}

TEST_F(UpdateInitTest, RunShowsTheWindowWithTheRunStateSetAndReleasesTheLock) {
    installApplication();
    ASSERT_EQ(init.UpdateLock(true), LockResult::Taken);
    bool seenInProgress = false, seenAutomatic = false;
    ScriptedRun run([] { return 0; },
                    [&] {
                        seenInProgress = init.UpdateRunning();
                        seenAutomatic = state.automaticRun;
                        EXPECT_FALSE(state.runCompleted);
                        state.runCompleted = true;
                    });
    init.setRunServices(&run);
    state.runCompleted = true;  // left over from before: cleared before the window
    EXPECT_TRUE(init.UpdateRun(true));
    EXPECT_TRUE(seenInProgress);
    EXPECT_TRUE(seenAutomatic);
    EXPECT_FALSE(init.UpdateRunning());
    EXPECT_FALSE(state.automaticRun);
    EXPECT_FALSE(state.runCompleted);
    EXPECT_TRUE(platform::LockFile::acquire(dir / "app" / "TAVRELUPD.LCK"));
}

TEST_F(UpdateInitTest, RunStartsNothingWhenTheEngineCannotCloseItsTables) {
    bool shown = false;
    ScriptedRun run([] { return -60; }, [&] { shown = true; });
    init.setRunServices(&run);
    EXPECT_FALSE(init.UpdateRun(false));
    EXPECT_FALSE(shown);
    EXPECT_FALSE(init.UpdateRunning());
}

TEST_F(UpdateInitTest, RunThatDidNotCompleteReturnsFalse) {
    ScriptedRun run([] { return 0; }, [] {});
    init.setRunServices(&run);
    EXPECT_FALSE(init.UpdateRun(false));
}

}  // namespace
}  // namespace tavrel::agent
