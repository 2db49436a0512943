#include "platform/text_rules.h"

#include <gtest/gtest.h>

#include <clocale>

namespace tavrel::platform {
namespace {

TEST(TextRules, CaseChangesOnlyAsciiLetters) {
    EXPECT_EQ(upperText("abc xyz 09 {}@[`"), "ABC XYZ 09 {}@[`");
    EXPECT_EQ(lowerText("ABC XYZ @[`{"), "abc xyz @[`{");
    // Latin-1 and UTF-8 bytes pass through unchanged, whatever the locale says.
    const std::string cafe = "caf\xc3\xa9.dll \xe9\xff";
    std::setlocale(LC_ALL, "C.UTF-8");
    EXPECT_EQ(upperText(cafe), "CAF\xc3\xa9.DLL \xe9\xff");
    std::setlocale(LC_ALL, "C");
}

TEST(TextRules, TrimRemovesBlanksAtTheEndsOnly) {
    EXPECT_EQ(trimText(" \t a b \r\n"), "a b");
    EXPECT_EQ(trimLeftText("  a "), "a ");
    EXPECT_EQ(trimRightText("  a \t"), "  a");
    EXPECT_EQ(trimText("   "), "");
    EXPECT_EQ(trimText(""), "");
    EXPECT_EQ(trimPadding(std::string_view("NAME \0\0 ", 8)), "NAME");
    EXPECT_EQ(trimPadding(std::string_view(" \t", 2)), " \t");
    EXPECT_EQ(trimCharsText("  \ta b\t ", " "), "\ta b\t");
    EXPECT_EQ(trimCharsLeftText(" \t\ra", " \t"), "\ra");
    EXPECT_EQ(trimCharsRightText("a\t\r \n", " \t\r"), "a\t\r \n");
    EXPECT_EQ(trimCharsText("   ", " "), "");
}

TEST(TextRules, NamesCompareWithoutCase) {
    EXPECT_TRUE(sameTextIgnoringCase("TavrelUpd.VER", "TAVRELUPD.ver"));
    EXPECT_FALSE(sameTextIgnoringCase("TAVREL", "TAVREL "));
    EXPECT_FALSE(sameTextIgnoringCase("\xe9", "\xc9"));
    EXPECT_TRUE(sameTextIgnoringCase("", ""));
    EXPECT_TRUE(startsWithIgnoringCase("LICTBL\\CUSTOMER", "lictbl\\"));
    EXPECT_FALSE(startsWithIgnoringCase("LIC", "LICTBL"));
    EXPECT_TRUE(endsWithIgnoringCase("package.Zip", ".ZIP"));
    EXPECT_FALSE(endsWithIgnoringCase("zip", ".zip"));
}

}  // namespace
}  // namespace tavrel::platform
