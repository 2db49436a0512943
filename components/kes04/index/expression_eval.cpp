// The evaluator of key and filter expressions: field values from record
// bytes, the functions and operators over them, and the date and number
// conversions the key encoding shares.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "components/kes04/index/expression.h"
#include "components/kes04/index/expression_tree.h"
#include "platform/byte_order.h"
#include "platform/text_rules.h"

namespace tavrel::kes04::cdx {

namespace {

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
    // Blank outside 0001-01-01 .. 9999-12-31: no eight digits hold those.
    if (julian < 1721426 || julian > 5373484) return std::string(8, ' ');
    int64_t y;
    unsigned m, d;
    civilFromDays(julian - kUnixEpochJulian, y, m, d);
    // Digit by digit: a date key is made for every record a tag takes in.
    std::string text(8, '0');
    auto put = [&](size_t at, unsigned value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + size_t(i)] = char('0' + value % 10);
    };
    put(0, unsigned(y), 4);
    put(4, m, 2);
    put(6, d, 2);
    return text;
}

double numberFromText(std::string_view t) {
    size_t i = 0;
    while (i < t.size() && t[i] == ' ') ++i;
    size_t start = i;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
    while (i < t.size() && platform::isDigitAscii(t[i])) ++i;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && platform::isDigitAscii(t[i])) ++i;
    }
    std::string_view num = t.substr(start, i - start);
    if (!num.empty() && num[0] == '+') num.remove_prefix(1);
    double v = 0;
    auto r = std::from_chars(num.data(), num.data() + num.size(), v);
    if (r.ec != std::errc()) return 0;
    return v == 0 ? 0.0 : v;
}

// ---------------------------------------------------------------------------

namespace {

std::string_view fieldBytes(const FieldLayout& f, const RecordView& r, std::string& scratch) {
    if (uint64_t(f.offset) + f.length <= r.bytes.size())
        return std::string_view(reinterpret_cast<const char*>(r.bytes.data() + f.offset), f.length);
    scratch.assign(f.length, ' ');
    for (uint32_t i = 0; i < f.length && f.offset + i < r.bytes.size(); ++i)
        scratch[i] = char(r.bytes[f.offset + i]);
    return scratch;
}

Value fieldValue(const FieldLayout& f, ValueType type, const RecordView& r) {
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
                for (char& c : v.text) c = platform::upperAscii(c);
            if (op == Op::Lower)
                for (char& c : v.text) c = platform::lowerAscii(c);
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
