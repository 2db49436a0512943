// Helpers for tests that run the index inside real tables.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "components/kes04/index/cdx_table_index.h"
#include "components/kes04/table.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::kes04::cdx::testing {

using platform::testing::TempFolder;

inline TableOptions access(AccessMode mode) {
    TableOptions o;
    o.accessMode = mode;
    return o;
}

inline int assignField(Table& t, const std::string& name, std::string_view value) {
    for (size_t i = 0; i < t.layout().fields.size(); ++i)
        if (t.layout().fields[i].name == name) return t.assignText(i, value);
    return -1;
}

inline std::string fieldText(Table& t, const std::string& name) {
    const FieldLayout* f = t.layout().find(name);
    return f ? std::string(reinterpret_cast<const char*>(t.record()) + f->offset, f->length) : "";
}

}  // namespace tavrel::kes04::cdx::testing
