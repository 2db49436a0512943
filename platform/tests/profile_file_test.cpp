#include "platform/profile_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/files.h"
#include "temp_folder.h"

namespace tavrel::platform {
namespace {

using testing::TempFolder;

TEST(ProfileText, NamesMatchWithoutRegardToCaseAndFirstOccurrenceWins) {
    const std::string text =
        "[general]\nHideInTray=False\nhideintray=True\n[GENERAL]\nShowMenuButtons=1\n";
    EXPECT_EQ(findProfileValue(text, "GENERAL", "HIDEINTRAY"), "False");
    // A second section of the same name is not searched, as on Windows.
    EXPECT_EQ(findProfileValue(text, "General", "ShowMenuButtons"), std::nullopt);
}

TEST(ProfileText, ValuesLoseSurroundingBlanksAndOneQuotePair) {
    const std::string text = "[S]\r\n  Key  =   some value  \r\nQ=\"quoted \"\r\nE=\r\nN=\"a'\r\n";
    EXPECT_EQ(findProfileValue(text, "s", "key"), "some value");
    EXPECT_EQ(findProfileValue(text, "S", "Q"), "quoted ");
    EXPECT_EQ(findProfileValue(text, "S", "E"), "");
    EXPECT_EQ(findProfileValue(text, "S", "N"), "\"a'");
    EXPECT_EQ(findProfileValue(text, "S", "Missing"), std::nullopt);
    EXPECT_EQ(findProfileValue(text, "Other", "Key"), std::nullopt);
}

TEST(ProfileText, CommentsAndKeysBeforeAnySectionAreNotValues) {
    const std::string text = "Key=outside\n[S]\n;Key=commented\nnot a key line\n";
    EXPECT_EQ(findProfileValue(text, "S", "Key"), std::nullopt);
    EXPECT_EQ(findProfileValue(text, "S", ";Key"), std::nullopt);
}

TEST(ProfileText, EditKeepsEveryOtherLineAsItWas) {
    const std::string text =
        "; settings\r\n[General]\r\nHideInTray=True\r\n\r\n; window\r\nFormWidth=100\r\n"
        "\r\n[Updates]\r\nUpdateFlag=False\r\n";
    std::string edited = editProfileText(text, "general", "FORMWIDTH", "200");
    EXPECT_EQ(edited,
              "; settings\r\n[General]\r\nHideInTray=True\r\n\r\n; window\r\nFormWidth=200\r\n"
              "\r\n[Updates]\r\nUpdateFlag=False\r\n");
}

TEST(ProfileText, NewKeyGoesAfterTheSectionsLastLineNotAfterItsTrailingBlank) {
    const std::string text = "[General]\nA=1\n\n[Updates]\nB=2\n";
    EXPECT_EQ(editProfileText(text, "GENERAL", "C", "3"),
              "[General]\nA=1\nC=3\n\n[Updates]\nB=2\n");
    EXPECT_EQ(editProfileText(text, "Updates", "C", "3"),
              "[General]\nA=1\n\n[Updates]\nB=2\nC=3\n");
}

TEST(ProfileText, EmptyValueRemovesOnlyThatKey) {
    const std::string text = "[Updates]\nLastCheck=01 Jan 2026\nUpdateFlag=True\n";
    EXPECT_EQ(editProfileText(text, "updates", "lastcheck", ""), "[Updates]\nUpdateFlag=True\n");
    // Removing a key that is not there changes nothing, and makes no section.
    EXPECT_EQ(editProfileText(text, "General", "X", ""), text);
    EXPECT_EQ(editProfileText(text, "Updates", "X", ""), text);
}

TEST(ProfileText, MissingSectionIsAppendedEvenWithoutFinalLineEnd) {
    EXPECT_EQ(editProfileText("[A]\nX=1", "B", "Y", "2"), "[A]\nX=1\n[B]\nY=2\n");
    EXPECT_EQ(editProfileText("[A]\nX=1", "A", "Y", "2"), "[A]\nX=1\nY=2\n");
    EXPECT_EQ(editProfileText("", "A", "Y", "2"), "[A]\nY=2\n");
}

TEST(ProfileText, ByteOrderMarkInFrontOfTheFirstSectionIsKept) {
    const std::string text = "\xEF\xBB\xBF[General]\r\nHideInTray=False\r\n";
    EXPECT_EQ(findProfileValue(text, "General", "HideInTray"), "False");
    EXPECT_EQ(editProfileText(text, "General", "HideInTray", "True"),
              "\xEF\xBB\xBF[General]\r\nHideInTray=True\r\n");
    EXPECT_EQ(editProfileText("\xEF\xBB\xBF"
                              "A=1\n[S]\n",
                              "S", "A", "2"),
              "\xEF\xBB\xBF"
              "A=1\n[S]\nA=2\n");
}

TEST(ProfileText, LineBreaksInAValueCannotForgeKeys) {
    std::string edited = editProfileText("[A]\n", "A", "Path", "x\r\n[B]\nEvil=1");
    EXPECT_EQ(findProfileValue(edited, "B", "Evil"), std::nullopt);
    EXPECT_EQ(findProfileValue(edited, "A", "Path"), "x  [B] Evil=1");
}

TEST(ProfileFile, MissingFileGivesDefaultsAndEmptyWriteCreatesNothing) {
    TempFolder dir;
    const auto file = dir / "TavrelUPDATE.INI";
    EXPECT_EQ(readProfileString(file, "Updates", "UpdateStart", "01:00"), "01:00");
    EXPECT_EQ(readProfileInteger(file, "General", "KeepLastRecords", 100), 100);
    EXPECT_EQ(writeProfileString(file, "Updates", "LastCheck", ""), 0);
    EXPECT_FALSE(fileExists(file));
}

TEST(ProfileFile, FirstWriteCreatesFileAndSectionThenReadsBack) {
    TempFolder dir;
    const auto file = dir / "TavrelUPDATE.INI";
    ASSERT_EQ(writeProfileString(file, "Updates", "UpdateFlag", "True"), 0);
    ASSERT_EQ(writeProfileString(file, "UPDATES", "UpdateStart", "02:00"), 0);
    EXPECT_EQ(*readFile(file), "[Updates]\nUpdateFlag=True\nUpdateStart=02:00\n");
    EXPECT_EQ(readProfileString(file, "updates", "updatestart", "01:00"), "02:00");
    // No temporary file is left beside it.
    EXPECT_EQ(listFiles(dir.path()), std::vector<std::string>{"TavrelUPDATE.INI"});
}

TEST(ProfileFile, FileWhoseNameDiffersInCaseIsTheSameFile) {
    TempFolder dir;
    ASSERT_EQ(writeFileAtomic(dir / "tavrelupdate.ini", "[General]\nFormHeight=7000\n"), 0);
    EXPECT_EQ(readProfileInteger(dir / "TavrelUPDATE.INI", "General", "FormHeight", 0), 7000);
    ASSERT_EQ(writeProfileString(dir / "TavrelUPDATE.INI", "General", "FormHeight", "8000"), 0);
    EXPECT_EQ(listFiles(dir.path()), std::vector<std::string>{"tavrelupdate.ini"});
    EXPECT_EQ(readProfileInteger(dir / "tavrelupdate.ini", "General", "FormHeight", 0), 8000);
}

TEST(ProfileFile, IntegerReadTakesLeadingDigitsOnly) {
    TempFolder dir;
    const auto file = dir / "x.ini";
    ASSERT_EQ(writeFileAtomic(
                  file, "[S]\nA=42abc\nB=abc\nC=-17\nD=  +5\nE=99999999999999999999999\nF=\n"),
              0);
    EXPECT_EQ(readProfileInteger(file, "S", "A", 1), 42);
    EXPECT_EQ(readProfileInteger(file, "S", "B", 1), 0);
    EXPECT_EQ(readProfileInteger(file, "S", "C", 1), -17);
    EXPECT_EQ(readProfileInteger(file, "S", "D", 1), 5);
    EXPECT_EQ(readProfileInteger(file, "S", "E", 1), LLONG_MAX);
    EXPECT_EQ(readProfileInteger(file, "S", "F", 1), 1);  // empty: as if missing
    EXPECT_EQ(readProfileInteger(file, "S", "G", 1), 1);
}

TEST(ProfileFile, FailedWriteLeavesTheOldFileWhole) {
    TempFolder dir;
    const auto file = dir / "x.ini";
    ASSERT_EQ(writeProfileString(file, "S", "A", "1"), 0);
    // A folder where the new file would be written makes the write fail, even for root.
    std::filesystem::create_directory(dir / ("x.ini.tmp-" + std::to_string(::getpid())));
    EXPECT_NE(writeProfileString(file, "S", "A", "2"), 0);
    EXPECT_EQ(*readFile(file), "[S]\nA=1\n");
}

TEST(ProfileFile, ReadOnlyFileIsRefusedAndKept) {
    TempFolder dir;
    const auto file = dir / "TavrelUPDATE.INI";
    ASSERT_EQ(writeProfileString(file, "Updates", "UpdateFlag", "True"), 0);
    ASSERT_EQ(makeReadOnly(file), 0);
    EXPECT_EQ(writeProfileString(file, "Updates", "UpdateFlag", "False"), EACCES);
    EXPECT_EQ(readProfileString(file, "Updates", "UpdateFlag", ""), "True");
    EXPECT_FALSE(isWritable(file));
}

TEST(ProfileFile, SymlinkedFileStaysALinkAndItsTargetIsWritten) {
    TempFolder dir;
    ASSERT_EQ(ensureFolder(dir / "shared"), 0);
    ASSERT_EQ(writeProfileString(dir / "shared" / "common.ini", "General", "A", "1"), 0);
    std::filesystem::create_symlink(dir / "shared" / "common.ini", dir / "TavrelUPDATE.INI");
    ASSERT_EQ(writeProfileString(dir / "TavrelUPDATE.INI", "General", "A", "2"), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "TavrelUPDATE.INI"));
    EXPECT_EQ(readProfileString(dir / "shared" / "common.ini", "General", "A", ""), "2");
}

}  // namespace
}  // namespace tavrel::platform
