// Helpers for tests that run the index inside real tables.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "components/kes04/index/cdx_table_index.h"
#include "components/kes04/table.h"

namespace tavrel::kes04::cdx::testing {

class TempFolder {
  public:
    TempFolder() {
        std::random_device rd;
        m_path = std::filesystem::temp_directory_path() /
                 ("kes04_index_" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(m_path);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
    const std::filesystem::path& path() const { return m_path; }

  private:
    std::filesystem::path m_path;
};

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
