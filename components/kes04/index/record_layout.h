// The view of a table record that key and filter expressions evaluate over.
//
// The index library does not read tables itself: the engine describes its
// record layout once and hands over record bytes (offset 0 is the deletion
// flag, ' ' live or '*' deleted) with the record number.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::kes04::cdx {

// One field of the record: name as in the table header (upper case, at most
// 10 characters), type letter (C, N, F, D, L, M, I, B, Y, T, ...), offset of
// its first byte in the record (the deletion flag is byte 0), width, decimals.
struct FieldDef {
    std::string name;
    char type = 'C';
    uint32_t offset = 1;
    uint32_t length = 1;
    uint32_t decimals = 0;
};

struct RecordLayout {
    // The table's alias (its base name); an expression may qualify field
    // names with it ("CUSTOMER->NAME", "customer.name").
    std::string alias;
    std::vector<FieldDef> fields;
    // Bytes per record including the deletion flag.
    uint32_t recordLength = 1;

    // The field named `name` (case-insensitive), or null.
    const FieldDef* find(std::string_view name) const;
};

// One record to evaluate an expression on. `bytes` must hold at least the
// layout's record length; shorter buffers read as blanks past their end.
struct RecordView {
    std::span<const uint8_t> bytes;
    uint32_t recno = 0;
    bool deleted() const { return !bytes.empty() && bytes[0] == '*'; }
};

// Case-insensitive ASCII comparison of two names.
bool sameName(std::string_view a, std::string_view b);

}  // namespace tavrel::kes04::cdx
