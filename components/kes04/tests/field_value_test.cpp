#include "components/kes04/field_value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "components/kes04/dbf_format.h"
#include "components/kes04/engine_codes.h"

namespace tavrel::kes04 {
namespace {

FieldLayout field(char type, uint32_t length, uint8_t decimals = 0) {
    FieldLayout f;
    f.name = "F";
    f.type = type;
    f.offset = 1;
    f.length = length;
    f.decimals = decimals;
    return f;
}

// Assigns `text` to a field of a fresh record and gives the stored bytes.
std::string stored(const FieldLayout& f, std::string_view text, int* rc = nullptr) {
    std::vector<uint8_t> record(1 + f.length, '#');
    int result = assignText(f, record.data(), text);
    if (rc) *rc = result;
    return std::string(record.begin() + 1, record.end());
}

TEST(NumericAssignment, RightAlignsWithTheFieldsDecimals) {
    EXPECT_EQ(stored(field('N', 6, 2), "12.5"), " 12.50");
    EXPECT_EQ(stored(field('N', 6, 2), "-3"), " -3.00");
    EXPECT_EQ(stored(field('N', 5, 0), "42"), "   42");
    EXPECT_EQ(stored(field('F', 8, 3), "  +7.25  "), "   7.250");
    EXPECT_EQ(stored(field('N', 10, 0), "1e3"), "      1000");
}

TEST(NumericAssignment, RoundsHalfAwayFromZeroInDecimalNotBinary) {
    EXPECT_EQ(stored(field('N', 6, 2), "2.675"), "  2.68");  // 2.675 is 2.67499.. as a double
    EXPECT_EQ(stored(field('N', 6, 2), "-2.675"), " -2.68");
    EXPECT_EQ(stored(field('N', 4, 0), "9.5"), "  10");
    EXPECT_EQ(stored(field('N', 6, 1), "99.96"), " 100.0");
    EXPECT_EQ(stored(field('N', 5, 2), "-0.001"), " 0.00");  // no negative zero
}

TEST(NumericAssignment, TooWideValuesBecomeAsterisks) {
    EXPECT_EQ(stored(field('N', 4, 0), "12345"), "****");
    EXPECT_EQ(stored(field('N', 6, 2), "1000"), "******");
    EXPECT_EQ(stored(field('N', 3, 0), "-999"), "***");
    EXPECT_EQ(stored(field('N', 3, 0), "999"), "999");
    // A leading zero is dropped before giving up, as FoxPro shows ".50".
    EXPECT_EQ(stored(field('N', 3, 2), "0.5"), ".50");
    EXPECT_EQ(stored(field('N', 20, 0), "123456789012345678901"), std::string(20, '*'));
    EXPECT_EQ(stored(field('N', 20, 0), "12345678901234567890"), "12345678901234567890");
}

TEST(NumericAssignment, BlankAndGarbageTextFollowVal) {
    EXPECT_EQ(stored(field('N', 5, 1), ""), "     ");
    EXPECT_EQ(stored(field('N', 5, 1), "   "), "     ");
    EXPECT_EQ(stored(field('N', 5, 1), "abc"), "  0.0");
    EXPECT_EQ(stored(field('N', 5, 1), "12abc"), " 12.0");
    EXPECT_EQ(stored(field('N', 5, 0), "1e999999"), "*****");
    EXPECT_EQ(stored(field('N', 5, 2), "1e-999999"), " 0.00");
}

TEST(NumericAssignment, TextAlreadyInStoredFormGivesWhatFormattingGives) {
    // A value copied from a table of the same structure is taken as it
    // stands; every text must still be stored as formatting stores it.
    const std::vector<std::string> texts = {
        "0",     "0.00",  "-0.00", "-0",  "00.50", "0.5",   "12.50",  "-12.50", "12.5",
        "12.",   ".50",   "-.50",  "1e2", "+3.00", "3.001", "999.99", "-99.99", "1234567.89",
        "12,50", "12.5x", "-",     "--1", "0.25",  " 7.25", "7.25 ",  "0000",   "10"};
    for (const auto& [width, decimals] : std::vector<std::pair<uint32_t, uint8_t>>{
             {6, 2}, {4, 2}, {3, 2}, {5, 0}, {10, 2}, {2, 0}}) {
        for (const std::string& text : texts) {
            bool blank = false;
            EXPECT_EQ(stored(field('N', width, decimals), text),
                      formatNumber(text, width, decimals, &blank))
                << "'" << text << "' in N(" << width << "," << int(decimals) << ")";
        }
    }
    EXPECT_EQ(stored(field('N', 12, 2), "-500.25"), "     -500.25");
    EXPECT_EQ(stored(field('N', 4, 2), "0.25"), "0.25");
}

TEST(DateAndLogicalAssignment, AcceptOnlyWhatTheTypeCanHold) {
    int rc = 0;
    EXPECT_EQ(stored(field('D', 8), "20240229", &rc), "20240229");
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(stored(field('D', 8), ""), "        ");
    EXPECT_EQ(stored(field('D', 8), "20230229", &rc), "########");  // not a leap year: untouched
    EXPECT_EQ(rc, code(EngineCode::kErrValue));
    stored(field('D', 8), "2023-1-1", &rc);
    EXPECT_EQ(rc, code(EngineCode::kErrValue));
    EXPECT_EQ(stored(field('L', 1), "y"), "T");
    EXPECT_EQ(stored(field('L', 1), ".F."), "F");
    EXPECT_EQ(stored(field('L', 1), "N"), "F");
    EXPECT_EQ(stored(field('L', 1), "?"), "?");
    EXPECT_EQ(stored(field('L', 1), ""), " ");
    stored(field('L', 1), "X", &rc);
    EXPECT_EQ(rc, code(EngineCode::kErrValue));
}

TEST(CharacterAssignment, PadsOrCutsAndKeepsEveryByte) {
    EXPECT_EQ(stored(field('C', 5), "ab"), "ab   ");
    EXPECT_EQ(stored(field('C', 3), "abcdef"), "abc");
    EXPECT_EQ(stored(field('C', 3), std::string_view("\xE9\0\xFF", 3)),
              std::string("\xE9\0\xFF", 3));
}

TEST(DisplayText, ShowsEachTypeAsAPersonReadsIt) {
    auto show = [](const FieldLayout& f, std::string bytes) {
        bytes.insert(bytes.begin(), ' ');
        return displayText(f, reinterpret_cast<const uint8_t*>(bytes.data()));
    };
    EXPECT_EQ(show(field('C', 5), "ab   "), "ab");
    EXPECT_EQ(show(field('N', 6, 2), " 12.50"), "12.50");
    EXPECT_EQ(show(field('D', 8), "        "), "");
    EXPECT_EQ(show(field('L', 1), "y"), "T");
    EXPECT_EQ(show(field('L', 1), "?"), "F");
    EXPECT_EQ(show(field('I', 4), std::string("\xFE\xFF\xFF\xFF", 4)), "-2");
    EXPECT_EQ(show(field('Y', 8), std::string("\x39\x30\0\0\0\0\0\0", 8)), "1.2345");
    EXPECT_EQ(show(field('Y', 8), std::string("\xC7\xCF\xFF\xFF\xFF\xFF\xFF\xFF", 8)), "-1.2345");
    // DateTime: JDN 2451545 (2000-01-01), 13:14:15.
    std::string t(8, '\0');
    platform::storeLE32(reinterpret_cast<uint8_t*>(t.data()), 2451545);
    platform::storeLE32(reinterpret_cast<uint8_t*>(t.data()) + 4,
                        (13 * 3600 + 14 * 60 + 15) * 1000);
    EXPECT_EQ(show(field('T', 8), t), "20000101131415");
    EXPECT_EQ(show(field('T', 8), std::string(8, '\0')), "");
}

TEST(DisplayText, BinaryTypesRoundTripThroughAssignment) {
    for (auto [f, text] : {std::pair{field('I', 4), "-2147483648"},
                           {field('I', 4), "2147483647"},
                           {field('Y', 8), "-922337203685.4775"},
                           {field('B', 8, 2), "3.25"},
                           {field('T', 8), "19991231235959"}}) {
        std::vector<uint8_t> record(1 + f.length, 0);
        ASSERT_EQ(assignText(f, record.data(), text), 0) << text;
        EXPECT_EQ(displayText(f, record.data()), text);
    }
    std::vector<uint8_t> record(5, 0);
    EXPECT_EQ(assignText(field('I', 4), record.data(), "2147483648"), code(EngineCode::kErrValue));
}

TEST(JulianDays, MatchTheFoxProConstant) {
    EXPECT_EQ(julianDay(2000, 1, 1), 2451545);
    EXPECT_EQ(julianDay(1960, 2, 12), 2436977);
    EXPECT_EQ(julianDay(1, 1, 1), 1721426);
    int y, m, d;
    civilFromJulianDay(2436977, &y, &m, &d);
    EXPECT_EQ(y * 10000 + m * 100 + d, 19600212);
}

TEST(MemoPointers, ReadBothWidthsAndRejectJunk) {
    FieldLayout ten = field('M', 10), four = field('M', 4);
    std::vector<uint8_t> record(11, ' ');
    storeMemoBlock(ten, record.data(), 1234);
    EXPECT_EQ(std::string(record.begin() + 1, record.end()), "      1234");
    uint32_t block = 0;
    ASSERT_TRUE(memoBlock(ten, record.data(), &block));
    EXPECT_EQ(block, 1234u);
    storeMemoBlock(ten, record.data(), 0);
    ASSERT_TRUE(memoBlock(ten, record.data(), &block));
    EXPECT_EQ(block, 0u);
    std::memcpy(record.data() + 1, "  12x4    ", 10);
    EXPECT_FALSE(memoBlock(ten, record.data(), &block));
    std::memcpy(record.data() + 1, "9999999999", 10);
    EXPECT_FALSE(memoBlock(ten, record.data(), &block));  // beyond 32 bits
    storeMemoBlock(four, record.data(), 0x01020304);
    ASSERT_TRUE(memoBlock(four, record.data(), &block));
    EXPECT_EQ(block, 0x01020304u);
}

TEST(CreateLayout, RefusesWhatFoxProCannotHold) {
    RecordLayout layout;
    std::string detail;
    std::vector<FieldSpec> ok = {
        {"name", 'C', 20, 0}, {"amount", 'N', 10, 2}, {"d", 'D', 0, 0}, {"notes", 'M', 0, 0}};
    ASSERT_EQ(layoutForCreate(ok, &layout, &detail), 0) << detail;
    EXPECT_EQ(layout.recordLength, 1u + 20 + 10 + 8 + 10);
    EXPECT_EQ(layout.version, 0xF5);
    EXPECT_EQ(layout.fields[0].name, "NAME");
    EXPECT_EQ(layout.fields[3].offset, 39u);
    auto bad = [&](FieldSpec def) {
        std::vector<FieldSpec> one = {def};
        return layoutForCreate(one, &layout, &detail);
    };
    EXPECT_EQ(bad({"TOOLONGNAME", 'C', 1, 0}), code(EngineCode::kErrFieldName));
    EXPECT_EQ(bad({"1ST", 'C', 1, 0}), code(EngineCode::kErrFieldName));
    EXPECT_EQ(bad({"", 'C', 1, 0}), code(EngineCode::kErrFieldName));
    EXPECT_EQ(bad({"C", 'C', 255, 0}), code(EngineCode::kErrFieldType));
    EXPECT_EQ(bad({"N", 'N', 21, 0}), code(EngineCode::kErrFieldType));
    EXPECT_EQ(bad({"N", 'N', 4, 3}), code(EngineCode::kErrFieldType));
    EXPECT_EQ(bad({"X", 'X', 4, 0}), code(EngineCode::kErrFieldType));
    std::vector<FieldSpec> twice = {{"A", 'C', 1, 0}, {"a", 'C', 1, 0}};
    EXPECT_EQ(layoutForCreate(twice, &layout, &detail), code(EngineCode::kErrFieldName));
}

}  // namespace
}  // namespace tavrel::kes04
