#include "components/kes04/index/key_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace tavrel::kes04::cdx {
namespace {

std::string hex(const std::string& s) {
    static const char* d = "0123456789ABCDEF";
    std::string r;
    for (unsigned char c : s) {
        r += d[c >> 4];
        r += d[c & 15];
    }
    return r;
}

Value num(double v) {
    Value x;
    x.type = ValueType::Numeric;
    x.number = v;
    return x;
}

TEST(KeyEncoding, NumbersUseFoxProsSortableDoubleBytes) {
    EXPECT_EQ(hex(encodeKey(num(0), 8)), "8000000000000000");
    EXPECT_EQ(hex(encodeKey(num(-0.0), 8)), "8000000000000000");
    EXPECT_EQ(hex(encodeKey(num(1), 8)), "BFF0000000000000");
    EXPECT_EQ(hex(encodeKey(num(-1), 8)), "400FFFFFFFFFFFFF");
    EXPECT_EQ(hex(encodeKey(num(45.4), 8)), "C046B33333333333");
}

TEST(KeyEncoding, DatesAreJulianDaysEncodedAsNumbers) {
    Value d;
    d.type = ValueType::Date;
    d.number = double(julianFromText("19600212"));
    EXPECT_EQ(encodeKey(d, 8), encodeKey(num(2436977), 8));
    EXPECT_EQ(seekKeyFromText("19600212", ValueType::Date, 8), encodeKey(d, 8));
    EXPECT_EQ(keyToText(encodeKey(d, 8), ValueType::Date), "19600212");
}

TEST(KeyEncoding, EncodedNumbersSortLikeTheNumbers) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> dist(-1e9, 1e9);
    std::vector<double> values = {0, -0.0, 1e-300, -1e-300, 1e300, -1e300};
    for (int i = 0; i < 2000; ++i) values.push_back(std::round(dist(rng) * 100) / 100);
    std::vector<std::string> keys;
    for (double v : values) keys.push_back(encodeKey(num(v), 8));
    for (size_t i = 0; i < values.size(); ++i)
        for (size_t j = i + 1; j < std::min(values.size(), i + 40); ++j) {
            EXPECT_EQ(values[i] < values[j], keys[i] < keys[j]) << values[i] << " " << values[j];
            EXPECT_DOUBLE_EQ(decodeDouble(reinterpret_cast<const uint8_t*>(keys[i].data())),
                             values[i] == 0 ? 0.0 : values[i]);
        }
}

TEST(KeyEncoding, CharacterKeysArePaddedOrCut) {
    Value t;
    t.text = "abc";
    EXPECT_EQ(encodeKey(t, 5), "abc  ");
    t.text = "abcdefg";
    EXPECT_EQ(encodeKey(t, 5), "abcde");
    EXPECT_EQ(seekKeyFromText("ab", ValueType::Character, 5), "ab");
    EXPECT_EQ(seekKeyFromText("abcdefgh", ValueType::Character, 5), "abcde");
}

TEST(KeyEncoding, SeekTextForOtherTypes) {
    EXPECT_EQ(seekKeyFromText("33.7", ValueType::Numeric, 8), encodeKey(num(33.7), 8));
    EXPECT_EQ(seekKeyFromText(" -2", ValueType::Numeric, 8), encodeKey(num(-2), 8));
    EXPECT_EQ(seekKeyFromText("T", ValueType::Logical, 1), "T");
    EXPECT_EQ(seekKeyFromText("n", ValueType::Logical, 1), "F");
    EXPECT_EQ(keyToText(encodeKey(num(12.5), 8), ValueType::Numeric), "12.5");
}

}  // namespace
}  // namespace tavrel::kes04::cdx
