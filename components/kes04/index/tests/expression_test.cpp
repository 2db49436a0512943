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

TEST_F(ExpressionTest, OperatorsBindLoosestToTightest) {
    // .OR. < .AND. < .NOT. < comparisons < + - < * / < signs.
    EXPECT_TRUE(logical(".T. .OR. .F. .AND. .F."));
    EXPECT_TRUE(logical(".F. .AND. .F. .OR. .T."));
    EXPECT_FALSE(logical(".NOT. .T. .AND. .F."));
    EXPECT_TRUE(logical(".NOT. .T. .OR. .T."));
    EXPECT_TRUE(logical(".NOT. 1 = 2"));
    EXPECT_FALSE(logical(".F. = .F. .AND. .F."));
    EXPECT_TRUE(logical("1 + 2 = 3"));
    EXPECT_TRUE(logical("NAME + CODE = 'Smith'"));
    EXPECT_TRUE(logical("2 * 3 = 6 .AND. 1 < 2 .OR. 5 = 6"));
    EXPECT_DOUBLE_EQ(number("2 + 3 * 4"), 14);
    EXPECT_DOUBLE_EQ(number("10 - 2 * 3"), 4);
    EXPECT_DOUBLE_EQ(number("2 * 3 + 4 / 2"), 8);
    EXPECT_DOUBLE_EQ(number("(2 + 3) * 4"), 20);
    EXPECT_DOUBLE_EQ(number("-2 * -3"), 6);
    EXPECT_DOUBLE_EQ(number("2 - -3"), 5);
    EXPECT_DOUBLE_EQ(number("--2"), 2);
    EXPECT_DOUBLE_EQ(number("+-2"), -2);
    EXPECT_DOUBLE_EQ(number("-(2 + 3) * 2"), -10);
}

TEST_F(ExpressionTest, SameLevelOperatorsGroupFromTheLeft) {
    EXPECT_DOUBLE_EQ(number("10 - 4 - 3"), 3);
    EXPECT_DOUBLE_EQ(number("10 - 4 + 3"), 9);
    EXPECT_DOUBLE_EQ(number("10 + 4 - 3"), 11);
    EXPECT_DOUBLE_EQ(number("12 / 2 / 3"), 2);
    EXPECT_DOUBLE_EQ(number("12 / 2 * 3"), 18);
    // (DAY - 1) - DAY: the days between two dates; DAY - (1 - DAY) would not type.
    EXPECT_DOUBLE_EQ(number("DAY - 1 - DAY"), -1);
    EXPECT_DOUBLE_EQ(number("DAY - DAY + 1"), 1);
    EXPECT_EQ(eval("1 + DAY - 1").type, ValueType::Date);
    EXPECT_EQ(text("DTOS(1 + DAY - 1)"), "20240131");
    // ('ab  ' - 'cd ') + 'e', not 'ab  ' - ('cd ' + 'e').
    EXPECT_EQ(text("'ab  ' - 'cd ' + 'e'"), "abcd   e");
    EXPECT_EQ(text("'ab  ' + 'cd ' - 'e'"), "ab  cde ");
    EXPECT_EQ(width("NAME + CODE - NOTE"), 90u);
}

TEST_F(ExpressionTest, LogicalOperatorsMix) {
    EXPECT_TRUE(logical(".NOT. .NOT. .T."));
    EXPECT_TRUE(logical("!.F. .AND. !.F."));
    EXPECT_TRUE(logical("! ! FLAG"));
    EXPECT_FALSE(logical(".NOT. (.T. .OR. .F.)"));
    EXPECT_TRUE(logical(".T. .AND. .F. .OR. .T. .AND. .T."));
    EXPECT_FALSE(logical(".T. .AND. (.F. .OR. .T.) .AND. .F."));
    EXPECT_TRUE(logical(".F. .OR. .F. .OR. .T."));
    EXPECT_FALSE(logical(".T. .AND. .T. .AND. .F."));
    EXPECT_TRUE(logical("flag .and. .not. deleted() .or. .f."));
    EXPECT_TRUE(logical(".NOT. FLAG .OR. NAME = 'Smi'"));
    EXPECT_FALSE(logical(".NOT. (FLAG .AND. AMOUNT < 0)"));
    EXPECT_TRUE(logical(".Y. .AND. .NOT. .N."));
}

TEST_F(ExpressionTest, ComparisonsDoNotChain) {
    EXPECT_EQ(error("1 < 2 < 3"), ExprError::Syntax);
    EXPECT_EQ(error("1 = 1 = .T."), ExprError::Syntax);
    EXPECT_EQ(error("NAME = CODE = NOTE"), ExprError::Syntax);
    EXPECT_EQ(error("(1 = 1 = .T.)"), ExprError::Syntax);
    EXPECT_EQ(error("UPPER(NAME = CODE = NOTE)"), ExprError::Syntax);
    EXPECT_TRUE(logical("(1 < 2) = .T."));
    EXPECT_TRUE(logical(".T. == (1 < 2)"));
    EXPECT_TRUE(logical("1 < 2 .AND. 2 < 3"));
}

TEST_F(ExpressionTest, EachLevelRefusesItsOwnErrors) {
    // .OR. and .AND.
    EXPECT_EQ(error("FLAG .OR. NAME"), ExprError::TypeMismatch);
    EXPECT_EQ(error("1 .OR. FLAG"), ExprError::TypeMismatch);
    EXPECT_EQ(error("FLAG .AND. 1"), ExprError::TypeMismatch);
    EXPECT_EQ(error("FLAG .OR."), ExprError::Syntax);
    EXPECT_EQ(error(".OR. FLAG"), ExprError::Syntax);
    EXPECT_EQ(error("FLAG .AND."), ExprError::Syntax);
    EXPECT_EQ(error("FLAG .AND. .OR. FLAG"), ExprError::Syntax);
    // .NOT.
    EXPECT_EQ(error(".NOT. NAME"), ExprError::TypeMismatch);
    EXPECT_EQ(error("!AMOUNT"), ExprError::TypeMismatch);
    EXPECT_EQ(error(".NOT."), ExprError::Syntax);
    // Comparisons
    EXPECT_EQ(error("NAME = AMOUNT"), ExprError::TypeMismatch);
    EXPECT_EQ(error("DAY < AMOUNT"), ExprError::TypeMismatch);
    EXPECT_EQ(error("FLAG > .F."), ExprError::TypeMismatch);
    EXPECT_EQ(error("FLAG >= .F."), ExprError::TypeMismatch);
    EXPECT_EQ(error("FLAG <= .F."), ExprError::TypeMismatch);
    EXPECT_TRUE(logical("FLAG == .T. .AND. FLAG <> .F. .AND. FLAG # .F."));
    EXPECT_EQ(error("NAME ="), ExprError::Syntax);
    EXPECT_EQ(error("= NAME"), ExprError::Syntax);
    EXPECT_EQ(error("NAME < = CODE"), ExprError::Syntax);
    // + and -
    EXPECT_EQ(error("NAME - AMOUNT"), ExprError::TypeMismatch);
    EXPECT_EQ(error("AMOUNT - DAY"), ExprError::TypeMismatch);
    EXPECT_EQ(error("DAY + DAY"), ExprError::TypeMismatch);
    EXPECT_EQ(error("FLAG + FLAG"), ExprError::TypeMismatch);
    EXPECT_EQ(error("NAME -"), ExprError::Syntax);
    // * and /
    EXPECT_EQ(error("NAME * 2"), ExprError::TypeMismatch);
    EXPECT_EQ(error("AMOUNT / DAY"), ExprError::TypeMismatch);
    EXPECT_EQ(error("AMOUNT *"), ExprError::Syntax);
    EXPECT_EQ(error("* AMOUNT"), ExprError::Syntax);
    EXPECT_EQ(error("AMOUNT * / 2"), ExprError::Syntax);
    // Signs
    EXPECT_EQ(error("-NAME"), ExprError::TypeMismatch);
    EXPECT_EQ(error("+DAY"), ExprError::TypeMismatch);
    EXPECT_EQ(error("-"), ExprError::Syntax);
    // The first error found is the one reported.
    EXPECT_EQ(error("NAME + AMOUNT .AND. FOO(1)"), ExprError::TypeMismatch);
    EXPECT_EQ(error("FOO(1) + NAME + AMOUNT"), ExprError::UnknownFunction);
    EXPECT_EQ(error("FLAG .AND. NOSUCH"), ExprError::UnknownField);
}

TEST_F(ExpressionTest, TextTooWideForAKeyIsRefused) {
    RecordLayout l = sampleLayout();
    l.fields.push_back(FieldLayout{"WIDE", 'C', l.recordLength, 40000, 0});
    l.recordLength += 40000;
    ExprError err;
    EXPECT_NE(Expression::parse("WIDE + NAME", l, &err), nullptr);
    EXPECT_EQ(Expression::parse("WIDE + WIDE", l, &err), nullptr);
    EXPECT_EQ(err, ExprError::TooComplex);
    EXPECT_EQ(Expression::parse("NAME - WIDE - WIDE", l, &err), nullptr);
    EXPECT_EQ(err, ExprError::TooComplex);
}

TEST_F(ExpressionTest, NestingLimitsCountEveryLevel) {
    auto repeat = [](const std::string& s, int n) {
        std::string r;
        for (int i = 0; i < n; ++i) r += s;
        return r;
    };
    // Each parenthesis or function argument starts again at .OR., eight levels down.
    EXPECT_EQ(text(repeat("(", 8) + "NAME" + repeat(")", 8)), text("NAME"));
    EXPECT_EQ(error(repeat("(", 9) + "NAME" + repeat(")", 9)), ExprError::TooComplex);
    EXPECT_EQ(text(repeat("UPPER(", 8) + "NAME" + repeat(")", 8)), text("UPPER(NAME)"));
    EXPECT_EQ(error(repeat("UPPER(", 9) + "NAME" + repeat(")", 9)), ExprError::TooComplex);
    EXPECT_TRUE(logical(repeat(".NOT. ", 190) + ".T."));
    EXPECT_EQ(error(repeat(".NOT. ", 191) + ".T."), ExprError::TooComplex);
    EXPECT_DOUBLE_EQ(number(repeat("-", 505) + "1"), -1);
    EXPECT_EQ(error(repeat("-", 506) + "1"), ExprError::TooComplex);
    // Long chains on one level are no nesting.
    std::string sum = "1";
    for (int i = 0; i < 1000; ++i) sum += "+1";
    EXPECT_DOUBLE_EQ(number(sum), 1001);
}

TEST_F(ExpressionTest, InputsDifferOnlyInTheBytesTheExpressionReads) {
    const RecordLayout& l = records.layout();
    auto differsAt = [&](const std::string& expr, const char* field) {
        ExprError err;
        auto e = Expression::parse(expr, l, &err);
        EXPECT_NE(e, nullptr) << expr;
        if (!e) return false;
        std::vector<uint8_t> after = row;
        after[field ? l.find(field)->offset + l.find(field)->length - 1 : 0] ^= 1;
        return e->inputsDiffer(row, after);
    };
    EXPECT_TRUE(differsAt("UPPER(NAME) + CODE", "NAME"));
    EXPECT_TRUE(differsAt("UPPER(NAME) + CODE", "CODE"));
    EXPECT_FALSE(differsAt("UPPER(NAME) + CODE", "AMOUNT"));
    EXPECT_FALSE(differsAt("UPPER(NAME) + CODE", nullptr));
    EXPECT_TRUE(differsAt(".NOT. DELETED()", nullptr));
    EXPECT_FALSE(differsAt(".NOT. DELETED()", "NAME"));
    // Fields on the right of every operator level, and in an IIF branch not taken.
    EXPECT_TRUE(differsAt("FLAG .OR. AMOUNT > 0", "AMOUNT"));
    EXPECT_TRUE(differsAt(".T. .AND. .NOT. NOTE = 'x'", "NOTE"));
    EXPECT_TRUE(differsAt("DAY - 1 < DAY", "DAY"));
    EXPECT_TRUE(differsAt("1 * -AMOUNT", "AMOUNT"));
    EXPECT_TRUE(differsAt("IIF(.T., NAME, CODE)", "CODE"));
    EXPECT_FALSE(differsAt("IIF(.T., NAME, CODE)", "NOTE"));
    ExprError err;
    auto e = Expression::parse("NAME", l, &err);
    ASSERT_NE(e, nullptr);
    EXPECT_FALSE(e->inputsDiffer(row, row));
    std::vector<uint8_t> longer = row;
    longer.push_back(' ');
    EXPECT_TRUE(e->inputsDiffer(row, longer));
    std::vector<uint8_t> shortRow(5, ' ');
    EXPECT_TRUE(e->inputsDiffer(shortRow, shortRow));
}

TEST_F(ExpressionTest, MemoFieldsCannotBeKeys) {
    RecordLayout l = sampleLayout();
    l.fields.push_back(FieldLayout{"TEXT", 'M', l.recordLength, 10, 0});
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
    EXPECT_EQ(textFromJulian(1721426), "00010101");
    EXPECT_EQ(textFromJulian(1721425), "        ");
    EXPECT_EQ(textFromJulian(5373484), "99991231");
    EXPECT_EQ(textFromJulian(5373485), "        ");
    EXPECT_EQ(textFromJulian(2460004), "20230228");
    EXPECT_EQ(textFromJulian(2460370), "20240229");
    for (int64_t j = 2400000; j < 2500000; j += 997)
        EXPECT_EQ(julianFromText(textFromJulian(j)), j);
}

}  // namespace
}  // namespace tavrel::kes04::cdx
