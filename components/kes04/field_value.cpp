#include "components/kes04/field_value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "components/kes04/dbf_format.h"
#include "components/kes04/engine_codes.h"
#include "platform/byte_order.h"

namespace tavrel::kes04 {

namespace {

constexpr int64_t kJulianDayOfUnixEpoch = 2440588;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\0'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string rightTrimmed(const uint8_t* p, size_t n) {
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == 0)) --n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's algorithm).
int64_t daysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

bool validDate(int y, int m, int d) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    int limit = kDays[m - 1];
    if (m == 2 && ((y % 4 == 0 && y % 100 != 0) || y % 400 == 0)) limit = 29;
    return d <= limit;
}

bool digitsValue(std::string_view text, int* value) {
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    *value = v;
    return true;
}

// A decimal number taken from text like FoxPro's VAL(): sign, digits, point,
// digits, optional exponent; parsing stops at the first other character.
struct Decimal {
    bool negative = false;
    std::string digits;  // Without leading sign or point.
    int point = 0;       // How many of `digits` stand before the decimal point.
};

Decimal parseDecimal(std::string_view text) {
    Decimal d;
    size_t i = 0;
    while (i < text.size() && isBlank(text[i])) ++i;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) d.negative = text[i++] == '-';
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') d.digits += text[i++];
    d.point = int(d.digits.size());
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') d.digits += text[i++];
    }
    if (d.digits.empty()) return Decimal{};
    if (i + 1 < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        bool negExp = false;
        if (text[j] == '-' || text[j] == '+') negExp = text[j++] == '-';
        int exponent = 0;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') {
            exponent = std::min(exponent * 10 + (text[j++] - '0'), 1000);
        }
        d.point += negExp ? -exponent : exponent;
    }
    return d;
}

// Rounds half away from zero to `decimals` places; gives the integer digits
// (no leading zeros) and exactly `decimals` fraction digits.
void roundDecimal(Decimal d, unsigned decimals, std::string* whole, std::string* fraction) {
    if (d.point < 0) {
        if (-d.point > 100) d = Decimal{};
        d.digits.insert(0, size_t(-d.point), '0');
        d.point = 0;
    }
    if (size_t(d.point) > d.digits.size()) d.digits.append(size_t(d.point) - d.digits.size(), '0');
    const size_t keep = size_t(d.point) + decimals;
    bool up = false;
    if (d.digits.size() > keep) {
        up = d.digits[keep] >= '5';
        d.digits.resize(keep);
    } else {
        d.digits.append(keep - d.digits.size(), '0');
    }
    if (up) {
        size_t k = d.digits.size();
        while (k > 0 && d.digits[k - 1] == '9') d.digits[--k] = '0';
        if (k == 0) {
            d.digits.insert(0, 1, '1');
            ++d.point;
        } else {
            ++d.digits[k - 1];
        }
    }
    *whole = d.digits.substr(0, size_t(d.point));
    *fraction = d.digits.substr(size_t(d.point));
    size_t nz = whole->find_first_not_of('0');
    whole->erase(0, nz == std::string::npos ? whole->size() : nz);
}

// Whether `text` is already a number as formatNumber would store it in
// `width` with `decimals` places: an optional minus (not on zero), the whole
// part without leading zeros ("0" alone), then exactly `decimals` places.
// A copy between tables of one structure meets nothing else.
bool storedNumberForm(std::string_view text, uint32_t width, unsigned decimals) {
    if (text.empty() || text.size() > width) return false;
    size_t at = text[0] == '-' ? 1 : 0;
    const size_t wholeStart = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    const size_t wholeLength = at - wholeStart;
    if (wholeLength == 0 || (wholeLength > 1 && text[wholeStart] == '0')) return false;
    bool nonZero = wholeLength > 1 || text[wholeStart] != '0';
    if (decimals > 0) {
        if (at == text.size() || text[at] != '.' || text.size() - at - 1 != decimals) return false;
        for (++at; at < text.size(); ++at) {
            if (text[at] < '0' || text[at] > '9') return false;
            nonZero = nonZero || text[at] != '0';
        }
    }
    return at == text.size() && (wholeStart == 0 || nonZero);
}

int assignNumeric(const FieldLayout& field, uint8_t* target, std::string_view text) {
    const std::string_view value = trimmed(text);
    if (storedNumberForm(value, field.length, field.decimals)) {
        const size_t pad = field.length - value.size();
        std::memset(target, ' ', pad);
        std::memcpy(target + pad, value.data(), value.size());
        return 0;
    }
    bool blank = false;
    std::string stored = formatNumber(text, field.length, field.decimals, &blank);
    std::memcpy(target, stored.data(), field.length);
    return 0;
}

int assignDate(const FieldLayout& field, uint8_t* target, std::string_view text) {
    text = trimmed(text);
    if (text.empty()) {
        std::memset(target, ' ', field.length);
        return 0;
    }
    int y = 0, m = 0, d = 0;
    if (text.size() != 8 || !digitsValue(text.substr(0, 4), &y) ||
        !digitsValue(text.substr(4, 2), &m) || !digitsValue(text.substr(6, 2), &d) ||
        !validDate(y, m, d) || field.length != 8) {
        return code(EngineCode::kErrValue);
    }
    std::memcpy(target, text.data(), 8);
    return 0;
}

int assignLogical(uint8_t* target, std::string_view text) {
    text = trimmed(text);
    while (!text.empty() && text.front() == '.') text.remove_prefix(1);
    if (text.empty()) {
        *target = ' ';
        return 0;
    }
    switch (text.front()) {
        case 'T':
        case 't':
        case 'Y':
        case 'y':
            *target = 'T';
            return 0;
        case 'F':
        case 'f':
        case 'N':
        case 'n':
            *target = 'F';
            return 0;
        case '?':
            *target = '?';
            return 0;
        default:
            return code(EngineCode::kErrValue);
    }
}

int assignInteger(uint8_t* target, std::string_view text) {
    std::string whole, fraction;
    Decimal d = parseDecimal(text);
    roundDecimal(d, 0, &whole, &fraction);
    if (whole.size() > 10) return code(EngineCode::kErrValue);
    int64_t v = whole.empty() ? 0 : std::stoll(whole);
    if (d.negative) v = -v;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) {
        return code(EngineCode::kErrValue);
    }
    platform::storeLE32(target, uint32_t(int32_t(v)));
    return 0;
}

int assignCurrency(uint8_t* target, std::string_view text) {
    std::string whole, fraction;
    Decimal d = parseDecimal(text);
    roundDecimal(d, 4, &whole, &fraction);
    std::string all = whole + fraction;
    if (all.size() > 18) return code(EngineCode::kErrValue);
    int64_t v = all.empty() ? 0 : std::stoll(all);
    if (d.negative) v = -v;
    platform::storeLE64(target, uint64_t(v));
    return 0;
}

int assignDouble(uint8_t* target, std::string_view text) {
    std::string_view t = trimmed(text);
    double v = 0;
    if (!t.empty()) {
        if (t.front() == '+') t.remove_prefix(1);
        auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
        (void)ptr;
        if (ec != std::errc()) v = 0;
    }
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    platform::storeLE64(target, bits);
    return 0;
}

int assignDateTime(uint8_t* target, std::string_view text) {
    text = trimmed(text);
    if (text.empty()) {
        std::memset(target, 0, 8);
        return 0;
    }
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    bool ok = (text.size() == 8 || text.size() == 14) && digitsValue(text.substr(0, 4), &y) &&
              digitsValue(text.substr(4, 2), &mo) && digitsValue(text.substr(6, 2), &d) &&
              validDate(y, mo, d);
    if (ok && text.size() == 14) {
        ok = digitsValue(text.substr(8, 2), &h) && digitsValue(text.substr(10, 2), &mi) &&
             digitsValue(text.substr(12, 2), &s) && h < 24 && mi < 60 && s < 60;
    }
    if (!ok) return code(EngineCode::kErrValue);
    platform::storeLE32(target, uint32_t(julianDay(y, mo, d)));
    platform::storeLE32(target + 4, uint32_t(((h * 60 + mi) * 60 + s) * 1000));
    return 0;
}

std::string two(int v) {
    char b[3] = {char('0' + v / 10 % 10), char('0' + v % 10), 0};
    return b;
}

}  // namespace

int64_t julianDay(int year, int month, int day) {
    return daysFromCivil(year, month, day) + kJulianDayOfUnixEpoch;
}

void civilFromJulianDay(int64_t jdn, int* year, int* month, int* day) {
    int64_t z = jdn - kJulianDayOfUnixEpoch + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int d = int(doy - (153 * mp + 2) / 5 + 1);
    const int m = int(mp < 10 ? mp + 3 : mp - 9);
    *year = int(yoe + era * 400 + (m <= 2));
    *month = m;
    *day = d;
}

std::string formatNumber(std::string_view text, uint32_t width, unsigned decimals, bool* blank) {
    *blank = trimmed(text).empty();
    if (*blank) return std::string(width, ' ');
    Decimal d = parseDecimal(text);
    std::string whole, fraction;
    roundDecimal(d, decimals, &whole, &fraction);
    bool zero = whole.empty() && fraction.find_first_not_of('0') == std::string::npos;
    std::string sign = d.negative && !zero ? "-" : "";
    std::string tail = decimals > 0 ? "." + fraction : "";
    std::string out = sign + (whole.empty() ? "0" : whole) + tail;
    if (out.size() > width && whole.empty() && decimals > 0) out = sign + tail;
    if (out.size() > width) return std::string(width, '*');
    return std::string(width - out.size(), ' ') + out;
}

std::string displayText(const FieldLayout& field, const uint8_t* record) {
    const uint8_t* p = record + field.offset;
    switch (field.type) {
        case 'C':
            return rightTrimmed(p, field.length);
        case 'N':
        case 'F':
            return std::string(
                trimmed(std::string_view(reinterpret_cast<const char*>(p), field.length)));
        case 'D': {
            std::string t = rightTrimmed(p, field.length);
            return t;
        }
        case 'L':
            return (*p == 'T' || *p == 't' || *p == 'Y' || *p == 'y') ? "T" : "F";
        case 'I':
            if (field.length != 4) break;
            return std::to_string(int32_t(platform::loadLE32(p)));
        case 'B': {
            if (field.length != 8) break;
            uint64_t bits = platform::loadLE64(p);
            double v = 0;
            std::memcpy(&v, &bits, sizeof v);
            char buffer[64];
            if (field.decimals > 0 && std::isfinite(v) && std::fabs(v) < 1e18) {
                std::snprintf(buffer, sizeof buffer, "%.*f", int(field.decimals), v);
                return buffer;
            }
            auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
            return ec == std::errc() ? std::string(buffer, end) : std::string();
        }
        case 'Y': {
            if (field.length != 8) break;
            int64_t v = int64_t(platform::loadLE64(p));
            uint64_t a = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%s%llu.%04llu", v < 0 ? "-" : "",
                          static_cast<unsigned long long>(a / 10000),
                          static_cast<unsigned long long>(a % 10000));
            return buffer;
        }
        case 'T': {
            if (field.length != 8) break;
            int32_t jdn = int32_t(platform::loadLE32(p));
            uint32_t ms = platform::loadLE32(p + 4);
            if (jdn <= 0 && ms == 0) return "";
            int y = 0, m = 0, d = 0;
            civilFromJulianDay(jdn, &y, &m, &d);
            uint32_t s = (ms + 500) / 1000;
            if (y < 0 || y > 9999) return "";
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%04d%s%s%s%s%s", y, two(m).c_str(),
                          two(d).c_str(), two(int(s / 3600 % 100)).c_str(),
                          two(int(s / 60 % 60)).c_str(), two(int(s % 60)).c_str());
            return buffer;
        }
        case 'M':
        case 'G':
        case 'P':
        case 'W': {
            uint32_t block = 0;
            if (!memoBlock(field, record, &block)) return rightTrimmed(p, field.length);
            return block == 0 ? std::string() : std::to_string(block);
        }
        default:
            break;
    }
    return rightTrimmed(p, field.length);
}

int assignText(const FieldLayout& field, uint8_t* record, std::string_view text) {
    uint8_t* p = record + field.offset;
    switch (field.type) {
        case 'C': {
            size_t n = std::min<size_t>(text.size(), field.length);
            std::memcpy(p, text.data(), n);
            std::memset(p + n, ' ', field.length - n);
            return 0;
        }
        case 'N':
        case 'F':
            return assignNumeric(field, p, text);
        case 'D':
            return assignDate(field, p, text);
        case 'L':
            return assignLogical(p, text);
        case 'I':
            return field.length == 4 ? assignInteger(p, text) : code(EngineCode::kErrFieldType);
        case 'Y':
            return field.length == 8 ? assignCurrency(p, text) : code(EngineCode::kErrFieldType);
        case 'B':
            return field.length == 8 ? assignDouble(p, text) : code(EngineCode::kErrFieldType);
        case 'T':
            return field.length == 8 ? assignDateTime(p, text) : code(EngineCode::kErrFieldType);
        default:
            return code(EngineCode::kErrFieldType);
    }
}

bool memoBlock(const FieldLayout& field, const uint8_t* record, uint32_t* block) {
    const uint8_t* p = record + field.offset;
    if (field.length == 4) {
        *block = platform::loadLE32(p);
        return true;
    }
    std::string_view t = trimmed(std::string_view(reinterpret_cast<const char*>(p), field.length));
    uint64_t v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint64_t(c - '0');
        if (v > 0xFFFFFFFFu) return false;
    }
    *block = uint32_t(v);
    return true;
}

void storeMemoBlock(const FieldLayout& field, uint8_t* record, uint32_t block) {
    uint8_t* p = record + field.offset;
    if (field.length == 4) {
        platform::storeLE32(p, block);
        return;
    }
    std::memset(p, ' ', field.length);
    if (block == 0) return;
    std::string digits = std::to_string(block);
    if (digits.size() > field.length) digits = digits.substr(digits.size() - field.length);
    std::memcpy(p + field.length - digits.size(), digits.data(), digits.size());
}

}  // namespace tavrel::kes04
