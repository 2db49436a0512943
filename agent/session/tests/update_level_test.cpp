#include "agent/session/update_level.h"

#include <gtest/gtest.h>

#include <string>

namespace tavrel::session {
namespace {

TEST(UpdateLevel, NewerMeansGreaterNumberWithinOnePrefix) {
    EXPECT_TRUE(isNewerLevel("TAVREL0124", "TAVREL0123"));
    EXPECT_TRUE(isNewerLevel("UPDATE0011", "UPDATE0009"));
    EXPECT_FALSE(isNewerLevel("TAVREL0123", "TAVREL0123"));
    EXPECT_FALSE(isNewerLevel("TAVREL0099", "TAVREL0100"));
    EXPECT_FALSE(isNewerLevel("UPDATE0000", "UPDATE0000"));
}

TEST(UpdateLevel, ComparisonIsOrdinalAndCaseSensitive) {
    // Lower-case letters have greater codes than upper-case ones.
    EXPECT_TRUE(isNewerLevel("tavrel0001", "TAVREL9999"));
    EXPECT_EQ(compareLevels("TAVREL0001", "TAVREL0001"), std::strong_ordering::equal);
    EXPECT_EQ(compareLevels("TAVREL0001", "TAVREL00010"), std::strong_ordering::less);
    // Bytes above 127 order after ASCII, as a byte-wise comparison does.
    EXPECT_TRUE(isNewerLevel(std::string("TAVREL012\xe9"), "TAVREL0129"));
}

TEST(UpdateLevel, NumberIsCharactersSevenToTen) {
    EXPECT_EQ(levelNumber("UPDATE0011"), "0011");
    EXPECT_EQ(levelNumber("UPDATE0011XYZ"), "0011");
    EXPECT_EQ(levelNumber("UPDATE01"), "01");
    EXPECT_EQ(levelNumber("UPDATE"), "");
    EXPECT_EQ(levelNumber(""), "");
}

}  // namespace
}  // namespace tavrel::session
