#include "components/kes04/index/expression.h"

#include <gtest/gtest.h>

#include "components/kes04/index/tests/test_table.h"

namespace tavrel::kes04::cdx {
namespace {

using testing::Records;
using testing::sampleLayout;

class ExpressionTest : public ::testing::Test {
  protected:
    Records records{sampleLayout()};
    std::vector<uint8_t> row = records.make("Smith  ", "ab12", -12.5, "20240131", true);

    Value eval(const std::string& text, uint32_t recno = 7) {
        ExprError err;
        std::string msg;
        auto e = Expression::parse(text, records.layout(), &err, &msg);
        EXPECT_NE(e, nullptr) << text << ": " << msg;
        if (!e) return {};
        return e->evaluate(RecordView{row, recno});
    }
    std::string text(const std::string& expr) { return eval(expr).text; }
    double number(const std::string& expr) { return eval(expr).number; }
    bool logical(const std::string& expr) { return eval(expr).logical; }
    uint32_t width(const std::string& expr) {
        ExprError err;
        auto e = Expression::parse(expr, records.layout(), &err);
        return e ? e->width() : 0;
    }
    ExprError error(const std::string& expr) {
        ExprError err = ExprError::None;
        std::string msg;
        auto e = Expression::parse(expr, records.layout(), &err, &msg);
        EXPECT_EQ(e, nullptr) << expr;
        if (err != ExprError::None) {
            EXPECT_FALSE(msg.empty()) << expr;
        }
        return err;
    }
};

TEST_F(ExpressionTest, FieldsReadByTypeWithOrWithoutAlias) {
    EXPECT_EQ(text("NAME"), "Smith               ");
    EXPECT_EQ(text("people->name"), text("NAME"));
    EXPECT_EQ(text("People.Code"), "ab12      ");
    EXPECT_DOUBLE_EQ(number("AMOUNT"), -12.5);
    EXPECT_EQ(eval("DAY").type, ValueType::Date);
    EXPECT_DOUBLE_EQ(number("DAY"), double(julianFromText("20240131")));
    EXPECT_TRUE(logical("FLAG"));
    EXPECT_EQ(width("NAME"), 20u);
    EXPECT_EQ(width("AMOUNT"), 8u);
    EXPECT_EQ(width("FLAG"), 1u);
}

TEST_F(ExpressionTest, TextFunctionsKeepTheirDeclaredWidth) {
    EXPECT_EQ(text("UPPER(CODE)"), "AB12      ");
    EXPECT_EQ(text("LOWER(NAME)"), "smith               ");
    EXPECT_EQ(text("TRIM(NAME)"), "Smith");
    EXPECT_EQ(width("TRIM(NAME)"), 20u);
    EXPECT_EQ(text("RTRIM(NAME) + '|'"), "Smith|");
    EXPECT_EQ(text("LTRIM('  x ')"), "x ");
    EXPECT_EQ(text("ALLTRIM('  x ')"), "x");
    EXPECT_EQ(text("LEFT(NAME, 3)"), "Smi");
    EXPECT_EQ(width("LEFT(NAME, 3)"), 3u);
    EXPECT_EQ(text("RIGHT(CODE, 3)"), "   ");
    EXPECT_EQ(text("RIGHT(TRIM(CODE), 2)"), "12");
    EXPECT_EQ(text("SUBSTR(NAME, 2, 3)"), "mit");
    EXPECT_EQ(width("SUBSTR(NAME, 2)"), 19u);
    EXPECT_EQ(text("SUBSTR(NAME, 30, 3)"), "");
    EXPECT_EQ(width("NAME + CODE"), 30u);
}

TEST_F(ExpressionTest, NumbersDatesAndConversions) {
    EXPECT_EQ(text("STR(AMOUNT)"), "       -12");
    EXPECT_EQ(text("STR(AMOUNT, 8, 2)"), "  -12.50");
    EXPECT_EQ(text("STR(123456, 3)"), "***");
    EXPECT_DOUBLE_EQ(number("VAL('  42.5xyz')"), 42.5);
    EXPECT_DOUBLE_EQ(number("VAL('abc')"), 0);
    EXPECT_DOUBLE_EQ(number("AMOUNT * 2 + 1"), -24);
    EXPECT_DOUBLE_EQ(number("-AMOUNT / 5"), 2.5);
    EXPECT_DOUBLE_EQ(number("1 / 0"), 0);
    EXPECT_EQ(text("DTOS(DAY)"), "20240131");
    EXPECT_EQ(text("DTOC(DAY)"), "01/31/24");
    EXPECT_EQ(text("DTOS(DAY + 1)"), "20240201");
    EXPECT_DOUBLE_EQ(number("DAY - DAY"), 0);
    EXPECT_DOUBLE_EQ(number("RECNO()"), 7);
    EXPECT_FALSE(logical("DELETED()"));
    row[0] = '*';
    EXPECT_TRUE(logical("DELETED()"));
}

TEST_F(ExpressionTest, EmptyDateGivesBlankTexts) {
    row = records.make("x", "y", 0, "");
    EXPECT_EQ(text("DTOS(DAY)"), "        ");
    EXPECT_EQ(text("DTOC(DAY)"), "  /  /  ");
    EXPECT_DOUBLE_EQ(number("DAY"), 0);
}

TEST_F(ExpressionTest, ComparisonsFollowXbaseTextRules) {
    EXPECT_TRUE(logical("NAME = 'Smi'"));  // '=' compares up to the right side's length
    EXPECT_FALSE(logical("NAME == 'Smith'"));
    EXPECT_TRUE(logical("TRIM(NAME) == 'Smith'"));
    EXPECT_TRUE(logical("NAME <> 'Jones'"));
    EXPECT_TRUE(logical("NAME # 'Jones'"));
    EXPECT_TRUE(logical("NAME != 'Jones'"));
    EXPECT_FALSE(logical("NAME != 'Smith'"));
    EXPECT_TRUE(logical("NAME > 'Jones' .AND. NAME < 'Taylor'"));
    EXPECT_TRUE(logical("AMOUNT <= -12.5 .AND. AMOUNT >= -12.5"));
    EXPECT_TRUE(logical(".NOT. DELETED() .OR. .F."));
    EXPECT_TRUE(logical("!DELETED()"));
    EXPECT_TRUE(logical("FLAG = .T."));
    EXPECT_TRUE(logical("IIF(FLAG, 'yes', 'no') = 'yes'"));
    EXPECT_EQ(width("IIF(FLAG, 'yes', 'no')"), 3u);
    EXPECT_TRUE(logical("DAY > DAY - 1"));
}

TEST_F(ExpressionTest, MinusMovesTrailingBlanksToTheEnd) {
    EXPECT_EQ(text("'ab  ' - 'cd'"), "abcd  ");
    EXPECT_EQ(text("'ab  ' + 'cd'"), "ab  cd");
}

TEST_F(ExpressionTest, DescendReversesOrder) {
    const std::string a = eval("DESCEND('A')").text, b = eval("DESCEND('B')").text;
    EXPECT_GT(a, b);
    EXPECT_DOUBLE_EQ(number("DESCEND(AMOUNT)"), 12.5);
    EXPECT_EQ(eval("DESCEND(DAY)").type, ValueType::Numeric);
    EXPECT_FALSE(logical("DESCEND(FLAG)"));
}

TEST_F(ExpressionTest, RefusesWhatDoesNotParseOrFit) {
    EXPECT_EQ(error(""), ExprError::Empty);
    EXPECT_EQ(error("   "), ExprError::Empty);
    EXPECT_EQ(error("NAME +"), ExprError::Syntax);
    EXPECT_EQ(error("(NAME"), ExprError::Syntax);
    EXPECT_EQ(error("'open"), ExprError::Syntax);
    EXPECT_EQ(error("NAME $ CODE"), ExprError::Syntax);
    EXPECT_EQ(error("NAME CODE"), ExprError::Syntax);
    EXPECT_EQ(error("NOSUCH"), ExprError::UnknownField);
    EXPECT_EQ(error("OTHER->NAME"), ExprError::UnknownField);
    EXPECT_EQ(error("FOO(NAME)"), ExprError::UnknownFunction);
    EXPECT_EQ(error("NAME + AMOUNT"), ExprError::TypeMismatch);
    EXPECT_EQ(error("UPPER(AMOUNT)"), ExprError::TypeMismatch);
    EXPECT_EQ(error("NAME .AND. FLAG"), ExprError::TypeMismatch);
    EXPECT_EQ(error("FLAG < FLAG"), ExprError::TypeMismatch);
    EXPECT_EQ(error("UPPER(NAME, CODE)"), ExprError::ArgumentCount);
    EXPECT_EQ(error("LEFT(NAME, AMOUNT)"), ExprError::NotConstant);
    EXPECT_EQ(error("STR(AMOUNT, AMOUNT)"), ExprError::NotConstant);
    EXPECT_EQ(error(std::string(5000, '(') + "NAME" + std::string(5000, ')')),
              ExprError::TooComplex);
    EXPECT_EQ(error(std::string(300, '(') + "NAME" + std::string(300, ')')), ExprError::TooComplex);
}

TEST_F(ExpressionTest, MemoFieldsCannotBeKeys) {
    RecordLayout l = sampleLayout();
    l.fields.push_back(FieldDef{"TEXT", 'M', l.recordLength, 10, 0});
    l.recordLength += 10;
    ExprError err;
    EXPECT_EQ(Expression::parse("TEXT", l, &err), nullptr);
    EXPECT_EQ(err, ExprError::TypeMismatch);
}

TEST_F(ExpressionTest, ShortRecordBytesReadAsBlanks) {
    ExprError err;
    auto e = Expression::parse("NOTE", records.layout(), &err);
    ASSERT_NE(e, nullptr);
    std::vector<uint8_t> shortRow(5, 'x');
    EXPECT_EQ(e->evaluate(RecordView{shortRow, 1}).text, std::string(60, ' '));
}

TEST(DateText, JulianDaysRoundTrip) {
    EXPECT_EQ(julianFromText("20000101"), 2451545);
    EXPECT_EQ(julianFromText("19600212"), 2436977);
    EXPECT_EQ(julianFromText("        "), 0);
    EXPECT_EQ(julianFromText("20001301"), 0);
    EXPECT_EQ(textFromJulian(2451545), "20000101");
    EXPECT_EQ(textFromJulian(0), "        ");
    for (int64_t j = 2400000; j < 2500000; j += 997)
        EXPECT_EQ(julianFromText(textFromJulian(j)), j);
}

}  // namespace
}  // namespace tavrel::kes04::cdx
