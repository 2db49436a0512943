// The record model that the table engine and the index library share: the
// fields of a table's records, the record layout as a whole, and a tag as it
// is asked for when a table is created.
//
// The table fills a `RecordLayout` from its header when it opens and keeps it
// for as long as it is open; indexes copy it. Key and filter expressions are
// parsed against it. Plain values with no behaviour beyond `find`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text_rules.h"

namespace tavrel::kes04 {

// One field of a record, as stored.
struct FieldLayout {
    std::string name;      // Upper case as in the file, at most 10 characters.
    char type = 'C';       // Type letter: C N F D L M, and as found: I B Y T G P W 0 ...
    uint32_t offset = 1;   // Offset of the field's first byte in the record (>= 1).
    uint32_t length = 0;   // Stored width in bytes.
    uint8_t decimals = 0;  // Decimal places (N, F, B, Y); 0 otherwise.
    uint8_t flags = 0;     // Visual FoxPro field flags (0x01 system, 0x02 nullable, 0x04 binary).
};

// The record layout of one table.
struct RecordLayout {
    // The table's alias: the upper-case base name of its data file, empty
    // when the layout belongs to no file. Expressions may qualify field
    // names with it ("CUSTOMER->NAME", "customer.name").
    std::string alias;
    std::vector<FieldLayout> fields;  // In file order.
    uint32_t recordLength = 1;        // Including the deletion flag at offset 0.
    uint8_t version = 0x03;           // Version byte of the table header.
    uint8_t codePage = 0;  // Code-page mark of the table header (bytes are kept as found).

    // The field named `name` (without regard to case, ASCII letters only), or null.
    const FieldLayout* find(std::string_view name) const {
        for (const FieldLayout& f : fields) {
            if (platform::sameTextIgnoringCase(f.name, name)) return &f;
        }
        return nullptr;
    }
};

// What a tag does with records whose keys are equal. The values are those of
// the C interface's codes that mean the same (TAG4INFO.unique; its 15, a
// candidate key, behaves as kRefuse); never renumber them.
enum class TagUniqueness : int {
    kNone = 0,       // Every record has its entry.
    kRefuse = 20,    // A second record with a key is refused (stored as a candidate tag).
    kContinue = 25,  // The first record of each key keeps it; later ones get no entry.
};

// A tag as it is asked for when a table or an index is created.
struct TagSpec {
    std::string name;        // Up to 10 letters, digits and '_'.
    std::string expression;  // Key expression.
    std::string filter;      // FOR expression; empty for none.
    TagUniqueness uniqueness = TagUniqueness::kNone;
    bool descending = false;  // Walked from the largest key.
};

}  // namespace tavrel::kes04
