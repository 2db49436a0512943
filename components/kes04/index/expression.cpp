#include "components/kes04/index/expression.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/byte_order.h"

namespace tavrel::kes04::cdx {

namespace {

constexpr size_t kMaxExpressionText = 4096;
constexpr int kMaxDepth = 64;
constexpr uint32_t kMaxWidth = 65535;

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
bool isNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string upperText(std::string_view s) {
    std::string r(s);
    for (char& c : r) c = upperAscii(c);
    return r;
}

int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

constexpr int64_t kUnixEpochJulian = 2440588;  // 1970-01-01

std::string formatNumber(double v, int len, int dec) {
    if (len <= 0) return {};
    if (dec < 0) dec = 0;
    if (dec > 0 && dec >= len - 1) dec = std::max(0, len - 2);
    if (!std::isfinite(v)) return std::string(size_t(len), '*');
    char buf[400];
    int n = std::snprintf(buf, sizeof buf, "%*.*f", len, dec, v);
    if (n < 0 || n > len) return std::string(size_t(len), '*');
    return std::string(buf, size_t(n));
}

}  // namespace

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upperAscii(a[i]) != upperAscii(b[i])) return false;
    return true;
}

const FieldDef* RecordLayout::find(std::string_view name) const {
    for (const FieldDef& f : fields)
        if (sameName(f.name, name)) return &f;
    return nullptr;
}

int64_t julianFromText(std::string_view t) {
    if (t.size() < 8) return 0;
    int v[8];
    for (int i = 0; i < 8; ++i) {
        if (t[size_t(i)] < '0' || t[size_t(i)] > '9') return 0;
        v[i] = t[size_t(i)] - '0';
    }
    const int64_t y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
    const unsigned m = unsigned(v[4] * 10 + v[5]);
    const unsigned d = unsigned(v[6] * 10 + v[7]);
    if (m < 1 || m > 12 || d < 1 || d > 31) return 0;
    return daysFromCivil(y, m, d) + kUnixEpochJulian;
}

std::string textFromJulian(int64_t julian) {
    if (julian <= 0 || julian > 5373484) return std::string(8, ' ');  // beyond 9999-12-31
    int64_t y;
    unsigned m, d;
    civilFromDays(julian - kUnixEpochJulian, y, m, d);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02u%02u", int(y), m, d);
    return std::string(buf, 8);
}

double numberFromText(std::string_view t) {
    size_t i = 0;
    while (i < t.size() && t[i] == ' ') ++i;
    size_t start = i;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
    }
    std::string_view num = t.substr(start, i - start);
    if (!num.empty() && num[0] == '+') num.remove_prefix(1);
    double v = 0;
    auto r = std::from_chars(num.data(), num.data() + num.size(), v);
    if (r.ec != std::errc()) return 0;
    return v == 0 ? 0.0 : v;
}

// ---------------------------------------------------------------------------

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

struct Expression::Node {
    Op op = Op::Literal;
    ValueType type = ValueType::Character;
    uint32_t width = 0;
    std::vector<std::unique_ptr<Node>> args;
    Value constant;
    FieldDef field;
    int p1 = 0;
    int p2 = 0;

    Value eval(const RecordView& r) const;
};

namespace {

enum class Tok : uint8_t {
    End,
    Number,
    String,
    Name,
    LParen,
    RParen,
    Comma,
    Plus,
    Minus,
    Star,
    Slash,
    Eq,
    EqEq,
    Ne,
    Lt,
    Gt,
    Le,
    Ge,
    And,
    Or,
    Not,
    True,
    False,
    Alias
};

struct Token {
    Tok kind = Tok::End;
    std::string text;
    double number = 0;
};

using NodePtr = std::unique_ptr<Expression::Node>;

}  // namespace

class ExpressionParser {
  public:
    ExpressionParser(std::string_view text, const RecordLayout& layout)
        : m_text(text), m_layout(layout) {}

    NodePtr run() {
        if (!tokenize()) return nullptr;
        if (m_tokens.size() == 1) return fail(ExprError::Empty, "empty expression");
        NodePtr n = parseOr(0);
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

    bool tokenize();
    const Token& peek() const { return m_tokens[m_pos]; }
    Token take() { return m_tokens[m_pos < m_tokens.size() - 1 ? m_pos++ : m_pos]; }

    NodePtr parseOr(int depth);
    NodePtr parseAnd(int depth);
    NodePtr parseNot(int depth);
    NodePtr parseCompare(int depth);
    NodePtr parseAdditive(int depth);
    NodePtr parseMultiplicative(int depth);
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

namespace {

bool matchDotWord(std::string_view text, size_t i, std::string_view word) {
    if (text.size() - i < word.size() + 2) return false;
    if (text[i + word.size() + 1] != '.') return false;
    for (size_t k = 0; k < word.size(); ++k)
        if (upperAscii(text[i + 1 + k]) != word[k]) return false;
    return true;
}

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

}  // namespace

bool ExpressionParser::tokenize() {
    const std::string_view t = m_text;
    size_t i = 0;
    while (i < t.size()) {
        const char c = t[i];
        Token tok;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        if (c == '.') {
            if (matchDotWord(t, i, "AND")) {
                tok.kind = Tok::And, i += 5;
            } else if (matchDotWord(t, i, "OR")) {
                tok.kind = Tok::Or, i += 4;
            } else if (matchDotWord(t, i, "NOT")) {
                tok.kind = Tok::Not, i += 5;
            } else if (matchDotWord(t, i, "T") || matchDotWord(t, i, "Y")) {
                tok.kind = Tok::True, i += 3;
            } else if (matchDotWord(t, i, "F") || matchDotWord(t, i, "N")) {
                tok.kind = Tok::False, i += 3;
            } else if (!m_tokens.empty() && m_tokens.back().kind == Tok::Name && i + 1 < t.size() &&
                       isNameStart(t[i + 1])) {
                tok.kind = Tok::Alias, i += 1;
            } else if (i + 1 < t.size() && std::isdigit(static_cast<unsigned char>(t[i + 1]))) {
                goto number;
            } else {
                fail(ExprError::Syntax, "unexpected '.' at position " + std::to_string(i + 1));
                return false;
            }
            m_tokens.push_back(std::move(tok));
            continue;
        }
        if (std::isdigit(static_cast<unsigned char>(c))) {
        number:
            size_t s = i;
            while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
            if (i < t.size() && t[i] == '.' && !(i + 1 < t.size() && isNameStart(t[i + 1]))) {
                ++i;
                while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]))) ++i;
            }
            tok.kind = Tok::Number;
            tok.text = std::string(t.substr(s, i - s));
            tok.number = numberFromText(tok.text);
            m_tokens.push_back(std::move(tok));
            continue;
        }
        if (c == '\'' || c == '"' || c == '[') {
            const char close = c == '[' ? ']' : c;
            size_t e = t.find(close, i + 1);
            if (e == std::string_view::npos) {
                fail(ExprError::Syntax, "unterminated text literal");
                return false;
            }
            tok.kind = Tok::String;
            tok.text = std::string(t.substr(i + 1, e - i - 1));
            i = e + 1;
            m_tokens.push_back(std::move(tok));
            continue;
        }
        if (isNameStart(c)) {
            size_t s = i;
            while (i < t.size() && isNameChar(t[i])) ++i;
            tok.kind = Tok::Name;
            tok.text = std::string(t.substr(s, i - s));
            m_tokens.push_back(std::move(tok));
            continue;
        }
        auto two = [&](const char* s) { return t.substr(i, 2) == s; };
        if (two("->")) {
            tok.kind = Tok::Alias, i += 2;
        } else if (two("==")) {
            tok.kind = Tok::EqEq, i += 2;
        } else if (two("<>") || two("!=")) {
            tok.kind = Tok::Ne, i += 2;
        } else if (two("<=")) {
            tok.kind = Tok::Le, i += 2;
        } else if (two(">=")) {
            tok.kind = Tok::Ge, i += 2;
        } else {
            switch (c) {
                case '(':
                    tok.kind = Tok::LParen;
                    break;
                case ')':
                    tok.kind = Tok::RParen;
                    break;
                case ',':
                    tok.kind = Tok::Comma;
                    break;
                case '+':
                    tok.kind = Tok::Plus;
                    break;
                case '-':
                    tok.kind = Tok::Minus;
                    break;
                case '*':
                    tok.kind = Tok::Star;
                    break;
                case '/':
                    tok.kind = Tok::Slash;
                    break;
                case '=':
                    tok.kind = Tok::Eq;
                    break;
                case '#':
                    tok.kind = Tok::Ne;
                    break;
                case '<':
                    tok.kind = Tok::Lt;
                    break;
                case '>':
                    tok.kind = Tok::Gt;
                    break;
                case '!':
                    tok.kind = Tok::Not;
                    break;
                default:
                    fail(ExprError::Syntax,
                         "unexpected character at position " + std::to_string(i + 1));
                    return false;
            }
            ++i;
        }
        m_tokens.push_back(std::move(tok));
    }
    m_tokens.push_back(Token{});
    return true;
}

NodePtr ExpressionParser::parseOr(int depth) {
    if (depth > kMaxDepth) return fail(ExprError::TooComplex, "expression nested too deeply");
    NodePtr left = parseAnd(depth + 1);
    while (left && peek().kind == Tok::Or) {
        take();
        NodePtr right = parseAnd(depth + 1);
        if (!right) return nullptr;
        if (left->type != ValueType::Logical || right->type != ValueType::Logical)
            return fail(ExprError::TypeMismatch, ".OR. needs logical operands");
        NodePtr n = makeNode(Op::Or, ValueType::Logical, 1);
        n->args.push_back(std::move(left));
        n->args.push_back(std::move(right));
        left = std::move(n);
    }
    return left;
}

NodePtr ExpressionParser::parseAnd(int depth) {
    NodePtr left = parseNot(depth + 1);
    while (left && peek().kind == Tok::And) {
        take();
        NodePtr right = parseNot(depth + 1);
        if (!right) return nullptr;
        if (left->type != ValueType::Logical || right->type != ValueType::Logical)
            return fail(ExprError::TypeMismatch, ".AND. needs logical operands");
        NodePtr n = makeNode(Op::And, ValueType::Logical, 1);
        n->args.push_back(std::move(left));
        n->args.push_back(std::move(right));
        left = std::move(n);
    }
    return left;
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
    return parseCompare(depth + 1);
}

NodePtr ExpressionParser::parseCompare(int depth) {
    NodePtr left = parseAdditive(depth + 1);
    if (!left) return nullptr;
    Op op;
    switch (peek().kind) {
        case Tok::Eq:
            op = Op::Eq;
            break;
        case Tok::EqEq:
            op = Op::ExactEq;
            break;
        case Tok::Ne:
            op = Op::Ne;
            break;
        case Tok::Lt:
            op = Op::Lt;
            break;
        case Tok::Gt:
            op = Op::Gt;
            break;
        case Tok::Le:
            op = Op::Le;
            break;
        case Tok::Ge:
            op = Op::Ge;
            break;
        default:
            return left;
    }
    take();
    NodePtr right = parseAdditive(depth + 1);
    if (!right) return nullptr;
    if (left->type != right->type)
        return fail(ExprError::TypeMismatch, "comparison of different types");
    if (left->type == ValueType::Logical && op != Op::Eq && op != Op::ExactEq && op != Op::Ne)
        return fail(ExprError::TypeMismatch, "logical values compare only for equality");
    NodePtr n = makeNode(op, ValueType::Logical, 1);
    n->args.push_back(std::move(left));
    n->args.push_back(std::move(right));
    return n;
}

NodePtr ExpressionParser::parseAdditive(int depth) {
    NodePtr left = parseMultiplicative(depth + 1);
    while (left && (peek().kind == Tok::Plus || peek().kind == Tok::Minus)) {
        const bool plus = take().kind == Tok::Plus;
        NodePtr right = parseMultiplicative(depth + 1);
        if (!right) return nullptr;
        const ValueType a = left->type, b = right->type;
        NodePtr n;
        if (a == ValueType::Character && b == ValueType::Character) {
            const uint32_t w = left->width + right->width;
            if (w > kMaxWidth) return fail(ExprError::TooComplex, "text result too long");
            n = makeNode(plus ? Op::Add : Op::Sub, ValueType::Character, w);
        } else if (a == ValueType::Numeric && b == ValueType::Numeric) {
            n = makeNode(plus ? Op::Add : Op::Sub, ValueType::Numeric, 8);
        } else if (a == ValueType::Date && b == ValueType::Numeric) {
            n = makeNode(plus ? Op::Add : Op::Sub, ValueType::Date, 8);
        } else if (plus && a == ValueType::Numeric && b == ValueType::Date) {
            n = makeNode(Op::Add, ValueType::Date, 8);
        } else if (!plus && a == ValueType::Date && b == ValueType::Date) {
            n = makeNode(Op::Sub, ValueType::Numeric, 8);
        } else {
            return fail(ExprError::TypeMismatch,
                        plus ? "'+' on mismatched types" : "'-' on mismatched types");
        }
        n->args.push_back(std::move(left));
        n->args.push_back(std::move(right));
        left = std::move(n);
    }
    return left;
}

NodePtr ExpressionParser::parseMultiplicative(int depth) {
    NodePtr left = parseUnary(depth + 1);
    while (left && (peek().kind == Tok::Star || peek().kind == Tok::Slash)) {
        const bool mul = take().kind == Tok::Star;
        NodePtr right = parseUnary(depth + 1);
        if (!right) return nullptr;
        if (left->type != ValueType::Numeric || right->type != ValueType::Numeric)
            return fail(ExprError::TypeMismatch, "'*' and '/' need numbers");
        NodePtr n = makeNode(mul ? Op::Mul : Op::Div, ValueType::Numeric, 8);
        n->args.push_back(std::move(left));
        n->args.push_back(std::move(right));
        left = std::move(n);
    }
    return left;
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
            NodePtr n = parseOr(depth + 1);
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
        if (!m_layout.alias.empty() && !sameName(name.text, m_layout.alias))
            return fail(ExprError::UnknownField, "unknown alias " + name.text);
        return makeField(field.text);
    }
    if (peek().kind != Tok::LParen) return makeField(name.text);
    take();
    std::vector<NodePtr> args;
    if (peek().kind != Tok::RParen) {
        for (;;) {
            NodePtr a = parseOr(depth + 1);
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
    return makeFunction(upperText(name.text), std::move(args));
}

NodePtr ExpressionParser::makeField(const std::string& name) {
    const FieldDef* f = m_layout.find(name);
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

// ---------------------------------------------------------------------------

namespace {

std::string_view fieldBytes(const FieldDef& f, const RecordView& r, std::string& scratch) {
    if (uint64_t(f.offset) + f.length <= r.bytes.size())
        return std::string_view(reinterpret_cast<const char*>(r.bytes.data() + f.offset), f.length);
    scratch.assign(f.length, ' ');
    for (uint32_t i = 0; i < f.length && f.offset + i < r.bytes.size(); ++i)
        scratch[i] = char(r.bytes[f.offset + i]);
    return scratch;
}

Value fieldValue(const FieldDef& f, ValueType type, const RecordView& r) {
    std::string scratch;
    std::string_view raw = fieldBytes(f, r, scratch);
    Value v;
    v.type = type;
    const auto* p = reinterpret_cast<const uint8_t*>(raw.data());
    switch (f.type) {
        case 'C':
            v.text.assign(raw);
            break;
        case 'N':
        case 'F':
            v.number = numberFromText(raw);
            break;
        case 'I':
            v.number = double(int32_t(platform::loadLE32(p)));
            break;
        case 'B': {
            uint64_t bits = platform::loadLE64(p);
            double d;
            std::memcpy(&d, &bits, sizeof d);
            v.number = std::isfinite(d) ? d : 0.0;
            break;
        }
        case 'Y':
            v.number = double(int64_t(platform::loadLE64(p))) / 10000.0;
            break;
        case 'D':
            v.number = double(julianFromText(raw));
            break;
        case 'L':
            v.logical =
                !raw.empty() && (raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y');
            break;
        default:
            break;
    }
    return v;
}

int compareText(const std::string& a, const std::string& b) {
    // Shorter operand compares as if padded with blanks.
    const size_t n = std::max(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const uint8_t x = i < a.size() ? uint8_t(a[i]) : uint8_t(' ');
        const uint8_t y = i < b.size() ? uint8_t(b[i]) : uint8_t(' ');
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

void trimRight(std::string& s) {
    size_t e = s.find_last_not_of(' ');
    s.erase(e == std::string::npos ? 0 : e + 1);
}
void trimLeft(std::string& s) {
    size_t b = s.find_first_not_of(' ');
    s.erase(0, b == std::string::npos ? s.size() : b);
}

}  // namespace

Value Expression::Node::eval(const RecordView& r) const {
    Value v;
    v.type = type;
    switch (op) {
        case Op::Literal:
            return constant;
        case Op::Field:
            return fieldValue(field, type, r);
        case Op::Deleted:
            v.logical = r.deleted();
            return v;
        case Op::Recno:
            v.number = double(r.recno);
            return v;
        case Op::Upper:
        case Op::Lower:
        case Op::Trim:
        case Op::Ltrim:
        case Op::Alltrim: {
            v = args[0]->eval(r);
            if (op == Op::Upper)
                for (char& c : v.text) c = upperAscii(c);
            if (op == Op::Lower)
                for (char& c : v.text) c = lowerAscii(c);
            if (op == Op::Trim || op == Op::Alltrim) trimRight(v.text);
            if (op == Op::Ltrim || op == Op::Alltrim) trimLeft(v.text);
            return v;
        }
        case Op::Left:
        case Op::Right:
        case Op::Substr: {
            Value a = args[0]->eval(r);
            const size_t n = size_t(op == Op::Substr ? p2 : p1);
            if (op == Op::Left) {
                v.text = a.text.substr(0, n);
            } else if (op == Op::Right) {
                v.text = a.text.size() > n ? a.text.substr(a.text.size() - n) : a.text;
            } else {
                const size_t s = size_t(p1 - 1);
                v.text = s < a.text.size() ? a.text.substr(s, n) : std::string();
            }
            return v;
        }
        case Op::Str:
            v.text = formatNumber(args[0]->eval(r).number, p1, p2);
            return v;
        case Op::Val:
            v.number = numberFromText(args[0]->eval(r).text);
            return v;
        case Op::Dtos:
            v.text = textFromJulian(int64_t(args[0]->eval(r).number));
            return v;
        case Op::Dtoc: {
            const std::string s = textFromJulian(int64_t(args[0]->eval(r).number));
            v.text = s[0] == ' ' ? std::string("  /  /  ")
                                 : s.substr(4, 2) + "/" + s.substr(6, 2) + "/" + s.substr(2, 2);
            return v;
        }
        case Op::Iif:
            return args[0]->eval(r).logical ? args[1]->eval(r) : args[2]->eval(r);
        case Op::Descend: {
            Value a = args[0]->eval(r);
            v.text = a.text;
            switch (a.type) {
                case ValueType::Character:
                    v.text.resize(width, ' ');
                    for (char& c : v.text) c = char((256 - uint8_t(c)) & 0xFF);
                    break;
                case ValueType::Logical:
                    v.logical = !a.logical;
                    break;
                default:
                    v.number = -a.number;
                    break;
            }
            return v;
        }
        case Op::Add:
        case Op::Sub: {
            Value a = args[0]->eval(r);
            Value b = args[1]->eval(r);
            if (a.type == ValueType::Character) {
                if (op == Op::Add) {
                    v.text = std::move(a.text);
                    v.text += b.text;
                } else {
                    // Blanks cut from the end of the left operand go to the end.
                    const size_t before = a.text.size();
                    trimRight(a.text);
                    const size_t cut = before - a.text.size();
                    v.text = std::move(a.text);
                    v.text += b.text;
                    v.text.append(cut, ' ');
                }
            } else {
                v.number = op == Op::Add ? a.number + b.number : a.number - b.number;
            }
            return v;
        }
        case Op::Mul:
            v.number = args[0]->eval(r).number * args[1]->eval(r).number;
            return v;
        case Op::Div: {
            const double d = args[1]->eval(r).number;
            v.number = d == 0 ? 0.0 : args[0]->eval(r).number / d;
            return v;
        }
        case Op::Neg:
            v.number = -args[0]->eval(r).number;
            return v;
        case Op::Eq:
        case Op::ExactEq:
        case Op::Ne:
        case Op::Lt:
        case Op::Gt:
        case Op::Le:
        case Op::Ge: {
            Value a = args[0]->eval(r);
            Value b = args[1]->eval(r);
            int c = 0;
            bool equal;
            if (a.type == ValueType::Character) {
                c = compareText(a.text, b.text);
                if (op == Op::ExactEq) {
                    equal = a.text == b.text;
                } else {
                    // '=' matches when the left side starts with the right side.
                    equal = a.text.compare(0, b.text.size(), b.text) == 0 ||
                            (a.text.size() < b.text.size() && c == 0);
                }
            } else if (a.type == ValueType::Logical) {
                equal = a.logical == b.logical;
            } else {
                c = a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
                equal = c == 0;
            }
            switch (op) {
                case Op::Eq:
                case Op::ExactEq:
                    v.logical = equal;
                    break;
                case Op::Ne:
                    v.logical = !equal;
                    break;
                case Op::Lt:
                    v.logical = c < 0;
                    break;
                case Op::Gt:
                    v.logical = c > 0;
                    break;
                case Op::Le:
                    v.logical = c <= 0;
                    break;
                default:
                    v.logical = c >= 0;
                    break;
            }
            return v;
        }
        case Op::And:
            v.logical = args[0]->eval(r).logical && args[1]->eval(r).logical;
            return v;
        case Op::Or:
            v.logical = args[0]->eval(r).logical || args[1]->eval(r).logical;
            return v;
        case Op::Not:
            v.logical = !args[0]->eval(r).logical;
            return v;
    }
    return v;
}

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

ValueType Expression::type() const { return m_root->type; }

bool Expression::inputsDiffer(std::span<const uint8_t> before,
                              std::span<const uint8_t> after) const {
    if (before.size() != after.size()) return true;
    for (const auto& [offset, length] : m_reads) {
        if (uint64_t(offset) + length > before.size()) return true;
        if (std::memcmp(before.data() + offset, after.data() + offset, length) != 0) return true;
    }
    return false;
}
uint32_t Expression::width() const { return m_root->width; }
Value Expression::evaluate(const RecordView& record) const { return m_root->eval(record); }
bool Expression::isTrue(const RecordView& record) const {
    if (m_root->type != ValueType::Logical) return false;
    return m_root->eval(record).logical;
}

}  // namespace tavrel::kes04::cdx
