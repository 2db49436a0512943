// Fuzz target: open arbitrary bytes as a compound index for a fixed table
// layout, walk every tag both ways, seek, check, and apply a change.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "components/kes04/index/cdx_index.h"
#include "components/kes04/index/key_encoding.h"

using namespace tavrel::kes04::cdx;

namespace {

RecordLayout fuzzLayout() {
    RecordLayout l;
    l.alias = "T";
    l.fields = {FieldDef{"NAME", 'C', 1, 20, 0}, FieldDef{"AMOUNT", 'N', 21, 10, 2},
                FieldDef{"DAY", 'D', 31, 8, 0}, FieldDef{"FLAG", 'L', 39, 1, 0},
                FieldDef{"CODE", 'C', 40, 10, 0}};
    l.recordLength = 50;
    return l;
}

class OneRecord final : public RecordSource {
  public:
    std::vector<uint8_t> row = std::vector<uint8_t>(50, ' ');
    uint32_t recordCount() override { return 3; }
    bool forEach(const std::function<bool(const RecordView&)>& visit) override {
        for (uint32_t r = 1; r <= 3; ++r)
            if (!visit(RecordView{row, r})) break;
        return true;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const RecordLayout layout = fuzzLayout();
    CdxStatus status;
    auto index =
        CdxIndex::open(std::make_unique<MemoryPageStore>(std::vector<uint8_t>(data, data + size)),
                       layout, &status);
    if (!index) return 0;
    for (size_t t = 0; t < index->tagCount(); ++t) {
        CdxTag& tag = index->tag(t);
        CdxCursor c;
        size_t steps = 0;
        for (CdxStatus s = index->first(tag, c); s == CdxStatus::Ok && c.valid && steps < 100000;
             s = index->next(tag, c))
            ++steps;
        steps = 0;
        for (CdxStatus s = index->last(tag, c); s == CdxStatus::Ok && c.valid && steps < 100000;
             s = index->prev(tag, c))
            ++steps;
        bool found;
        index->seek(tag, seekKeyFromText("A", tag.keyType(), tag.keyLength()), c, found);
        index->seek(tag, seekKeyFromText("zz", tag.keyType(), tag.keyLength()), c, found);
    }
    std::vector<std::string> problems;
    index->check(problems);
    OneRecord table;
    index->checkData(table, problems);
    std::vector<uint8_t> after(50, ' ');
    after[1] = 'Q';
    index->applyChange(2, table.row, after);
    index->applyChange(4, {}, after);
    index->flush();
    return 0;
}
