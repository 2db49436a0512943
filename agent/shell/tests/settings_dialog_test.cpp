// The settings dialog's logic: opening with stored values, the folder check,
// the chooser results, the record box rule and the save order.
#include "agent/shell/settings_dialog.h"

#include <gtest/gtest.h>

#include "agent/shell/about_box.h"
#include "platform/files.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::agent {
namespace {

namespace platform = tavrel::platform;

class RecordingSettingsView : public SettingsView {
  public:
    void setHourEntries(const std::vector<std::string>& e) override { entries = e; }
    int startIndex() const override { return start; }
    void setStartIndex(int index) override { start = index; }
    int finishIndex() const override { return finish; }
    void setFinishIndex(int index) override { finish = index; }
    void setHourListsEnabled(bool enabled) override { listsEnabled = enabled; }
    std::string folderText() const override { return folder; }
    void setFolderText(const std::string& text) override {
        folder = text;
        if (dialog) dialog->TestFolder();
    }
    void focusFolder() override { ++focused; }
    bool updatesChecked() const override { return updates; }
    void setUpdatesChecked(bool checked) override { updates = checked; }
    bool traceChecked() const override { return trace; }
    void setTraceChecked(bool checked) override { trace = checked; }
    std::string keepLastText() const override { return keep; }
    void setKeepLastText(const std::string& text) override { keep = text; }
    void setPanelText(std::string_view key, const std::string& text) override {
        panels[std::string(key)] = text;
    }
    std::optional<std::string> chooseApplicationFile(const ApplicationFileRequest& r) override {
        request = r;
        return chosen;
    }
    void closeDialog() override { ++closed; }

    SettingsDialog* dialog = nullptr;
    std::vector<std::string> entries;
    int start = -1, finish = -1, focused = 0, closed = 0;
    bool listsEnabled = true, updates = false, trace = false;
    std::string folder, keep;
    std::map<std::string, std::string> panels;
    ApplicationFileRequest request;
    std::optional<std::string> chosen;
};

class SettingsDialogTest : public ::testing::Test {
  protected:
    SettingsDialogTest() : config(state), dialog(view, config) {
        state.agentFolder = dir.text();
        view.dialog = &dialog;
    }
    std::string stored(const char* section, const char* key) {
        return config.ReadText(section, key, "<missing>");
    }
    platform::testing::TempFolder dir;
    RunState state;
    Configuration config;
    RecordingSettingsView view;
    SettingsDialog dialog;
};

TEST_F(SettingsDialogTest, OpeningWithoutAFileShowsTheDefaults) {
    dialog.Form_Load();
    ASSERT_EQ(view.entries.size(), 24u);
    EXPECT_EQ(view.entries.front(), "00:00");
    EXPECT_EQ(view.entries[5], "05:00");
    EXPECT_EQ(view.entries.back(), "23:00");
    EXPECT_EQ(view.start, 1);
    EXPECT_EQ(view.finish, 3);
    EXPECT_EQ(view.keep, "100");
    EXPECT_FALSE(view.listsEnabled);
    EXPECT_EQ(view.panels["FOLDER"], kFolderMissing);
    EXPECT_FALSE(platform::fileExists(config.FilePath())) << "opening writes nothing";
}

TEST_F(SettingsDialogTest, StoredHoursSelectTheirPositionsAndHalfHoursSaveAsWholeOnes) {
    config.WriteUpdateStart("05:00");
    config.WriteUpdateFinish("07:00");
    config.WriteUpdateFlag(true);
    dialog.Form_Load();
    EXPECT_EQ(view.start, 5);
    EXPECT_EQ(view.finish, 7);
    EXPECT_TRUE(view.listsEnabled);

    config.WriteUpdateStart("5:30");
    config.WriteUpdateFinish("xx");  // no hour: the finish stays at its first entry
    dialog.Form_Load();
    EXPECT_EQ(view.start, 5);
    EXPECT_EQ(view.finish, 0);
    config.WriteUpdateFinish("99:00");  // no such position: the default stays
    dialog.Form_Load();
    EXPECT_EQ(view.finish, 3);
    dialog.cmdAction_Click(0);
    EXPECT_EQ(stored("Updates", "UpdateStart"), "05:00");
    EXPECT_EQ(stored("Updates", "UpdateFinish"), "03:00");
    EXPECT_EQ(view.closed, 1);
}

TEST_F(SettingsDialogTest, TheFolderCheckFollowsTheText) {
    dialog.Form_Load();
    view.setFolderText((dir.path() / "app").string());
    EXPECT_EQ(view.panels["FOLDER"], kFolderIncorrect);
    platform::ensureFolder(dir / "app");
    ASSERT_EQ(platform::writeFileAtomic(dir / "app" / "tavrel32.exe", "MZ"), 0);
    dialog.TestFolder();
    EXPECT_EQ(view.panels["FOLDER"], kFolderCorrect);
    view.setFolderText("");
    EXPECT_EQ(view.panels["FOLDER"], kFolderMissing);
}

TEST_F(SettingsDialogTest, FolderStripRemovesTheFileAndKeepsADriveRoot) {
    std::string folder;
    FolderStrip("C:\\TAVREL32.EXE", "\\TAVREL32.EXE", folder);
    EXPECT_EQ(folder, "C:\\");
    FolderStrip("D:\\APPS\\MAIN\\TAVREL32.EXE", "\\TAVREL32.EXE", folder);
    EXPECT_EQ(folder, "D:\\APPS\\MAIN");
    FolderStrip("D:\\APPS\\MAIN\\", "\\TAVREL32.EXE", folder);
    EXPECT_EQ(folder, "D:\\APPS\\MAIN");
    FolderStrip("d:\\apps\\tavrel32.exe", "\\TAVREL32.EXE", folder);
    EXPECT_EQ(folder, "d:\\apps") << "compared upper-cased, kept as given";
    FolderStrip("D:\\APPS\\OTHER.EXE", "\\TAVREL32.EXE", folder);
    EXPECT_EQ(folder, "D:\\APPS\\OTHER.EXE");
    FolderStrip("", "\\TAVREL32.EXE", folder);
    EXPECT_EQ(folder, "");
    FolderStrip("/TAVREL32.EXE", "/TAVREL32.EXE", folder);
    EXPECT_EQ(folder, "/");
}

TEST_F(SettingsDialogTest, TheChooserResultBecomesTheFolderAndCancelKeepsIt) {
    dialog.Form_Load();
    view.folder = "/previous";
    view.chosen = "C:\\TAVREL32.EXE";
    dialog.cmdPathMain_Click();
    EXPECT_EQ(view.focused, 1);
    EXPECT_EQ(view.request.title, "Kestmoor Tavrel Application Folder");
    EXPECT_EQ(view.request.fileName, "TAVREL32.EXE");
    EXPECT_EQ(view.request.filter, "TAVREL32.EXE (TAVREL32.EXE)");
    EXPECT_EQ(view.request.initialFolder, "/previous");
    EXPECT_EQ(view.folder, "C:\\");
    view.chosen = "D:\\Apps\\Main\\TAVREL32.EXE";
    dialog.cmdPathMain_Click();
    EXPECT_EQ(view.folder, "D:\\APPS\\MAIN");
    EXPECT_EQ(view.panels["FOLDER"], kFolderIncorrect);
    // Here a folder keeps its case: another case would be another folder.
    platform::ensureFolder(dir / "Apps");
    ASSERT_EQ(platform::writeFileAtomic(dir / "Apps" / "TAVREL32.EXE", "MZ"), 0);
    view.chosen = (dir.path() / "Apps" / "TAVREL32.EXE").string();
    dialog.cmdPathMain_Click();
    EXPECT_EQ(view.folder, (dir.path() / "Apps").string());
    EXPECT_EQ(view.panels["FOLDER"], kFolderCorrect);
    view.chosen.reset();
    dialog.cmdPathMain_Click();
    EXPECT_EQ(view.folder, (dir.path() / "Apps").string());
}

TEST_F(SettingsDialogTest, TheRecordBoxTakesDigitsAndRisesToFifty) {
    for (char c : std::string("0123456789")) EXPECT_TRUE(SettingsDialog::keepLastAccepts(c));
    for (char c : std::string("a-+ .\b")) EXPECT_FALSE(SettingsDialog::keepLastAccepts(c)) << c;
    dialog.Form_Load();
    view.keep = "12";
    dialog.txtKeepLast_LostFocus();
    EXPECT_EQ(view.keep, "50");
    view.keep = "150";
    dialog.txtKeepLast_LostFocus();
    EXPECT_EQ(view.keep, "150");
    view.keep = "";
    dialog.txtKeepLast_LostFocus();
    EXPECT_EQ(view.keep, "50");
}

TEST_F(SettingsDialogTest, OkSavesEverySettingAndAnEmptyRecordBoxSavesFifty) {
    dialog.Form_Load();
    view.folder = "/srv/tavrel";
    view.keep = "";
    view.updates = false;  // unticked: the hours are saved all the same
    view.trace = true;
    view.start = 4, view.finish = 6;
    dialog.cmdAction_Click(0);
    EXPECT_EQ(stored("TavrelPath", "MainPath"), "/srv/tavrel");
    EXPECT_EQ(state.applicationFolder, "/srv/tavrel");
    EXPECT_EQ(stored("General", "KeepLastRecords"), "50");
    EXPECT_EQ(stored("Updates", "UpdateFlag"), "False");
    EXPECT_EQ(stored("Updates", "TraceFile"), "True");
    EXPECT_EQ(stored("Updates", "UpdateStart"), "04:00");
    EXPECT_EQ(stored("Updates", "UpdateFinish"), "06:00");
    // The file's lines show the save order.
    const std::string file = platform::readFile(config.FilePath()).value_or("");
    EXPECT_LT(file.find("MainPath"), file.find("KeepLastRecords"));
    EXPECT_LT(file.find("UpdateFlag"), file.find("TraceFile"));
    EXPECT_LT(file.find("TraceFile"), file.find("UpdateStart"));
    EXPECT_LT(file.find("UpdateStart"), file.find("UpdateFinish"));
}

TEST_F(SettingsDialogTest, CancelClosesWithoutWriting) {
    dialog.Form_Load();
    view.folder = "/srv/tavrel";
    dialog.cmdAction_Click(1);
    EXPECT_EQ(view.closed, 1);
    EXPECT_FALSE(platform::fileExists(config.FilePath()));
}

TEST(AboutBoxTest, ContactFieldsComeFromTheConfigurationWithDefaults) {
    platform::testing::TempFolder dir;
    RunState state;
    state.agentFolder = dir.text();
    state.executableName = "TavrelUpdate1";
    Configuration config(state);
    AboutBoxContent about = aboutBoxContent(state, config, "1.0.0");
    EXPECT_EQ(about.caption, "About Kestmoor Tavrel Update");
    EXPECT_EQ(about.webSite, kDefaultWebSite);
    EXPECT_EQ(about.fax, kDefaultFax);
    config.WriteText("About", "EMail", "desk@kestmoor.test");
    config.WriteText("About", "Telephone", "01234 567890");
    about = aboutBoxContent(state, config, "1.0.0");
    EXPECT_EQ(about.email, "desk@kestmoor.test");
    EXPECT_EQ(about.telephone, "01234 567890");
    EXPECT_EQ(about.executableFolder, dir.text());
}

}  // namespace
}  // namespace tavrel::agent
