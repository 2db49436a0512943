#include "components/kes04/dbf_format.h"

#include <algorithm>
#include <cstring>

#include "components/kes04/engine_codes.h"
#include "platform/text_rules.h"

namespace tavrel::kes04 {

using platform::ByteView;

namespace {

std::string hex(unsigned value) {
    static const char* digits = "0123456789ABCDEF";
    std::string text = "0x";
    text += digits[(value >> 4) & 15];
    text += digits[value & 15];
    return text;
}

bool isBinaryField(const FieldLayout& f) {
    switch (f.type) {
        case 'I':
        case 'B':
        case 'Y':
        case 'T':
        case '0':
            return true;
        case 'M':
        case 'G':
        case 'P':
        case 'W':
            return f.length == 4;
        default:
            return false;
    }
}

bool validNameChar(char c, bool first) {
    if ((c >= 'A' && c <= 'Z') || c == '_') return true;
    return !first && c >= '0' && c <= '9';
}

}  // namespace

bool isKnownVersion(uint8_t version) {
    switch (version) {
        case 0x02:
        case 0x03:
        case 0x30:
        case 0x31:
        case 0x32:
        case 0x43:
        case 0x63:
        case 0x83:
        case 0x8B:
        case 0xCB:
        case 0xF5:
        case 0xFB:
            return true;
        default:
            return false;
    }
}

bool isVisualFoxPro(uint8_t version) { return version >= 0x30 && version <= 0x32; }

bool isMemoType(char type) { return type == 'M' || type == 'G' || type == 'P' || type == 'W'; }

int parseFixedHeader(ByteView bytes, DbfHeader* header, std::string* detail) {
    if (bytes.size() < kDbfHeaderSize) {
        *detail = "the file is " + std::to_string(bytes.size()) +
                  " bytes long, shorter than the 32-byte table header";
        return code(EngineCode::kErrData);
    }
    const uint8_t* p = bytes.data();
    if (!isKnownVersion(p[0])) {
        *detail = "offset 0: version byte " + hex(p[0]) + " is not a dBASE/FoxPro table";
        return code(EngineCode::kErrData);
    }
    header->version = p[0];
    header->year = p[1];
    header->month = p[2];
    header->day = p[3];
    header->recordCount = platform::loadLE32(p + 4);
    header->headerLength = platform::loadLE16(p + 8);
    header->layout.recordLength = platform::loadLE16(p + 10);
    header->flags = p[28];
    header->layout.version = p[0];
    header->layout.codePage = p[29];
    const size_t minimum = kDbfHeaderSize + kFieldDescriptorSize + 1;
    if (header->headerLength < minimum) {
        *detail = "offset 8: header length " + std::to_string(header->headerLength) +
                  ", expected at least " + std::to_string(minimum);
        return code(EngineCode::kErrData);
    }
    if (header->layout.recordLength < 2) {
        *detail = "offset 10: record length " + std::to_string(header->layout.recordLength) +
                  ", expected at least 2";
        return code(EngineCode::kErrData);
    }
    return 0;
}

int parseFieldDescriptors(ByteView bytes, DbfHeader* header, std::string* detail) {
    RecordLayout& layout = header->layout;
    layout.fields.clear();
    const size_t end = std::min<size_t>(header->headerLength, bytes.size());
    size_t at = kDbfHeaderSize;
    uint64_t offset = 1;
    for (;;) {
        if (at >= end) {
            *detail = "offset " + std::to_string(at) +
                      ": field descriptors run to the end of the header without the 0x0D "
                      "terminator";
            return code(EngineCode::kErrData);
        }
        if (bytes.data()[at] == kFieldTerminator) break;
        if (!bytes.has(at, kFieldDescriptorSize) || at + kFieldDescriptorSize > end) {
            *detail =
                "offset " + std::to_string(at) +
                ": no 0x0D terminator after the field descriptors (the header ends inside one)";
            return code(EngineCode::kErrData);
        }
        const uint8_t* d = bytes.data() + at;
        FieldLayout field;
        size_t nameLength = 0;
        while (nameLength < 11 && d[nameLength] != 0) ++nameLength;
        field.name.assign(reinterpret_cast<const char*>(d), nameLength);
        field.type = char(d[11]);
        field.length = d[16];
        field.decimals = d[17];
        field.flags = d[18];
        if (field.type == 'C' && field.decimals != 0 && !isVisualFoxPro(header->version)) {
            field.length += 256u * field.decimals;  // Clipper-style long character field
            field.decimals = 0;
        }
        if (field.name.empty() || field.length == 0) {
            *detail = "offset " + std::to_string(at) + ": field " +
                      std::to_string(layout.fields.size() + 1) +
                      (field.name.empty() ? " has no name" : " has length 0");
            return code(EngineCode::kErrData);
        }
        field.offset = uint32_t(offset);
        offset += field.length;
        layout.fields.push_back(std::move(field));
        at += kFieldDescriptorSize;
    }
    if (layout.fields.empty()) {
        *detail = "offset 32: the table has no fields";
        return code(EngineCode::kErrData);
    }
    if (offset > layout.recordLength) {
        *detail = "offset 10: record length " + std::to_string(layout.recordLength) +
                  " is shorter than the fields need (" + std::to_string(offset) + ")";
        return code(EngineCode::kErrData);
    }
    return 0;
}

int layoutForCreate(std::span<const FieldSpec> fields, RecordLayout* layout, std::string* detail) {
    layout->fields.clear();
    layout->version = 0x03;
    layout->codePage = 0;
    if (fields.empty()) {
        *detail = "a table needs at least one field";
        return code(EngineCode::kErrFieldName);
    }
    if (fields.size() > 255) {
        *detail = "a table holds at most 255 fields";
        return code(EngineCode::kErrFieldName);
    }
    uint32_t offset = 1;
    for (const FieldSpec& def : fields) {
        FieldLayout f;
        f.name = def.name;
        platform::upperInPlace(f.name);
        bool nameOk = !f.name.empty() && f.name.size() <= kMaxFieldNameLength;
        for (size_t i = 0; nameOk && i < f.name.size(); ++i)
            nameOk = validNameChar(f.name[i], i == 0);
        if (!nameOk) {
            *detail = "field name \"" + def.name + "\" is not 1 to 10 letters, digits or _";
            return code(EngineCode::kErrFieldName);
        }
        if (layout->find(f.name)) {
            *detail = "field name \"" + f.name + "\" is used twice";
            return code(EngineCode::kErrFieldName);
        }
        f.type = platform::upperAscii(def.type);
        int length = def.length, decimals = def.decimals;
        bool ok = decimals == 0;
        switch (f.type) {
            case 'C':
                ok = ok && length >= 1 && length <= 254;
                break;
            case 'N':
            case 'F':
                ok = length >= 1 && length <= 20 && decimals >= 0 &&
                     (decimals == 0 || decimals <= length - 2);
                break;
            case 'D':
                length = 8;
                break;
            case 'L':
                length = 1;
                break;
            case 'M':
                length = 10;
                break;
            default:
                ok = false;
        }
        if (!ok) {
            *detail = "field " + f.name + ": type " + std::string(1, def.type) + " length " +
                      std::to_string(def.length) + " decimals " + std::to_string(def.decimals) +
                      " cannot be created";
            return code(EngineCode::kErrFieldType);
        }
        f.length = uint32_t(length);
        f.decimals = uint8_t(decimals);
        f.offset = offset;
        offset += f.length;
        if (f.type == 'M') layout->version = 0xF5;
        layout->fields.push_back(std::move(f));
    }
    if (offset > 65500) {
        *detail = "record length " + std::to_string(offset) + " exceeds 65500 bytes";
        return code(EngineCode::kErrRecordLength);
    }
    layout->recordLength = offset;
    return 0;
}

std::vector<uint8_t> buildHeader(const RecordLayout& layout, uint8_t flags, int year, int month,
                                 int day) {
    const size_t length = kDbfHeaderSize + kFieldDescriptorSize * layout.fields.size() + 1;
    std::vector<uint8_t> bytes(length, 0);
    uint8_t* p = bytes.data();
    p[0] = layout.version;
    p[1] = uint8_t(year % 100);
    p[2] = uint8_t(month);
    p[3] = uint8_t(day);
    platform::storeLE32(p + 4, 0);
    platform::storeLE16(p + 8, uint16_t(length));
    platform::storeLE16(p + 10, uint16_t(layout.recordLength));
    p[28] = flags;
    p[29] = layout.codePage;
    uint8_t* d = p + kDbfHeaderSize;
    for (const FieldLayout& f : layout.fields) {
        std::memcpy(d, f.name.data(), std::min<size_t>(f.name.size(), kMaxFieldNameLength));
        d[11] = uint8_t(f.type);
        platform::storeLE32(d + 12, f.offset);
        d[16] = uint8_t(f.length);
        d[17] = f.decimals;
        d += kFieldDescriptorSize;
    }
    *d = kFieldTerminator;
    return bytes;
}

std::vector<uint8_t> blankRecord(const RecordLayout& layout) {
    std::vector<uint8_t> record(layout.recordLength, ' ');
    for (const FieldLayout& f : layout.fields) {
        if (!isBinaryField(f)) continue;
        if (f.offset + uint64_t(f.length) > record.size()) continue;
        std::fill_n(record.begin() + f.offset, f.length, uint8_t(0));
    }
    return record;
}

}  // namespace tavrel::kes04
