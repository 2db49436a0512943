#include "tools/xbtool/json_text.h"

namespace tavrel::xbtool {

std::string bytesToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::optional<std::string> utf8ToBytes(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += char(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < text.size() &&
                   (static_cast<unsigned char>(text[i + 1]) & 0xC0) == 0x80) {
            out += char(((c & 0x03) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3F));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

std::string printableJson(std::string_view dumped) {
    static constexpr char kHex[] = "0123456789abcdef";
    auto escape = [](std::string& out, unsigned char c) {
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    };
    std::string out;
    out.reserve(dumped.size());
    for (size_t i = 0; i < dumped.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(dumped[i]);
        if (c == '\\' && i + 1 < dumped.size()) {
            const char next = dumped[++i];
            switch (next) {
                case 'b':
                    escape(out, '\b');
                    break;
                case 'f':
                    escape(out, '\f');
                    break;
                case 'n':
                    escape(out, '\n');
                    break;
                case 'r':
                    escape(out, '\r');
                    break;
                case 't':
                    escape(out, '\t');
                    break;
                default:
                    out += '\\';
                    out += next;
            }
        } else if (c < 0x20 || c >= 0x7F) {
            escape(out, c);
        } else {
            out += char(c);
        }
    }
    return out;
}

}  // namespace tavrel::xbtool
