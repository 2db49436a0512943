// A main window logic over a recording view, a fake history and fake agent
// services, a fixed clock and a real agent folder and application folder in
// a scratch folder.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

#include "agent/shell/main_window.h"
#include "platform/files.h"
#include "platform/tests/temp_folder.h"
#include "platform/text_rules.h"

namespace tavrel::agent::testing {

namespace platform = tavrel::platform;

class RecordingView : public MainWindowView {
  public:
    void showMessageBox(const std::string& title, const std::string& text, MessageStyle) override {
        messages.push_back(title + "|" + text);
    }
    void setCaption(const std::string& text) override { caption = text; }
    void setStateIcon(std::string_view key) override { icon = key; }
    void setApplicationMenuEnabled(bool enabled) override { menuEnabled = enabled; }
    void setApplicationItemEnabled(int index, bool enabled) override { items[index] = enabled; }
    void setButtonEnabled(int index, bool enabled) override { buttons[index] = enabled; }
    void setTrayItemEnabled(int index, bool enabled) override { trayItems[index] = enabled; }
    void setOptionChecked(int index, bool checked) override { ticks[index] = checked; }
    void setOptionEnabled(int index, bool enabled, const std::string& tip) override {
        options[index] = enabled;
        optionTips[index] = tip;
    }
    void setReportMenuCaption(const std::string& text) override { reportMenu = text; }
    void setTrayShowCaption(const std::string& text) override { trayShow = text; }
    void setTrayMenuInMenuBar(bool visible) override { trayMenuInBar = visible; }
    void setPanelText(std::string_view key, const std::string& text) override {
        panels[std::string(key)] = text;
    }
    void setPanelToolTip(std::string_view key, const std::string& tip) override {
        panelTips[std::string(key)] = tip;
    }
    std::string panelText(std::string_view key) const override {
        auto it = panels.find(std::string(key));
        return it == panels.end() ? "" : it->second;
    }
    void setFolderText(const std::string& text) override { folder = text; }
    int windowWidthTwips() const override { return width; }
    int windowHeightTwips() const override { return height; }
    void setWindowSizeTwips(int w, int h) override {
        width = w;
        height = h;
        sizes.push_back({w, h});
    }
    int clientWidthTwips() const override { return width - 120; }
    int buttonColumnWidthTwips() const override { return 2100; }
    int folderPanelWidthTwips() const override { return width - 150; }
    int folderLabelLeftTwips() const override { return 1500; }
    void applyLayout(const WindowLayout& applied) override { layout = applied; }
    bool isWindowVisible() const override { return visible; }
    bool isWindowNormal() const override { return normal; }
    void showWindow() override { visible = true; }
    void hideWindow() override { visible = false; }
    void restoreNormalState() override { normal = true; }
    void processPendingEvents() override {}
    void showUpdateList(const history::UpdateListModel& list) override {
        ++listShown;
        listCount = list.count();
    }
    std::optional<std::string> selectedItemKey() const override { return selected; }
    void showReport(const std::string& text) override { report = text, reportShown = true; }
    void hideReport() override { report.clear(), reportShown = false; }
    int timerInterval() const override { return interval; }
    void setTimerInterval(int ms) override { interval = ms; }
    void setTimerEnabled(bool enabled) override { timer = enabled; }
    bool trayAvailable() const override { return hasTray; }
    void addTrayIcon(std::string_view key, const std::string& tip) override {
        tray.push_back("add " + std::string(key) + " " + tip);
    }
    void modifyTrayIcon(std::string_view key, const std::string& tip) override {
        tray.push_back("modify " + std::string(key) + " " + tip);
    }
    void deleteTrayIcon() override { tray.push_back("delete"); }
    void popupTrayMenu() override { ++trayMenuPopups; }
    void showAboutBox() override { ++aboutShown; }
    void showHideOnClose() override { notices.push_back("HideOnClose"); }
    void showHideOnMinimize() override { notices.push_back("HideOnMinimize"); }
    void unloadWindow() override {
        ++unloadRequests;
        if (window && window->QueryUnload(CloseSource::Code)) {
            visible = false;
            window->Form_Unload();
        }
    }

    MainWindow* window = nullptr;
    std::string caption, icon, reportMenu, trayShow, folder, report;
    bool menuEnabled = true, trayMenuInBar = false, visible = false, normal = true;
    bool reportShown = false, timer = false, hasTray = true;
    std::map<int, bool> items, buttons, trayItems, ticks, options;
    std::map<int, std::string> optionTips;
    std::map<std::string, std::string> panels, panelTips;
    int width = 11000, height = kDesignHeightTwips;
    std::vector<std::pair<int, int>> sizes;
    WindowLayout layout;
    int listShown = 0;
    size_t listCount = 0;
    std::optional<std::string> selected;
    int interval = 0;
    std::vector<std::string> tray, notices, messages;
    int trayMenuPopups = 0, aboutShown = 0, unloadRequests = 0;
};

class FakeHistory : public UpdateHistory {
  public:
    void ImportInstallerResult() override { ++imports; }
    void LoadUpdateList(history::UpdateListModel& list, bool configured, int,
                        const std::function<void()>&) override {
        ++loads;
        if (!configured) return;
        for (const auto& key : records) {
            if (!list.find(key)) list.add(key, key.substr(0, 10));
        }
        list.setTrimEnabled(list.count() > 1);
    }
    std::optional<std::string> ReadUpdateReport(const std::string& key) override {
        auto it = reports.find(key);
        if (it == reports.end()) return std::nullopt;
        return it->second;
    }
    int TrimUpdateLogTable(int) override { return 0; }

    int imports = 0, loads = 0;
    std::vector<std::string> records;
    std::map<std::string, std::string> reports;
};

class FakeServices : public AgentServices {
  public:
    void closeEngine() override { ++engineCloses; }
    void appendOperationLog(const std::string& message) override { log.push_back(message); }
    int startProgram(const std::string& program, const std::string& switches) override {
        started.push_back(program + "|" + switches);
        return startError;
    }
    int engineCloses = 0;
    int startError = 0;
    std::vector<std::string> log, started;
};

// The update window as a scripted step: what a run does.
class ScriptedUpdateWindow : public UpdateRunServices {
  public:
    int closeAllTables() override { return 0; }
    void showUpdateWindow() override {
        ++runs;
        automatic.push_back(state->automaticRun);
        if (step) step(*state);
    }
    RunState* state = nullptr;
    std::function<void(RunState&)> step;
    int runs = 0;
    std::vector<bool> automatic;
};

class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest()
        : config(state),
          clock({2026, 12, 7, 0, 30, 0}),
          init(state, config, clock),
          versions(dir.text(), [this] { return state.applicationFolder; }) {
        state.agentFolder = dir.text();
        state.executableName = "TavrelUpdate1";
        appFolder = dir.path() / "app";
        platform::ensureFolder(appFolder);
        updateWindow.state = &state;
        init.setRunServices(&updateWindow);
    }
    // An application folder with TAVREL32.EXE and a configuration naming it.
    void configure() {
        ASSERT_EQ(platform::writeFileAtomic(appFolder / "TAVREL32.EXE", "MZ"), 0);
        config.WriteMainPath(appFolder.string());
    }
    void load() {
        window = std::make_unique<MainWindow>(view, state, config, init, versions, history,
                                              services, clock, "1.0.0");
        view.window = window.get();
        window->Form_Load();
    }
    void at(int hour, int minute) { clock.set({2026, 12, 7, hour, minute, 0}); }
    void writeLevels(const std::string& installed, const std::string& downloaded) {
        ASSERT_EQ(platform::writeFileAtomic(dir / "TAVRELUPD.VER", installed), 0);
        ASSERT_EQ(platform::writeFileAtomic(dir / "UPDATE.VER", downloaded), 0);
    }
    std::string ini(const char* section, const char* key) {
        return config.ReadText(section, key, "<missing>");
    }

    platform::testing::TempFolder dir;
    std::filesystem::path appFolder;
    RunState state;
    Configuration config;
    platform::FixedClock clock;
    TavrelUpdateInit init;
    session::VersionFiles versions;
    RecordingView view;
    FakeHistory history;
    FakeServices services;
    ScriptedUpdateWindow updateWindow;
    std::unique_ptr<MainWindow> window;
};

}  // namespace tavrel::agent::testing
