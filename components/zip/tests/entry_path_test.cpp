#include "components/zip/entry_path.h"

#include <gtest/gtest.h>

namespace tavrel::zip {
namespace {

TEST(EntryPathTest, BothSeparatorsSplitIntoFolderAndName) {
    EntryPath a = splitEntryPath("DATA\\SUB\\CUSTOMER.DBF");
    EXPECT_EQ(a.folder, "DATA/SUB");
    EXPECT_EQ(a.name, "CUSTOMER.DBF");
    EntryPath b = splitEntryPath("DATA/SUB/CUSTOMER.DBF");
    EXPECT_EQ(b.folder, "DATA/SUB");
    EXPECT_EQ(b.name, "CUSTOMER.DBF");
    EntryPath mixed = splitEntryPath("./A\\\\B//C.TXT");
    EXPECT_EQ(mixed.folder, "A/B");
    EXPECT_EQ(mixed.name, "C.TXT");
    EntryPath top = splitEntryPath("README.TXT");
    EXPECT_EQ(top.folder, "");
    EXPECT_EQ(top.name, "README.TXT");
}

TEST(EntryPathTest, FolderEntriesHaveNoName) {
    EXPECT_EQ(splitEntryPath("DATA/").name, "");
    EXPECT_EQ(splitEntryPath("DATA/").folder, "DATA");
    EXPECT_EQ(splitEntryPath("DATA\\SUB\\").folder, "DATA/SUB");
    EXPECT_EQ(splitEntryPath("").name, "");
}

TEST(EntryPathTest, PathsThatLeaveTheTargetAreUnsafe) {
    for (const char* bad : {"/etc/passwd", "\\WINDOWS\\X.DLL", "\\\\server\\share\\X", "//server/x",
                            "C:X.TXT", "c:\\X.TXT", "A/../../B", "..\\X", "A\\..", "..", "A:B/C",
                            "DATA/X.TXT:stream", "", "/", "./", "A/./../B"}) {
        EXPECT_TRUE(isUnsafeEntryPath(bad)) << bad;
    }
    for (const char* good :
         {"A.TXT", "DATA/X.DBF", "DATA\\X.DBF", "..A/B", "A..B\\C", "./A/B", "DATA/", "A/.../B"}) {
        EXPECT_FALSE(isUnsafeEntryPath(good)) << good;
    }
}

TEST(EntryPathTest, NormalPathUsesSlashes) {
    EXPECT_EQ(normalEntryPath("DATA\\.\\X.DBF"), "DATA/X.DBF");
    EXPECT_EQ(normalEntryPath("/A//B/"), "A/B");
}

TEST(EntryPathTest, MasksMatchIgnoringCase) {
    EXPECT_TRUE(matchesMask("CUSTOMER.DBF", "*.dbf"));
    EXPECT_TRUE(matchesMask("customer.dbf", "CUSTOMER.*"));
    EXPECT_TRUE(matchesMask("README", "*.*"));
    EXPECT_TRUE(matchesMask("A1.TXT", "A?.TXT"));
    EXPECT_FALSE(matchesMask("A12.TXT", "A?.TXT"));
    EXPECT_FALSE(matchesMask("CUSTOMER.DBF", "*.CDX"));
    EXPECT_TRUE(matchesMask("X.CDX", "X.CDX"));
    EXPECT_FALSE(matchesMask("X.CDX", ""));
    EXPECT_TRUE(matchesMask("ABABAB.C", "*AB*.C"));
    EXPECT_FALSE(matchesMask("ABABAB.C", "*AB*.D"));
    // Many stars against a long name must stay quick.
    EXPECT_FALSE(matchesMask(std::string(5000, 'a'), "*a*a*a*a*a*a*a*b"));
}

}  // namespace
}  // namespace tavrel::zip
