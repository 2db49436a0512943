#include "agent/shell/switches.h"

#include <gtest/gtest.h>

namespace tavrel::agent {
namespace {

const platform::DateTime kNow{2026, 12, 7, 14, 10, 0};

RunState parse(const std::string& commandLine, platform::DateTime now = kNow) {
    RunState state;
    ParseSwitches(commandLine, now, state);
    return state;
}

TEST(Switches, StartFinishAndUnload) {
    RunState s = parse("/S2/F4/U");
    EXPECT_TRUE(s.scheduleMode);
    EXPECT_FALSE(s.nowMode);
    EXPECT_TRUE(s.unloadAfterRun);
    EXPECT_EQ(s.scheduleStart, "02:00");
    EXPECT_EQ(s.scheduleFinish, "04:00");
    EXPECT_EQ(s.restartSwitches, " /S2/F4/U");
}

TEST(Switches, NowAloneGivesAThirtyMinuteWindowAndABlankRestartText) {
    RunState s = parse("/N");
    EXPECT_TRUE(s.scheduleMode);
    EXPECT_TRUE(s.nowMode);
    EXPECT_EQ(s.scheduleStart, "14:10");
    EXPECT_EQ(s.scheduleFinish, "14:40");
    EXPECT_EQ(s.restartSwitches, " ");
}

TEST(Switches, ALoneStartOrFinishIsNotUsed) {
    RunState s = parse("/S2");
    EXPECT_FALSE(s.scheduleMode);
    EXPECT_EQ(s.restartSwitches, "");
    s = parse("/F4/U");
    EXPECT_FALSE(s.scheduleMode);
    EXPECT_TRUE(s.unloadAfterRun);
    EXPECT_EQ(s.restartSwitches, "");
}

TEST(Switches, RelativeTimesAndTheirDefaults) {
    RunState s = parse("/S+/F+");
    EXPECT_EQ(s.scheduleStart, "14:25");
    EXPECT_EQ(s.scheduleFinish, "14:40");
    s = parse("/S+1/F+3");
    EXPECT_EQ(s.scheduleStart, "15:10");
    EXPECT_EQ(s.scheduleFinish, "17:10");
    // Past midnight the finish is early in the day, compared as text.
    s = parse("/S+0/F+3", platform::DateTime{2026, 12, 7, 23, 0, 0});
    EXPECT_EQ(s.scheduleStart, "23:15");
    EXPECT_EQ(s.scheduleFinish, "02:00");
    s = parse("/S+-1/F+2");
    EXPECT_FALSE(s.scheduleMode);  // negative start ignored
}

TEST(Switches, IgnoredTimesAreStillPassedOnButUnknownSwitchesAreNot) {
    RunState s = parse("/S0/F4/X1/N");
    EXPECT_TRUE(s.scheduleMode);           // N set both
    EXPECT_EQ(s.scheduleStart, "14:10");   // S0 ignored, N's start stays
    EXPECT_EQ(s.scheduleFinish, "14:40");  // N came last
    EXPECT_EQ(s.restartSwitches, " /S0/F4");
}

TEST(Switches, LowerCaseBlanksAndWholeHoursWithoutUpperBound) {
    RunState s = parse("/s2 /f 4 /u");
    EXPECT_TRUE(s.scheduleMode);
    EXPECT_EQ(s.scheduleStart, "02:00");
    EXPECT_EQ(s.scheduleFinish, "04:00");
    EXPECT_TRUE(s.unloadAfterRun);
    EXPECT_EQ(s.restartSwitches, " /S2 /F 4 /U");
    s = parse("/S25/F2.5");
    EXPECT_EQ(s.scheduleStart, "25:00");
    EXPECT_EQ(s.scheduleFinish, "02:00");  // 2.5 rounds to the even 2
    s = parse("S3/F5");                    // the piece before the first slash counts too
    EXPECT_EQ(s.scheduleStart, "03:00");
    EXPECT_EQ(s.restartSwitches, " /S3/F5");
}

TEST(SwitchValue, ReadsLikeTheSystemReadsNumbers) {
    EXPECT_EQ(SwitchValue("12"), 12);
    EXPECT_EQ(SwitchValue(" 1 2 "), 12);
    EXPECT_EQ(SwitchValue("7abc"), 7);
    EXPECT_EQ(SwitchValue("abc"), 0);
    EXPECT_EQ(SwitchValue(""), 0);
    EXPECT_EQ(SwitchValue("-3"), -3);
    EXPECT_EQ(SwitchValue("3.5"), 4);
    EXPECT_EQ(SwitchValue("1e2"), 100);
    EXPECT_EQ(SwitchValue("1e999"), 0);  // not finite: unreadable
    EXPECT_EQ(SwitchValue("99999999999999999999"), 1000000000);
    EXPECT_EQ(SwitchValue("."), 0);
}

TEST(Switches, HugeRelativeHoursDoNotOverflow) {
    RunState s = parse("/S+99999999999/F+99999999999");
    EXPECT_TRUE(s.scheduleMode);
    EXPECT_EQ(s.scheduleStart.size(), 5u);
}

}  // namespace
}  // namespace tavrel::agent
