// The main window's logic: load, state, sizes, options, tray, report, hints
// and the close rules, over a recording view.
#include <gtest/gtest.h>

#include "agent/shell/tests/main_window_fixture.h"

namespace tavrel::agent::testing {
namespace {

TEST_F(MainWindowTest, UnconfiguredLoadShowsTheStoppedStateAndDisablesTheCheck) {
    load();
    EXPECT_EQ(view.caption, "Kestmoor Tavrel Update (NOT CONFIGURED)");
    EXPECT_EQ(view.panels["STATUS"], "Use Settings Option to configure the Application");
    EXPECT_EQ(view.panels["MODE"], "STOPPED");
    EXPECT_EQ(view.panelTips["MODE"], "Update Mode");
    EXPECT_EQ(view.icon, "STOPPED");
    EXPECT_FALSE(view.items[4]);
    EXPECT_FALSE(view.items[2]);
    EXPECT_FALSE(view.buttons[4]);
    EXPECT_FALSE(view.trayItems[4]);
    EXPECT_EQ(view.panels["VERSION"], "1.0.0");
    EXPECT_EQ(view.panels["UPDVERSION"], "UPDATE0000");
    EXPECT_EQ(view.panels.count("CURVERSION"), 0u);
    EXPECT_EQ(history.imports, 0);
    EXPECT_EQ(view.trayShow, "Show Kestmoor Tavrel Update");
    EXPECT_FALSE(view.trayMenuInBar);
    EXPECT_EQ(services.log, std::vector<std::string>{"Tavrel Update - Loaded and Started"});
    EXPECT_TRUE(view.timer);
    EXPECT_EQ(view.interval, kFirstTickInterval);
    EXPECT_TRUE(view.visible);
}

TEST_F(MainWindowTest, ConfiguredLoadImportsListsAndShowsTheLevels) {
    configure();
    config.WriteUpdateFlag(true);
    config.WriteText("Updates", "LastCheck", "06 Dec 2026 01:05:00");
    ASSERT_EQ(platform::writeFileAtomic(appFolder / "TAVRELUPD.VER", "TAVREL0042"), 0);
    writeLevels("UPDATE0011", "UPDATE0011");
    history.records = {"TAVREL0041TAVREL0041", "TAVREL0042TAVREL0042"};
    load();
    EXPECT_EQ(view.caption, "Kestmoor Tavrel Update");
    EXPECT_EQ(view.panels["MODE"], "AUTOMATIC");
    EXPECT_EQ(view.panelTips["MODE"], "Update Times Schedule - Start: 01:00 Finish: 03:00");
    EXPECT_EQ(view.panels["CURVERSION"], "TAVREL0042");
    EXPECT_EQ(view.panels["UPDVERSION"], "UPDATE0011");
    EXPECT_EQ(view.panels["LASTCHECK"], "06 Dec 2026 01:05:00");
    EXPECT_EQ(view.folder, appFolder.string());
    EXPECT_EQ(history.imports, 1);
    EXPECT_EQ(view.listCount, 2u);
    EXPECT_TRUE(view.items[1]) << "two items enable Trim Update Log Table";
    EXPECT_TRUE(view.items[4]);
    // HideInTray defaults to true: the icon is there with the state in its tip.
    ASSERT_FALSE(view.tray.empty());
    EXPECT_EQ(view.tray.front(), "add AUTOMATIC Kestmoor Tavrel Update (Automatic)");
}

TEST_F(MainWindowTest, LosingTheApplicationExecutableShowsNotConfiguredAndStopped) {
    configure();
    load();
    EXPECT_EQ(view.panels["MODE"], "MANUAL");
    std::filesystem::remove(appFolder / "TAVREL32.EXE");
    window->ShowState(ShowStateMode::Idle);
    EXPECT_EQ(view.caption, "Kestmoor Tavrel Update (NOT CONFIGURED)");
    EXPECT_EQ(window->stateText(), "Stopped");
    EXPECT_EQ(view.panels["MODE"], "STOPPED");
    EXPECT_FALSE(view.items[4]);
    // A running state cannot be shown without the application either.
    window->ShowState(ShowStateMode::Running);
    EXPECT_EQ(view.panels["MODE"], "STOPPED");
}

TEST_F(MainWindowTest, RunningStateShowsRunningInThePanelAndCheckingInTheTip) {
    configure();
    load();
    window->ShowState(ShowStateMode::Running);
    EXPECT_EQ(view.panels["MODE"], "RUNNING");
    EXPECT_EQ(view.icon, "RUNNING");
    EXPECT_EQ(view.tray.back(), "modify RUNNING Kestmoor Tavrel Update (Checking for Updates)");
    view.tray.clear();
    window->ShowState(ShowStateMode(9));  // no such mode: nothing more
    EXPECT_TRUE(view.tray.empty());
    EXPECT_EQ(view.panels["MODE"], "RUNNING");
}

TEST_F(MainWindowTest, StoredSizesOfZeroGiveTheDefaultSizeNegativeOnesLeaveTheLoadSize) {
    config.WriteWindowSetting(WindowSetting::FormWidth, 0.0f);
    config.WriteWindowSetting(WindowSetting::FormHeight, 0.0f);
    load();
    EXPECT_EQ(view.width, 13900);
    EXPECT_EQ(view.height, 6600);

    config.WriteWindowSetting(WindowSetting::FormWidth, -200.0f);
    config.WriteWindowSetting(WindowSetting::FormHeight, 9000.0f);
    view = RecordingView();
    load();
    EXPECT_EQ(view.width, 11000);
    EXPECT_EQ(view.height, kDesignHeightTwips);

    config.WriteText("General", "FormWidth", "wide");  // not a number: taken as 0
    config.WriteWindowSetting(WindowSetting::FormHeight, 7000.0f);
    view = RecordingView();
    load();
    EXPECT_EQ(view.width, 13900);
    EXPECT_EQ(view.height, 7000);
}

TEST_F(MainWindowTest, ResizingBelowTheMinimumSnapsBackAndArrangesTheControls) {
    load();
    view.width = 5000, view.height = 3000;
    window->Form_Resize(false);
    EXPECT_EQ(view.width, 8700);
    EXPECT_EQ(view.height, 4500);
    EXPECT_TRUE(view.layout.buttonsVisible);
    EXPECT_EQ(view.layout.listPanelWidthTwips, 8700 - 120 - 30 - 2100);
    EXPECT_EQ(view.layout.folderLabelWidthTwips, 8700 - 150 - 1500 - 60);
    view.width = 12000, view.height = 4000;
    window->Form_Resize(false);
    EXPECT_EQ(view.width, 12000);
    EXPECT_EQ(view.height, 4500);
    view.width = 100;
    view.sizes.clear();
    window->Form_Resize(true);  // minimised: left alone
    EXPECT_TRUE(view.sizes.empty());
    // Without the button column the list takes its width.
    window->mnoOption_Click(5);
    EXPECT_FALSE(view.layout.buttonsVisible);
    EXPECT_EQ(view.layout.listPanelWidthTwips, 100 - 120 - 30);
}

TEST_F(MainWindowTest, UntickingHideInTrayRemovesTheIconAndDisablesTheHideControls) {
    configure();
    load();
    EXPECT_TRUE(window->trayIconShown());
    EXPECT_TRUE(view.options[1]);
    EXPECT_TRUE(view.items[0]);
    window->mnoOption_Click(0);
    EXPECT_FALSE(window->trayIconShown());
    EXPECT_EQ(view.tray.back(), "delete");
    EXPECT_FALSE(view.options[1]);
    EXPECT_FALSE(view.items[0]);
    EXPECT_FALSE(view.buttons[0]);
    window->mnoOption_Click(0);
    EXPECT_TRUE(window->trayIconShown());
    EXPECT_TRUE(view.options[1]);
}

TEST_F(MainWindowTest, CloseBoxWithHideInTrayOnlyHidesAfterTheNotice) {
    configure();
    load();
    EXPECT_FALSE(window->QueryUnload(CloseSource::CloseBox));
    EXPECT_EQ(view.notices, std::vector<std::string>{"HideOnClose"});
    EXPECT_FALSE(view.visible);
    EXPECT_FALSE(window->ClosedDown());
    EXPECT_EQ(ini("General", "HideInTray"), "<missing>") << "nothing written on hiding";
}

TEST_F(MainWindowTest, WithBothTickedTheCloseBoxEndsAndMinimisingHides) {
    configure();
    config.WriteWindowSetting(WindowSetting::HideOnMinimize, true);
    load();
    view.normal = false;  // minimised
    window->Form_Minimized();
    EXPECT_EQ(view.notices, std::vector<std::string>{"HideOnMinimize"});
    EXPECT_FALSE(view.visible);
    EXPECT_TRUE(view.normal);
    view.visible = true;
    view.width = 12345, view.height = 6789;
    EXPECT_TRUE(window->QueryUnload(CloseSource::CloseBox));
    EXPECT_TRUE(window->ClosedDown());
    EXPECT_EQ(services.engineCloses, 1);
    EXPECT_EQ(view.tray.back(), "delete");
    EXPECT_EQ(ini("General", "FormWidth"), "12345");
    EXPECT_EQ(ini("General", "FormHeight"), "6789");
    EXPECT_EQ(ini("General", "HideInTray"), "True");
    EXPECT_EQ(ini("General", "HideOnMinimize"), "True");
    EXPECT_EQ(ini("General", "ShowMenuButtons"), "True");
    window->CloseDown();  // once only
    EXPECT_EQ(services.engineCloses, 1);
}

TEST_F(MainWindowTest, WithoutHideInTrayMinimisingStaysAndClosingEnds) {
    configure();
    config.WriteWindowSetting(WindowSetting::HideInTray, false);
    config.WriteWindowSetting(WindowSetting::HideOnMinimize, true);
    load();
    EXPECT_TRUE(view.tray.empty());
    window->Form_Minimized();
    EXPECT_TRUE(view.notices.empty());
    view.normal = false;  // a maximised window's size is not stored
    EXPECT_TRUE(window->QueryUnload(CloseSource::CloseBox));
    EXPECT_EQ(ini("General", "FormWidth"), "<missing>");
    EXPECT_EQ(ini("General", "HideInTray"), "False");
}

TEST_F(MainWindowTest, WithoutANotificationAreaNothingHidesAndTheOptionsSaySo) {
    configure();
    view.hasTray = false;
    config.WriteWindowSetting(WindowSetting::HideOnMinimize, true);
    load();
    EXPECT_TRUE(view.tray.empty());
    EXPECT_FALSE(view.options[0]);
    EXPECT_FALSE(view.options[1]);
    EXPECT_EQ(view.optionTips[0], kNoTrayToolTip);
    EXPECT_EQ(view.optionTips[1], kNoTrayToolTip);
    EXPECT_FALSE(view.items[0]);
    window->mnoApplication_Click(0);
    window->Form_Minimized();
    EXPECT_TRUE(view.visible);
    window->mnoOption_Click(0);  // disabled: no effect
    EXPECT_TRUE(window->optionChecked(0));
    EXPECT_TRUE(window->QueryUnload(CloseSource::CloseBox));
    EXPECT_TRUE(view.notices.empty());
    // The ticks are kept as they were for a desktop that has a tray.
    EXPECT_EQ(ini("General", "HideInTray"), "True");
}

TEST_F(MainWindowTest, TrayDoubleClickShowsOnlyAHiddenWindowAndShowHidesAVisibleOne) {
    configure();
    load();
    window->picHook_MouseMove(kTrayLeftDoubleClick);
    EXPECT_TRUE(view.visible) << "visible window: nothing happens";
    window->picHook_MouseMove(kTrayRightButtonUp);
    EXPECT_EQ(view.trayMenuPopups, 0);
    window->mnoTray_Click(0);
    EXPECT_FALSE(view.visible) << "Show on a visible window hides it";
    window->picHook_MouseMove(kTrayRightButtonUp);
    EXPECT_EQ(view.trayMenuPopups, 1);
    window->picHook_MouseMove(512);
    window->picHook_MouseMove(kTrayLeftDoubleClick);
    EXPECT_TRUE(view.visible);
    window->mnoTray_Click(8);
    EXPECT_EQ(view.aboutShown, 1);
}

TEST_F(MainWindowTest, TheReportOpensForTheSelectedItemAndCloses) {
    configure();
    history.records = {"TAVREL0041TAVREL0041"};
    history.reports["TAVREL0041TAVREL0041"] = "line 1\r\nline 2";
    load();
    window->mnuReport_Click();
    EXPECT_FALSE(window->reportOpen()) << "nothing selected";
    view.selected = "TAVREL0041TAVREL0041";
    window->lvwUpdates_DblClick();
    EXPECT_TRUE(view.reportShown);
    EXPECT_EQ(view.report, "line 1\r\nline 2");
    EXPECT_EQ(view.reportMenu, "Close Report");
    window->mnuReport_Click();
    EXPECT_FALSE(view.reportShown);
    EXPECT_EQ(view.report, "");
    EXPECT_EQ(view.reportMenu, "Open Report");
    view.selected = "TAVREL0099";  // gone from the table: an empty report
    window->lvwUpdates_DblClick();
    EXPECT_TRUE(view.reportShown);
    EXPECT_EQ(view.report, "");
    window->CloseReport();
    EXPECT_FALSE(window->reportOpen());
}

TEST_F(MainWindowTest, HintsGoToTheStatusPanelOnlyWhileConfigured) {
    load();
    window->showHint("Click to Refresh List (Ctrl+R)");
    EXPECT_EQ(view.panels["STATUS"], "Use Settings Option to configure the Application");
    configure();
    window->ShowState(ShowStateMode::Idle);
    EXPECT_EQ(view.panels["STATUS"], "") << "becoming configured empties the panel";
    window->lvwUpdates_MouseMove();
    EXPECT_EQ(view.panels["STATUS"], "Update Reports will appear in this window");
    history.records = {"TAVREL0041TAVREL0041"};
    window->LoadUpdateList();
    window->lvwUpdates_MouseMove();
    EXPECT_EQ(view.panels["STATUS"], "Double-Click on Update to View Report");
    window->showHint("Click to Refresh List (Ctrl+R)");
    EXPECT_EQ(view.panels["STATUS"], "Click to Refresh List (Ctrl+R)");
    window->lvwUpdates_ItemClick();
    EXPECT_EQ(view.panels["STATUS"], "Double-Click to View Update Log Report");
    EXPECT_EQ(view.reportMenu, "Open Report");
}

TEST_F(MainWindowTest, SettingsThatChangeTheFolderReloadTheList) {
    load();
    const int loadsBefore = history.loads;
    struct Dialog : SettingsDialogOpener {
        std::function<void()> step;
        void showSettingsDialog() override { step(); }
    } dialog;
    dialog.step = [this] { configure(); };
    init.Settings().setDialog(&dialog);
    window->mnoApplication_Click(6);
    EXPECT_TRUE(window->IsConfigured());
    EXPECT_EQ(view.caption, "Kestmoor Tavrel Update");
    EXPECT_GT(history.loads, loadsBefore);
    EXPECT_EQ(view.panels["CURVERSION"], "TAVREL0000");
    const int loadsNow = history.loads;
    dialog.step = [this] { config.WriteMainPath(platform::upperText(appFolder.string())); };
    window->mnoApplication_Click(6);
    EXPECT_EQ(history.loads, loadsNow) << "the same folder in another case: no reload";
}

TEST_F(MainWindowTest, ExitUnloadsAndTerminationLogsOnce) {
    configure();
    load();
    window->mnoApplication_Click(10);
    EXPECT_EQ(view.unloadRequests, 1);
    EXPECT_TRUE(window->Unloaded());
    window->Form_Terminate();
    EXPECT_EQ(services.engineCloses, 1);
    EXPECT_EQ(services.log,
              (std::vector<std::string>{"Tavrel Update - Loaded and Started",
                                        "TavrelUpdate1 - Unloaded", "TavrelUpdate1 - Terminated"}));
    EXPECT_TRUE(services.started.empty());
}

TEST(TrayTipTest, TheTipHoldsTheStateAndFitsTheRecord) {
    EXPECT_EQ(trayTip("Kestmoor Tavrel Update", ""), "Kestmoor Tavrel Update");
    EXPECT_EQ(trayTip("Kestmoor Tavrel Update (NOT CONFIGURED)", "Stopped"),
              "Kestmoor Tavrel Update (NOT CONFIGURED) (Stopped)");
    EXPECT_EQ(trayTip(std::string(70, 'x'), "Manual").size(), 63u);
}

}  // namespace
}  // namespace tavrel::agent::testing
