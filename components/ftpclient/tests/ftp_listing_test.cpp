#include "components/ftpclient/ftp_listing.h"

#include <gtest/gtest.h>

namespace tavrel::ftpclient {
namespace {

const ListingToday kToday{2026, 3, 15};

RemoteEntry parsed(std::string_view line) {
    RemoteEntry entry;
    EXPECT_EQ(parseListingLine(line, kToday, entry), ListingLine::kEntry) << line;
    return entry;
}

TEST(ListingUnix, FileWithYearBlanksInNameAndSizeAbove4GB) {
    RemoteEntry e =
        parsed("-rw-r--r--   1 owner group   5368709121 Jan 12  2020 big  file name.zip\r\n");
    EXPECT_EQ(e.name, "big  file name.zip");
    EXPECT_EQ(e.size(), 5368709121ull);
    EXPECT_EQ(e.sizeHigh, 1u);
    EXPECT_EQ(e.sizeLow, 1073741825u);
    EXPECT_EQ(e.date, "2020-01-12");
    EXPECT_EQ(e.time, "00:00");
    EXPECT_EQ(e.attributes, "-rw-r--r--");
    EXPECT_FALSE(e.isDirectory);
    EXPECT_FALSE(e.isUnsafe());
}

TEST(ListingUnix, DateWithoutYearTakesThisYearOrLastYear) {
    RemoteEntry recent = parsed("drwxr-xr-x 2 ftp ftp 4096 Mar 03 14:07 UPDATES");
    EXPECT_TRUE(recent.isDirectory);
    EXPECT_EQ(recent.name, "UPDATES");
    EXPECT_EQ(recent.date, "2026-03-03");
    EXPECT_EQ(recent.time, "14:07");
    // A date after tomorrow cannot be from this year's past half year.
    EXPECT_EQ(parsed("-rw-r--r-- 1 ftp ftp 10 Dec 24 09:00 TAVREL0123.ZIP").date, "2025-12-24");
    EXPECT_EQ(parsed("-rw-r--r-- 1 ftp ftp 10 Mar 16 09:00 x").date, "2026-03-16");
}

TEST(ListingUnix, MissingGroupLinkAndLeadingBlankOfName) {
    EXPECT_EQ(parsed("-rw-r--r-- 1 owner 77 Feb  1 2024 UPDATE.VER").size(), 77u);
    EXPECT_EQ(parsed("lrwxrwxrwx 1 a b 7 Feb 1 2024 current -> UPDATE2").name, "current");
    EXPECT_EQ(parsed("-rw-r--r-- 1 a b 7 Feb 1 2024  lead").name, " lead");
}

TEST(ListingDos, DirectoryTwelveHourClockAndTwoDigitYear) {
    RemoteEntry e = parsed("01-12-20  02:30PM       <DIR>          Folder With Blanks\r");
    EXPECT_TRUE(e.isDirectory);
    EXPECT_EQ(e.name, "Folder With Blanks");
    EXPECT_EQ(e.date, "2020-01-12");
    EXPECT_EQ(e.time, "14:30");
    EXPECT_EQ(e.attributes, "<DIR>");
    EXPECT_EQ(parsed("12-31-99  12:05AM  1 x").date, "1999-12-31");
    EXPECT_EQ(parsed("12-31-99  12:05AM  1 x").time, "00:05");
    EXPECT_EQ(parsed("12-31-99  12:05PM  1 x").time, "12:05");
}

TEST(ListingDos, FourDigitYear24HourClockAndHugeSize) {
    RemoteEntry e = parsed("03-15-2026  23:59           6442450944 TAVREL0123.ZIP");
    EXPECT_FALSE(e.isDirectory);
    EXPECT_EQ(e.size(), 6442450944ull);
    EXPECT_EQ(e.date, "2026-03-15");
    EXPECT_EQ(e.time, "23:59");
    EXPECT_EQ(parsed("03-15-2026  11:59 PM  5 a b").time, "23:59");
    EXPECT_EQ(parsed("03-15-2026  11:59 PM  5 a b").name, "a b");
}

TEST(ListingLines, NonEntriesAreSkipped) {
    RemoteEntry e;
    EXPECT_EQ(parseListingLine("", kToday, e), ListingLine::kSkipped);
    EXPECT_EQ(parseListingLine("  \r\n", kToday, e), ListingLine::kSkipped);
    EXPECT_EQ(parseListingLine("total 128", kToday, e), ListingLine::kSkipped);
}

TEST(ListingLines, BadLinesAreMalformedAndLeaveTheEntryAlone) {
    const char* bad[] = {
        "garbage",
        "-rw-r--r-- 1 a b 10 Foo 12 2020 name",                   // no month
        "-rw-r--r-- 1 a b 10 Jan 32 2020 name",                   // day out of range
        "-rw-r--r-- 1 a b 10 Jan 12 25:00 name",                  // hour out of range
        "-rw-r--r-- 1 a b 10 Jan 12 2020",                        // no name
        "-rw-r--r-- 1 a b 99999999999999999999999 Jan 1 2020 n",  // size overflows 64 bits
        "-rw-r--r-- 1 a b -5 Jan 12 2020 name",                   // negative size
        "13-01-20  02:30PM  10 name",                             // month 13
        "01-12-20  13:30PM  10 name",                             // 13 o'clock PM
        "01-12-20  02:30PM  <DIR>",                               // no name
        "01-12-20  02:30PM  1x0 name",                            // size not a number
        "01-12-20",                                               // cut short
    };
    for (const char* line : bad) {
        RemoteEntry e;
        e.name = "kept";
        EXPECT_EQ(parseListingLine(line, kToday, e), ListingLine::kMalformed) << line;
        EXPECT_EQ(e.name, "kept") << line;
    }
}

TEST(ListingText, WholeReplyKeepsOrderAndCountsBadLines) {
    int malformed = -1;
    auto entries = parseListing(
        "total 3\r\n-rw-r--r-- 1 a b 1 Jan 1 2020 B\r\nnonsense\r\n"
        "01-01-20  01:00AM  2 A\r\n-rw-r--r-- 1 a b 3 Jan 1 2020 C",
        kToday, &malformed);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "B");
    EXPECT_EQ(entries[1].name, "A");
    EXPECT_EQ(entries[2].name, "C");
    EXPECT_EQ(malformed, 1);
}

TEST(EntryNames, UnsafeNamesAreFlagged) {
    for (std::string_view name :
         std::initializer_list<std::string_view>{"", "   ", ".", "..", "a/b", "..\\x", "\\x", "C:x",
                                                 "c:", "a\r\nDELE b", std::string_view("a\0b", 3)})
        EXPECT_TRUE(isUnsafeEntryName(name)) << name;
    for (std::string_view name : std::initializer_list<std::string_view>{"UPDATE.VER", "a b.zip",
                                                                         "..hidden", "x..y", "1:2"})
        EXPECT_FALSE(isUnsafeEntryName(name)) << name;
    EXPECT_TRUE(parsed("-rw-r--r-- 1 a b 1 Jan 1 2020 ..").isUnsafe());
    EXPECT_TRUE(parsed("01-01-20  01:00AM  2 dir\\evil").isUnsafe());
}

}  // namespace
}  // namespace tavrel::ftpclient
