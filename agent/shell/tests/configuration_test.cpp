#include "agent/shell/configuration.h"

#include <gtest/gtest.h>

#include "agent/shell/tavrel_update_settings.h"
#include "platform/files.h"
#include "platform/profile_file.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::agent {
namespace {

namespace platform = tavrel::platform;
using platform::testing::TempFolder;

class ConfigurationTest : public ::testing::Test {
  protected:
    ConfigurationTest() : config(state) {
        state.agentFolder = (dir.path() / "agent").string() + "/";
        platform::ensureFolder(dir / "agent");
        platform::ensureFolder(dir / "app");
    }
    std::string ini() const { return config.FilePath(); }
    void store(const std::string& text) { ASSERT_EQ(platform::writeFileAtomic(ini(), text), 0); }

    TempFolder dir;
    RunState state;
    Configuration config;
};

TEST_F(ConfigurationTest, WithoutAFileEverySettingReadsItsDefault) {
    EXPECT_EQ(config.FilePath(), state.agentFolder + "TavrelUPDATE.INI");
    EXPECT_FALSE(config.ConfigFileExists());
    EXPECT_EQ(std::get<bool>(config.ReadWindowSetting(WindowSetting::HideInTray)), true);
    EXPECT_EQ(std::get<bool>(config.ReadWindowSetting(WindowSetting::HideOnMinimize)), false);
    EXPECT_EQ(std::get<bool>(config.ReadWindowSetting(WindowSetting::ShowMenuButtons)), true);
    EXPECT_EQ(std::get<float>(config.ReadWindowSetting(WindowSetting::FormHeight)), 0.0f);
    EXPECT_EQ(std::get<float>(config.ReadWindowSetting(WindowSetting::FormWidth)), 0.0f);
    EXPECT_EQ(std::get<std::string>(config.ReadWindowSetting(WindowSetting::LastCheck)), "");
    EXPECT_EQ(config.ReadKeepLastRecords(), 100);
    EXPECT_FALSE(config.ReadTraceFile());
    EXPECT_FALSE(config.ReadUpdateFlag());
    EXPECT_EQ(config.ReadUpdateStart(), "01:00");
    EXPECT_EQ(config.ReadUpdateFinish(), "03:00");
    EXPECT_EQ(config.ReadUpdateLast(), "");
    EXPECT_EQ(config.ReadMainPath(), "");
    EXPECT_EQ(config.ReadFtpHost(), "localhost");
    EXPECT_FALSE(config.ConfigFileExists());  // reading never creates the file
}

TEST_F(ConfigurationTest, FlagsAreReadLenientlyAndOnlyTheSixWordsCount) {
    store("[Updates]\nA=yes\nB=Yes\nC=YES\nD=y\nE=on\nF=-1\nG=no\nH=0\nI=1\nJ=\nK=False\n");
    for (const char* key : {"A", "B", "C", "I"})
        EXPECT_TRUE(config.ReadFlag("Updates", key, false));
    for (const char* key : {"G", "H", "K"}) EXPECT_FALSE(config.ReadFlag("Updates", key, true));
    for (const char* key : {"D", "E", "F", "J", "Missing"}) {
        EXPECT_TRUE(config.ReadFlag("Updates", key, true)) << key;
        EXPECT_FALSE(config.ReadFlag("Updates", key, false)) << key;
    }
}

TEST_F(ConfigurationTest, FlagsAreWrittenAsWords) {
    ASSERT_EQ(config.WriteUpdateFlag(true), 0);
    ASSERT_EQ(config.WriteWindowSetting(WindowSetting::HideInTray, false), 0);
    EXPECT_EQ(platform::readProfileValue(ini(), "Updates", "UpdateFlag"), "True");
    EXPECT_EQ(platform::readProfileValue(ini(), "General", "HideInTray"), "False");
    EXPECT_TRUE(config.ReadUpdateFlag());
}

TEST_F(ConfigurationTest, AnEmptyStoredTextIsEmptyNotTheDefault) {
    store("[Updates]\nUpdateStart=\n");
    EXPECT_EQ(config.ReadUpdateStart(), "");
    EXPECT_EQ(config.ReadUpdateFinish(), "03:00");
}

TEST_F(ConfigurationTest, WritingAnEmptyTextRemovesTheKey) {
    ASSERT_EQ(
        config.WriteWindowSetting(WindowSetting::LastCheck, std::string("07 Dec 2026 09:00:00")),
        0);
    EXPECT_EQ(std::get<std::string>(config.ReadWindowSetting(WindowSetting::LastCheck)),
              "07 Dec 2026 09:00:00");
    ASSERT_EQ(config.WriteWindowSetting(WindowSetting::LastCheck, std::string()), 0);
    EXPECT_EQ(std::get<std::string>(config.ReadWindowSetting(WindowSetting::LastCheck)), "");
    EXPECT_EQ(platform::readProfileValue(ini(), "Updates", "LastCheck"), std::nullopt);
}

TEST_F(ConfigurationTest, LongTextsReadBackAsTheirFirst143Characters) {
    const std::string value(150, 'x');
    ASSERT_EQ(config.WriteText("TavrelPath", "MainPath", value), 0);
    EXPECT_EQ(config.ReadText("TavrelPath", "MainPath", ""), std::string(143, 'x'));
    EXPECT_EQ(config.ReadText("TavrelPath", "Other", std::string(200, 'd')), std::string(143, 'd'));
}

TEST_F(ConfigurationTest, IntegersOutsideSixteenBitsReadAsTheNearestValue) {
    store("[General]\nKeepLastRecords=70000\nA=-70000\nB=12abc\nC=abc\n");
    EXPECT_EQ(config.ReadKeepLastRecords(), 32767);
    EXPECT_EQ(config.ReadInteger("General", "A", 0), -32768);
    EXPECT_EQ(config.ReadInteger("General", "B", 5), 12);
    EXPECT_EQ(config.ReadInteger("General", "C", 5), 0);
    ASSERT_EQ(config.WriteKeepLastRecords(250), 0);
    EXPECT_EQ(config.ReadKeepLastRecords(), 250);
}

TEST_F(ConfigurationTest, WindowSizesAreSinglePrecisionNumbersAndNonNumbersReadAsZero) {
    ASSERT_EQ(config.WriteWindowSetting(WindowSetting::FormHeight, 6600.0f), 0);
    ASSERT_EQ(config.WriteWindowSetting(WindowSetting::FormWidth, 13900.5f), 0);
    EXPECT_EQ(platform::readProfileValue(ini(), "General", "FormHeight"), "6600");
    EXPECT_EQ(std::get<float>(config.ReadWindowSetting(WindowSetting::FormWidth)), 13900.5f);
    store("[General]\nFormHeight=tall\nFormWidth=12px\n");
    EXPECT_EQ(std::get<float>(config.ReadWindowSetting(WindowSetting::FormHeight)), 0.0f);
    EXPECT_EQ(std::get<float>(config.ReadWindowSetting(WindowSetting::FormWidth)), 0.0f);
    // Words that a number parser might take for infinities or not-a-number are
    // not numbers; a leading plus sign is.
    store("[General]\nFormHeight=nan\nFormWidth=inf\nA=-Infinity\nB=+7000\nC=+\n");
    EXPECT_EQ(std::get<float>(config.ReadWindowSetting(WindowSetting::FormHeight)), 0.0f);
    EXPECT_EQ(std::get<float>(config.ReadWindowSetting(WindowSetting::FormWidth)), 0.0f);
    EXPECT_EQ(config.ReadNumber("General", "A"), 0.0f);
    EXPECT_EQ(config.ReadNumber("General", "B"), 7000.0f);
    EXPECT_EQ(config.ReadNumber("General", "C"), 0.0f);
}

TEST_F(ConfigurationTest, MainPathFollowsTheApplicationFolderAndALostKeyKeepsIt) {
    const std::string app = (dir.path() / "app").string();
    ASSERT_EQ(config.WriteMainPath(app), 0);
    EXPECT_EQ(state.applicationFolder, app);
    EXPECT_EQ(config.ReadMainPath(), app);  // the first read remembers the folder
    state.applicationFolder = "changed elsewhere";
    EXPECT_EQ(config.ReadMainPath(), app);
    EXPECT_EQ(state.applicationFolder, app);
    // The key is lost: the folder the agent was using when it first read the
    // key stays, even if the folder was changed behind the configuration's back.
    ASSERT_EQ(config.WriteText("TavrelPath", "MainPath", ""), 0);
    state.applicationFolder = "changed again";
    EXPECT_EQ(config.ReadMainPath(), app);
    EXPECT_EQ(state.applicationFolder, app);
}

TEST_F(ConfigurationTest, ConfiguredNeedsTheFileAndTheApplicationInItsFolder) {
    TavrelUpdateSettings settings(config);
    const std::string app = (dir.path() / "app").string();
    state.applicationFolder = app;
    ASSERT_TRUE(platform::writeFileAtomic(dir / "app" / "TAVREL32.EXE", "MZ") == 0);
    EXPECT_FALSE(settings.Configured());  // no configuration file yet
    settings.setFolderMain((dir.path() / "elsewhere").string());
    EXPECT_TRUE(config.ConfigFileExists());
    EXPECT_FALSE(settings.Configured());
    settings.setFolderMain(app);
    EXPECT_TRUE(settings.Configured());
    platform::deleteFile(dir / "app" / "TAVREL32.EXE");
    EXPECT_FALSE(settings.Configured());
    // Found again without a restart, and in any case.
    ASSERT_EQ(platform::writeFileAtomic(dir / "app" / "tavrel32.exe", "MZ"), 0);
    EXPECT_TRUE(settings.Configured());
}

TEST_F(ConfigurationTest, SettingsObjectGoesToTheFileEveryTime) {
    TavrelUpdateSettings settings(config);
    EXPECT_FALSE(settings.Enabled());
    settings.setEnabled(true);
    settings.setTimeStart("22:00");
    settings.setTimeFinish("23:30");
    EXPECT_EQ(platform::readProfileValue(ini(), "Updates", "UpdateStart"), "22:00");
    store("[Updates]\nUpdateFlag=No\nUpdateFinish=04:00\n");
    EXPECT_FALSE(settings.Enabled());
    EXPECT_EQ(settings.TimeStart(), "01:00");
    EXPECT_EQ(settings.TimeFinish(), "04:00");
    settings.Show();  // no dialog yet: nothing happens
    struct Dialog : SettingsDialogOpener {
        void showSettingsDialog() override { ++shown; }
        int shown = 0;
    } dialog;
    settings.setDialog(&dialog);
    settings.Show();
    EXPECT_EQ(dialog.shown, 1);
}

}  // namespace
}  // namespace tavrel::agent
