// xBase key and filter expressions: parsing against a record layout and
// evaluation over record bytes.
//
// Supported: field names (optionally qualified with the table alias as
// "ALIAS->FIELD" or "ALIAS.FIELD"), string literals ('..', "..", [..]),
// numeric literals, .T./.F., `+` and `-` on text (concatenation; `-` moves the
// left side's trailing blanks to the end), numbers and dates, `*` and `/` on
// numbers, the functions UPPER, LOWER, TRIM, RTRIM, LTRIM, ALLTRIM, LEFT,
// RIGHT, SUBSTR, STR, VAL, DTOS, DTOC, IIF, DELETED, RECNO, DESCEND, the
// comparisons = == <> # != < > <= >= and .AND. .OR. .NOT. !.
//
// Every expression has a fixed result type and width, fixed when it is parsed:
// a character result is padded with blanks to that width when it becomes a key
// (LEFT(x, 3) is 3 wide, TRIM(x) as wide as x, a concatenation the sum).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "components/kes04/record_model.h"

namespace tavrel::kes04::cdx {

// One record to evaluate an expression on: the record bytes as the table
// stores them (byte 0 the deletion flag, ' ' live or '*' deleted) and the
// record number. `bytes` must hold at least the layout's record length;
// shorter buffers read as blanks past their end.
struct RecordView {
    std::span<const uint8_t> bytes;
    uint32_t recno = 0;
    bool deleted() const { return !bytes.empty() && bytes[0] == '*'; }
};

enum class ValueType : uint8_t {
    Character = 0,  // text, `text`
    Numeric = 1,    // `number`
    Date = 2,       // Julian day number in `number`; 0 is the empty date
    Logical = 3,    // `logical`
};

struct Value {
    ValueType type = ValueType::Character;
    std::string text;
    double number = 0;
    bool logical = false;
};

// Why an expression was refused. Values are stable; the engine maps them onto
// its own error codes.
enum class ExprError : int {
    None = 0,
    Syntax = 1,           // unexpected character or token, missing parenthesis
    UnknownField = 2,     // a name that is neither a field nor a function
    UnknownFunction = 3,  // a name followed by '(' that is no known function
    TypeMismatch = 4,     // operand or argument of the wrong type
    ArgumentCount = 5,    // wrong number of function arguments
    NotConstant = 6,      // a width argument (LEFT, SUBSTR, STR) that is not a literal
    TooComplex = 7,       // nesting or length beyond the evaluator's limits
    Empty = 8,            // blank expression text
};

class Expression {
  public:
    // Parses `text` against `layout`. Returns null and sets `*error` (and a
    // readable `*message` when given) when it cannot be parsed or does not fit
    // the layout. The layout is copied where needed; it need not outlive the
    // expression.
    static std::unique_ptr<Expression> parse(std::string_view text, const RecordLayout& layout,
                                             ExprError* error, std::string* message = nullptr);
    ~Expression();
    Expression(const Expression&) = delete;
    Expression& operator=(const Expression&) = delete;

    ValueType type() const;
    // Result width: for character results the padded width; 8 for numbers and
    // dates; 1 for logicals.
    uint32_t width() const;
    // The expression as it was given.
    const std::string& text() const { return m_text; }

    Value evaluate(const RecordView& record) const;
    // For filters: the logical result (a non-logical expression is false).
    bool isTrue(const RecordView& record) const;
    // Whether the two images of one record differ in a byte the expression
    // reads (its fields, and the deletion flag for DELETED()). When they do
    // not, the expression has the same value for both.
    bool inputsDiffer(std::span<const uint8_t> before, std::span<const uint8_t> after) const;
    // The byte ranges of the record the expression reads, as offset and length.
    const std::vector<std::pair<uint32_t, uint32_t>>& reads() const { return m_reads; }

    // The parsed tree; opaque outside the evaluator.
    struct Node;

  private:
    Expression();
    std::unique_ptr<Node> m_root;
    std::string m_text;
    // The byte ranges of the record the expression reads, as offset and length.
    std::vector<std::pair<uint32_t, uint32_t>> m_reads;
};

// Date helpers shared with key encoding: "YYYYMMDD" to a Julian day number (0
// for blank or invalid text) and back (blank for 0).
int64_t julianFromText(std::string_view yyyymmdd);
std::string textFromJulian(int64_t julian);
// Parses leading blanks, an optional sign and a decimal number as xBase VAL()
// does; 0 when there is none.
double numberFromText(std::string_view text);

}  // namespace tavrel::kes04::cdx
