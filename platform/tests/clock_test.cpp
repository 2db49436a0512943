#include "platform/clock.h"

#include <gtest/gtest.h>

#include <clocale>
#include <locale>

namespace tavrel::platform {
namespace {

const DateTime kMonday{2026, 12, 7, 9, 5, 3};

TEST(DateTexts, SystemPatternsLookAsTheLogsExpect) {
    EXPECT_EQ(formatDateTime(kMonday, kDayPattern), "20261207");
    EXPECT_EQ(formatDateTime(kMonday, kTimeOfDayPattern), "09:05");
    EXPECT_EQ(formatDateTime(kMonday, kDisplayPattern), "07 Dec 2026 09:05:03");
    EXPECT_EQ(formatDateTime(kMonday, kCompactPattern), "20261207090503");
    EXPECT_EQ(formatDateTime(kMonday, kOperationLogPattern), "Mon 07 Dec 2026 09:05:03 ");
    EXPECT_EQ(formatDateTime(kMonday, kNowTextPattern), "Mon 07 Dec 2026 - 09:05:03");
}

TEST(DateTexts, NamesStayEnglishWhateverTheLocale) {
    // Whatever locale the machine offers, the texts do not follow it.
    const char* names[] = {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8", "C"};
    for (const char* name : names) {
        if (!std::setlocale(LC_ALL, name)) continue;
        EXPECT_EQ(formatDateTime(DateTime{2027, 3, 14, 23, 59, 59}, kNowTextPattern),
                  "Sun 14 Mar 2027 - 23:59:59")
            << name;
    }
    std::setlocale(LC_ALL, "C");
}

TEST(DateTexts, EveryMonthAndWeekdayName) {
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int m = 1; m <= 12; ++m) {
        EXPECT_EQ(formatDateTime(DateTime{2025, m, 1}, "mmm"), months[m - 1]);
    }
    // 2024-01-01 was a Monday.
    const char* days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    for (int d = 0; d < 7; ++d) {
        EXPECT_EQ(formatDateTime(DateTime{2024, 1, 1 + d}, "ddd"), days[d]);
    }
    EXPECT_EQ(formatDateTime(DateTime{2024, 1, 1}, "dddd d mmmm yy"), "Monday 1 January 24");
}

TEST(DateTexts, MinutesAfterAnHourAndLiteralCharacters) {
    EXPECT_EQ(formatDateTime(kMonday, "hh:mm"), "09:05");
    EXPECT_EQ(formatDateTime(kMonday, "mm/dd"), "12/07");
    EXPECT_EQ(formatDateTime(kMonday, "h:n:s - x"), "9:5:3 - x");
}

TEST(DateTime, ArithmeticCrossesDaysMonthsYearsAndLeapDays) {
    EXPECT_EQ((DateTime{2026, 12, 31, 23, 50, 0}.plusMinutes(30)),
              (DateTime{2027, 1, 1, 0, 20, 0}));
    EXPECT_EQ((DateTime{2024, 2, 28, 23, 0, 0}.plusMinutes(60)), (DateTime{2024, 2, 29, 0, 0, 0}));
    EXPECT_EQ((DateTime{2023, 2, 28, 23, 0, 0}.plusMinutes(60)), (DateTime{2023, 3, 1, 0, 0, 0}));
    EXPECT_EQ((DateTime{2026, 1, 1, 0, 0, 0}.plusSeconds(-1)),
              (DateTime{2025, 12, 31, 23, 59, 59}));
    EXPECT_EQ((DateTime{1969, 12, 31, 23, 0, 0}.weekday()), 3);  // a Wednesday
    EXPECT_LT((DateTime{2026, 1, 1, 10, 0, 0}), (DateTime{2026, 1, 1, 10, 0, 1}));
}

TEST(Clock, FixedClockMovesOnlyWhenTold) {
    FixedClock clock(kMonday);
    EXPECT_EQ(clock.now(), kMonday);
    clock.advanceMinutes(15);
    EXPECT_EQ(formatDateTime(clock.now(), kTimeOfDayPattern), "09:20");
    SystemClock system;
    DateTime now = system.now();
    EXPECT_GE(now.year, 2020);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12);
}

}  // namespace
}  // namespace tavrel::platform
