// A small in-memory table for the index tests: a fixed layout, records built
// from field texts, and a RecordSource over them.
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "components/kes04/index/cdx_index.h"

namespace tavrel::kes04::cdx::testing {

// NAME C(20), CODE C(10), AMOUNT N(10,2), DAY D, FLAG L, NOTE C(60).
inline RecordLayout sampleLayout() {
    RecordLayout l;
    l.alias = "PEOPLE";
    uint32_t offset = 1;
    auto add = [&](const char* name, char type, uint32_t len, uint8_t dec) {
        l.fields.push_back(FieldLayout{name, type, offset, len, dec});
        offset += len;
    };
    add("NAME", 'C', 20, 0);
    add("CODE", 'C', 10, 0);
    add("AMOUNT", 'N', 10, 2);
    add("DAY", 'D', 8, 0);
    add("FLAG", 'L', 1, 0);
    add("NOTE", 'C', 60, 0);
    l.recordLength = offset;
    return l;
}

class Records {
  public:
    explicit Records(RecordLayout layout) : m_layout(std::move(layout)) {}

    std::vector<uint8_t> blank() const { return std::vector<uint8_t>(m_layout.recordLength, ' '); }

    // Stores `text` in field `name` the way a table does: C left-aligned, N
    // right-aligned, D and L as given.
    void set(std::vector<uint8_t>& rec, const char* name, const std::string& text) const {
        const FieldLayout* f = m_layout.find(name);
        std::string v = text.substr(0, f->length);
        if (f->type == 'N' && v.size() < f->length) v = std::string(f->length - v.size(), ' ') + v;
        v.resize(f->length, ' ');
        std::memcpy(rec.data() + f->offset, v.data(), f->length);
    }
    std::vector<uint8_t> make(const std::string& name, const std::string& code, double amount,
                              const std::string& day = "", bool flag = false) const {
        std::vector<uint8_t> r = blank();
        set(r, "NAME", name);
        set(r, "CODE", code);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%10.2f", amount);
        set(r, "AMOUNT", buf);
        set(r, "DAY", day);
        set(r, "FLAG", flag ? "T" : "F");
        return r;
    }
    const RecordLayout& layout() const { return m_layout; }

  private:
    RecordLayout m_layout;
};

// The records of a table in memory: record n is rows[n - 1].
class MemorySource final : public RecordSource {
  public:
    std::vector<std::vector<uint8_t>> rows;
    uint32_t recordCount() override { return uint32_t(rows.size()); }
    bool forEach(const std::function<bool(const RecordView&)>& visit) override {
        for (size_t i = 0; i < rows.size(); ++i)
            if (!visit(RecordView{rows[i], uint32_t(i + 1)})) break;
        return true;
    }
};

}  // namespace tavrel::kes04::cdx::testing
