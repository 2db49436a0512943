// The parsed form of key and filter expressions (see expression.h), shared by
// the parser, which builds and types it, and the evaluator, which runs it over
// record bytes. Not part of the index library's interface.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "components/kes04/index/expression.h"

namespace tavrel::kes04::cdx {

enum class Op : uint8_t {
    Literal,
    Field,
    Deleted,
    Recno,
    Upper,
    Lower,
    Trim,
    Ltrim,
    Alltrim,
    Left,
    Right,
    Substr,
    Str,
    Val,
    Dtos,
    Dtoc,
    Iif,
    Descend,
    Add,
    Sub,
    Mul,
    Div,
    Neg,
    Eq,
    ExactEq,
    Ne,
    Lt,
    Gt,
    Le,
    Ge,
    And,
    Or,
    Not
};

// One operation with its operands in `args`. `type` and `width` are the
// result's, fixed by the parser. A literal's value is in `constant` (for a
// number also its written length and decimals in p1, p2), a field's definition
// in `field`; LEFT and RIGHT keep their width in p1, SUBSTR its start and
// length in p1 and p2, STR its length and decimals in p1 and p2.
struct Expression::Node {
    Op op = Op::Literal;
    ValueType type = ValueType::Character;
    uint32_t width = 0;
    std::vector<std::unique_ptr<Node>> args;
    Value constant;
    FieldLayout field;
    int p1 = 0;
    int p2 = 0;

    Value eval(const RecordView& r) const;
};

using NodePtr = std::unique_ptr<Expression::Node>;

}  // namespace tavrel::kes04::cdx
