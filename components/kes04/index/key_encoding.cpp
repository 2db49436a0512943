#include "components/kes04/index/key_encoding.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/byte_order.h"

namespace tavrel::kes04::cdx {

void encodeDouble(double value, uint8_t* out) {
    if (value == 0 || std::isnan(value)) value = 0.0;  // -0 and NaN sort as 0
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    if (bits >> 63)
        bits = ~bits;
    else
        bits |= uint64_t(1) << 63;
    platform::storeBE64(out, bits);
}

double decodeDouble(const uint8_t* in) {
    uint64_t bits = platform::loadBE64(in);
    if (bits >> 63)
        bits &= ~(uint64_t(1) << 63);
    else
        bits = ~bits;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void encodeKey(const Value& value, uint32_t keyLength, uint8_t* out) {
    switch (value.type) {
        case ValueType::Character: {
            const size_t n = std::min<size_t>(value.text.size(), keyLength);
            std::memcpy(out, value.text.data(), n);
            std::memset(out + n, ' ', keyLength - n);
            return;
        }
        case ValueType::Numeric:
        case ValueType::Date: {
            uint8_t buf[8];
            encodeDouble(value.number, buf);
            std::memset(out, 0, keyLength);
            std::memcpy(out, buf, std::min<size_t>(8, keyLength));
            return;
        }
        case ValueType::Logical:
            std::memset(out, 0, keyLength);
            if (keyLength) out[0] = value.logical ? 'T' : 'F';
            return;
    }
}

std::string encodeKey(const Value& value, uint32_t keyLength) {
    std::string s(keyLength, '\0');
    encodeKey(value, keyLength, reinterpret_cast<uint8_t*>(s.data()));
    return s;
}

std::string seekKeyFromText(std::string_view text, ValueType type, uint32_t keyLength) {
    Value v;
    v.type = type;
    switch (type) {
        case ValueType::Character:
            return std::string(text.substr(0, std::min<size_t>(text.size(), keyLength)));
        case ValueType::Numeric:
            v.number = numberFromText(text);
            break;
        case ValueType::Date:
            v.number = double(julianFromText(text));
            break;
        case ValueType::Logical:
            v.logical = !text.empty() &&
                        (text[0] == 'T' || text[0] == 't' || text[0] == 'Y' || text[0] == 'y');
            break;
    }
    return encodeKey(v, keyLength);
}

std::string keyToText(std::string_view key, ValueType type) {
    const auto* p = reinterpret_cast<const uint8_t*>(key.data());
    switch (type) {
        case ValueType::Character:
            return std::string(key);
        case ValueType::Logical:
            return key.empty() ? std::string() : std::string(1, key[0]);
        case ValueType::Numeric:
        case ValueType::Date: {
            if (key.size() < 8) return {};
            const double v = decodeDouble(p);
            if (type == ValueType::Date) return textFromJulian(int64_t(v));
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.15g", v);
            return buf;
        }
    }
    return {};
}

}  // namespace tavrel::kes04::cdx
