// The parser of key and filter expressions. Loosest first:
//
//   expression     := or
//   or             := and { .OR. and }
//   and            := not { .AND. not }
//   not            := { .NOT. | ! } compare
//   compare        := additive [ (= | == | <> | # | != | < | > | <= | >=) additive ]
//   additive       := multiplicative { (+ | -) multiplicative }
//   multiplicative := unary { (* | /) unary }
//   unary          := { + | - } primary
//   primary        := number | text | .T. | .F. | ( expression ) | name
//   name           := field | alias -> field | alias . field
//                   | function ( [ expression { , expression } ] )
//
// Every node is typed as it is built, and the record bytes the expression
// reads are collected on the way.

#include <algorithm>

#include "components/kes04/index/expression.h"
#include "components/kes04/index/expression_tokens.h"
#include "components/kes04/index/expression_tree.h"
#include "platform/text_rules.h"

namespace tavrel::kes04::cdx {

namespace {

constexpr size_t kMaxExpressionText = 4096;
constexpr int kMaxDepth = 64;
constexpr uint32_t kMaxWidth = 65535;

NodePtr makeNode(Op op, ValueType type, uint32_t width) {
    auto n = std::make_unique<Expression::Node>();
    n->op = op;
    n->type = type;
    n->width = width;
    return n;
}

bool constantInt(const Expression::Node& n, int& out) {
    if (n.op == Op::Literal && n.type == ValueType::Numeric) {
        double v = n.constant.number;
        if (!(v > -1e6 && v < 1e6)) return false;
        out = static_cast<int>(v);
        return true;
    }
    if (n.op == Op::Neg && n.args[0]->op == Op::Literal && constantInt(*n.args[0], out)) {
        out = -out;
        return true;
    }
    return false;
}

// The binary operator levels, loosest first. The operands of a level are
// expressions of the next tighter one, except that .NOT. comes between .AND.
// and the comparisons, and the signs below '*' and '/' (see parseOperand).
enum class Level : uint8_t { Or, And, Compare, Additive, Multiplicative };

struct BinaryOperator {
    Level level;
    Tok token;
    Op op;
    const char* mismatch;  // the message when the operand types do not fit
};

constexpr BinaryOperator kBinaryOperators[] = {
    {Level::Or, Tok::Or, Op::Or, ".OR. needs logical operands"},
    {Level::And, Tok::And, Op::And, ".AND. needs logical operands"},
    {Level::Compare, Tok::Eq, Op::Eq, "comparison of different types"},
    {Level::Compare, Tok::EqEq, Op::ExactEq, "comparison of different types"},
    {Level::Compare, Tok::Ne, Op::Ne, "comparison of different types"},
    {Level::Compare, Tok::Lt, Op::Lt, "comparison of different types"},
    {Level::Compare, Tok::Gt, Op::Gt, "comparison of different types"},
    {Level::Compare, Tok::Le, Op::Le, "comparison of different types"},
    {Level::Compare, Tok::Ge, Op::Ge, "comparison of different types"},
    {Level::Additive, Tok::Plus, Op::Add, "'+' on mismatched types"},
    {Level::Additive, Tok::Minus, Op::Sub, "'-' on mismatched types"},
    {Level::Multiplicative, Tok::Star, Op::Mul, "'*' and '/' need numbers"},
    {Level::Multiplicative, Tok::Slash, Op::Div, "'*' and '/' need numbers"},
};

// The operator of `level` that `token` stands for, or null.
const BinaryOperator* binaryOperator(Level level, Tok token) {
    for (const BinaryOperator& b : kBinaryOperators)
        if (b.level == level && b.token == token) return &b;
    return nullptr;
}

class ExpressionParser {
  public:
    ExpressionParser(std::string_view text, const RecordLayout& layout)
        : m_text(text), m_layout(layout) {}

    NodePtr run() {
        std::string tokenError;
        if (!tokenize(m_text, m_tokens, tokenError))
            return fail(ExprError::Syntax, std::move(tokenError));
        if (m_tokens.size() == 1) return fail(ExprError::Empty, "empty expression");
        NodePtr n = parseExpression(0);
        if (!n) return nullptr;
        if (peek().kind != Tok::End)
            return fail(ExprError::Syntax, "unexpected text after the end");
        return n;
    }

    ExprError error = ExprError::None;
    std::string message;
    // Record bytes the parsed expression reads (see Expression::inputsDiffer).
    std::vector<std::pair<uint32_t, uint32_t>> reads;

  private:
    NodePtr fail(ExprError e, std::string msg) {
        if (error == ExprError::None) {
            error = e;
            message = std::move(msg);
        }
        return nullptr;
    }

    const Token& peek() const { return m_tokens[m_pos]; }
    Token take() { return m_tokens[m_pos < m_tokens.size() - 1 ? m_pos++ : m_pos]; }

    NodePtr parseExpression(int depth) { return parseBinary(Level::Or, depth); }
    NodePtr parseBinary(Level level, int depth);
    NodePtr parseOperand(Level level, int depth);
    NodePtr combine(const BinaryOperator& b, NodePtr left, NodePtr right);
    NodePtr parseNot(int depth);
    NodePtr parseUnary(int depth);
    NodePtr parsePrimary(int depth);
    NodePtr parseName(int depth);
    NodePtr makeField(const std::string& name);
    NodePtr makeFunction(const std::string& name, std::vector<NodePtr> args);

    std::string_view m_text;
    const RecordLayout& m_layout;
    std::vector<Token> m_tokens;
    size_t m_pos = 0;
};

// One binary operator level: operands joined left to right by the level's
// operators (a - b - c is (a - b) - c). A comparison takes one operator at
// most: in a = b = c the "= c" is left over. Every nesting, in parentheses or
// in function arguments, starts again at .OR., where it counts against the
// limit.
NodePtr ExpressionParser::parseBinary(Level level, int depth) {
    if (level == Level::Or && depth > kMaxDepth)
        return fail(ExprError::TooComplex, "expression nested too deeply");
    NodePtr left = parseOperand(level, depth + 1);
    while (left) {
        const BinaryOperator* b = binaryOperator(level, peek().kind);
        if (!b) break;
        take();
        NodePtr right = parseOperand(level, depth + 1);
        if (!right) return nullptr;
        left = combine(*b, std::move(left), std::move(right));
        if (level == Level::Compare) break;
    }
    return left;
}

NodePtr ExpressionParser::parseOperand(Level level, int depth) {
    switch (level) {
        case Level::Or:
            return parseBinary(Level::And, depth);
        case Level::And:
            return parseNot(depth);
        case Level::Compare:
            return parseBinary(Level::Additive, depth);
        case Level::Additive:
            return parseBinary(Level::Multiplicative, depth);
        case Level::Multiplicative:
            return parseUnary(depth);
    }
    return nullptr;
}

// The node for `left b right`, typed by the rules of b's level, or null (with
// the error) when the operand types do not fit.
NodePtr ExpressionParser::combine(const BinaryOperator& b, NodePtr left, NodePtr right) {
    const ValueType x = left->type, y = right->type;
    NodePtr n;
    switch (b.level) {
        case Level::Or:
        case Level::And:
            if (x == ValueType::Logical && y == ValueType::Logical)
                n = makeNode(b.op, ValueType::Logical, 1);
            break;
        case Level::Compare:
            if (x != y) break;
            if (x == ValueType::Logical && b.op != Op::Eq && b.op != Op::ExactEq && b.op != Op::Ne)
                return fail(ExprError::TypeMismatch, "logical values compare only for equality");
            n = makeNode(b.op, ValueType::Logical, 1);
            break;
        case Level::Additive:
            // Text joins text; a date moves by a number of days; two dates
            // subtract to the number of days between them.
            if (x == ValueType::Character && y == ValueType::Character) {
                const uint32_t w = left->width + right->width;
                if (w > kMaxWidth) return fail(ExprError::TooComplex, "text result too long");
                n = makeNode(b.op, ValueType::Character, w);
            } else if (x == ValueType::Numeric && y == ValueType::Numeric) {
                n = makeNode(b.op, ValueType::Numeric, 8);
            } else if (x == ValueType::Date && y == ValueType::Numeric) {
                n = makeNode(b.op, ValueType::Date, 8);
            } else if (b.op == Op::Add && x == ValueType::Numeric && y == ValueType::Date) {
                n = makeNode(Op::Add, ValueType::Date, 8);
            } else if (b.op == Op::Sub && x == ValueType::Date && y == ValueType::Date) {
                n = makeNode(Op::Sub, ValueType::Numeric, 8);
            }
            break;
        case Level::Multiplicative:
            if (x == ValueType::Numeric && y == ValueType::Numeric)
                n = makeNode(b.op, ValueType::Numeric, 8);
            break;
    }
    if (!n) return fail(ExprError::TypeMismatch, b.mismatch);
    n->args.push_back(std::move(left));
    n->args.push_back(std::move(right));
    return n;
}

NodePtr ExpressionParser::parseNot(int depth) {
    if (depth > kMaxDepth * 3) return fail(ExprError::TooComplex, "expression nested too deeply");
    if (peek().kind == Tok::Not) {
        take();
        NodePtr operand = parseNot(depth + 1);
        if (!operand) return nullptr;
        if (operand->type != ValueType::Logical)
            return fail(ExprError::TypeMismatch, ".NOT. needs a logical operand");
        NodePtr n = makeNode(Op::Not, ValueType::Logical, 1);
        n->args.push_back(std::move(operand));
        return n;
    }
    return parseBinary(Level::Compare, depth + 1);
}

NodePtr ExpressionParser::parseUnary(int depth) {
    if (depth > kMaxDepth * 8) return fail(ExprError::TooComplex, "expression nested too deeply");
    if (peek().kind == Tok::Minus || peek().kind == Tok::Plus) {
        const bool minus = take().kind == Tok::Minus;
        NodePtr operand = parseUnary(depth + 1);
        if (!operand) return nullptr;
        if (operand->type != ValueType::Numeric)
            return fail(ExprError::TypeMismatch, "sign before a non-number");
        if (!minus) return operand;
        NodePtr n = makeNode(Op::Neg, ValueType::Numeric, 8);
        n->args.push_back(std::move(operand));
        return n;
    }
    return parsePrimary(depth + 1);
}

NodePtr ExpressionParser::parsePrimary(int depth) {
    if (depth > kMaxDepth * 8) return fail(ExprError::TooComplex, "expression nested too deeply");
    Token tok = take();
    switch (tok.kind) {
        case Tok::Number: {
            NodePtr n = makeNode(Op::Literal, ValueType::Numeric, 8);
            n->constant.type = ValueType::Numeric;
            n->constant.number = tok.number;
            n->p1 = int(tok.text.size());
            const size_t dot = tok.text.find('.');
            n->p2 = dot == std::string::npos ? 0 : int(tok.text.size() - dot - 1);
            return n;
        }
        case Tok::String: {
            if (tok.text.size() > kMaxWidth) return fail(ExprError::TooComplex, "literal too long");
            NodePtr n = makeNode(Op::Literal, ValueType::Character, uint32_t(tok.text.size()));
            n->constant.type = ValueType::Character;
            n->constant.text = tok.text;
            return n;
        }
        case Tok::True:
        case Tok::False: {
            NodePtr n = makeNode(Op::Literal, ValueType::Logical, 1);
            n->constant.type = ValueType::Logical;
            n->constant.logical = tok.kind == Tok::True;
            return n;
        }
        case Tok::LParen: {
            NodePtr n = parseExpression(depth + 1);
            if (!n) return nullptr;
            if (take().kind != Tok::RParen) return fail(ExprError::Syntax, "missing ')'");
            return n;
        }
        case Tok::Name: {
            --m_pos;
            return parseName(depth);
        }
        case Tok::End:
            return fail(ExprError::Syntax, "expression ends too early");
        default:
            return fail(ExprError::Syntax, "unexpected operator");
    }
}

NodePtr ExpressionParser::parseName(int depth) {
    Token name = take();
    if (peek().kind == Tok::Alias) {
        take();
        Token field = take();
        if (field.kind != Tok::Name)
            return fail(ExprError::Syntax, "field name expected after alias");
        if (!m_layout.alias.empty() && !platform::sameTextIgnoringCase(name.text, m_layout.alias))
            return fail(ExprError::UnknownField, "unknown alias " + name.text);
        return makeField(field.text);
    }
    if (peek().kind != Tok::LParen) return makeField(name.text);
    take();
    std::vector<NodePtr> args;
    if (peek().kind != Tok::RParen) {
        for (;;) {
            NodePtr a = parseExpression(depth + 1);
            if (!a) return nullptr;
            args.push_back(std::move(a));
            if (peek().kind == Tok::Comma) {
                take();
                continue;
            }
            break;
        }
    }
    if (take().kind != Tok::RParen) return fail(ExprError::Syntax, "missing ')' after arguments");
    return makeFunction(platform::upperText(name.text), std::move(args));
}

NodePtr ExpressionParser::makeField(const std::string& name) {
    const FieldLayout* f = m_layout.find(name);
    if (!f) return fail(ExprError::UnknownField, "unknown field " + name);
    if (uint64_t(f->offset) + f->length > m_layout.recordLength || f->offset == 0)
        return fail(ExprError::UnknownField, "field " + name + " lies outside the record");
    NodePtr n;
    switch (f->type) {
        case 'C':
            n = makeNode(Op::Field, ValueType::Character, f->length);
            break;
        case 'N':
        case 'F':
        case 'I':
        case 'B':
        case 'Y':
            n = makeNode(Op::Field, ValueType::Numeric, 8);
            break;
        case 'D':
            n = makeNode(Op::Field, ValueType::Date, 8);
            break;
        case 'L':
            n = makeNode(Op::Field, ValueType::Logical, 1);
            break;
        default:
            return fail(ExprError::TypeMismatch, "field " + name + " cannot be in a key");
    }
    if ((f->type == 'I' && f->length != 4) ||
        ((f->type == 'B' || f->type == 'Y') && f->length != 8))
        return fail(ExprError::TypeMismatch, "field " + name + " has a bad width");
    n->field = *f;
    reads.emplace_back(f->offset, f->length);
    return n;
}

NodePtr ExpressionParser::makeFunction(const std::string& fn, std::vector<NodePtr> args) {
    auto count = [&](size_t lo, size_t hi) { return args.size() >= lo && args.size() <= hi; };
    auto argType = [&](size_t i, ValueType t) { return args[i]->type == t; };
    auto finish = [&](NodePtr n) {
        n->args = std::move(args);
        return n;
    };
    auto badCount = [&] {
        return fail(ExprError::ArgumentCount, "wrong argument count for " + fn);
    };
    auto badType = [&] { return fail(ExprError::TypeMismatch, "wrong argument type for " + fn); };

    struct Simple {
        const char* name;
        Op op;
    };
    static const Simple kText[] = {{"UPPER", Op::Upper}, {"LOWER", Op::Lower},
                                   {"TRIM", Op::Trim},   {"RTRIM", Op::Trim},
                                   {"LTRIM", Op::Ltrim}, {"ALLTRIM", Op::Alltrim}};
    for (const Simple& s : kText) {
        if (fn != s.name) continue;
        if (!count(1, 1)) return badCount();
        if (!argType(0, ValueType::Character)) return badType();
        const uint32_t w = args[0]->width;
        return finish(makeNode(s.op, ValueType::Character, w));
    }
    if (fn == "LEFT" || fn == "RIGHT") {
        if (!count(2, 2)) return badCount();
        if (!argType(0, ValueType::Character) || !argType(1, ValueType::Numeric)) return badType();
        int n;
        if (!constantInt(*args[1], n))
            return fail(ExprError::NotConstant, fn + " needs a literal width");
        n = std::clamp(n, 0, int(args[0]->width));
        NodePtr r =
            makeNode(fn == "LEFT" ? Op::Left : Op::Right, ValueType::Character, uint32_t(n));
        r->p1 = n;
        return finish(std::move(r));
    }
    if (fn == "SUBSTR") {
        if (!count(2, 3)) return badCount();
        if (!argType(0, ValueType::Character) || !argType(1, ValueType::Numeric) ||
            (args.size() == 3 && !argType(2, ValueType::Numeric)))
            return badType();
        int start, len;
        if (!constantInt(*args[1], start))
            return fail(ExprError::NotConstant, "SUBSTR needs a literal start");
        start = std::max(start, 1);
        const int avail = std::max(0, int(args[0]->width) - start + 1);
        if (args.size() == 3) {
            if (!constantInt(*args[2], len))
                return fail(ExprError::NotConstant, "SUBSTR needs a literal length");
            len = std::clamp(len, 0, avail);
        } else {
            len = avail;
        }
        NodePtr r = makeNode(Op::Substr, ValueType::Character, uint32_t(len));
        r->p1 = start;
        r->p2 = len;
        return finish(std::move(r));
    }
    if (fn == "STR") {
        if (!count(1, 3)) return badCount();
        if (!argType(0, ValueType::Numeric)) return badType();
        int len = 10, dec = 0;
        if (args.size() >= 2 && (!argType(1, ValueType::Numeric) || !constantInt(*args[1], len)))
            return fail(ExprError::NotConstant, "STR needs a literal length");
        if (args.size() == 3 && (!argType(2, ValueType::Numeric) || !constantInt(*args[2], dec)))
            return fail(ExprError::NotConstant, "STR needs literal decimals");
        len = std::clamp(len, 1, 255);
        dec = std::clamp(dec, 0, 18);
        NodePtr r = makeNode(Op::Str, ValueType::Character, uint32_t(len));
        r->p1 = len;
        r->p2 = dec;
        return finish(std::move(r));
    }
    if (fn == "VAL") {
        if (!count(1, 1)) return badCount();
        if (!argType(0, ValueType::Character)) return badType();
        return finish(makeNode(Op::Val, ValueType::Numeric, 8));
    }
    if (fn == "DTOS" || fn == "DTOC") {
        if (!count(1, 1)) return badCount();
        if (!argType(0, ValueType::Date)) return badType();
        return finish(makeNode(fn == "DTOS" ? Op::Dtos : Op::Dtoc, ValueType::Character, 8));
    }
    if (fn == "IIF") {
        if (!count(3, 3)) return badCount();
        if (!argType(0, ValueType::Logical) || args[1]->type != args[2]->type) return badType();
        const uint32_t w = std::max(args[1]->width, args[2]->width);
        return finish(makeNode(Op::Iif, args[1]->type, w));
    }
    if (fn == "DELETED" || fn == "RECNO") {
        if (!count(0, 0)) return badCount();
        if (fn == "DELETED") reads.emplace_back(0, 1);
        return fn == "DELETED" ? makeNode(Op::Deleted, ValueType::Logical, 1)
                               : makeNode(Op::Recno, ValueType::Numeric, 8);
    }
    if (fn == "DESCEND") {
        if (!count(1, 1)) return badCount();
        const ValueType t = args[0]->type == ValueType::Date ? ValueType::Numeric : args[0]->type;
        const uint32_t w = args[0]->width;
        return finish(makeNode(Op::Descend, t, w));
    }
    return fail(ExprError::UnknownFunction, "unknown function " + fn);
}

}  // namespace

Expression::Expression() = default;
Expression::~Expression() = default;

std::unique_ptr<Expression> Expression::parse(std::string_view text, const RecordLayout& layout,
                                              ExprError* error, std::string* message) {
    auto setError = [&](ExprError e, const std::string& m) {
        if (error) *error = e;
        if (message) *message = m;
    };
    if (text.size() > kMaxExpressionText) {
        setError(ExprError::TooComplex, "expression text too long");
        return nullptr;
    }
    ExpressionParser parser(text, layout);
    NodePtr root = parser.run();
    if (!root) {
        setError(parser.error == ExprError::None ? ExprError::Syntax : parser.error,
                 parser.message);
        return nullptr;
    }
    setError(ExprError::None, {});
    std::unique_ptr<Expression> e(new Expression());
    e->m_root = std::move(root);
    e->m_text = std::string(text);
    e->m_reads = std::move(parser.reads);
    return e;
}

}  // namespace tavrel::kes04::cdx
