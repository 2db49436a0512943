// Fuzz target: open arbitrary bytes as a compound index for a fixed table
// layout, walk every tag both ways, seek, check, and apply changes. Inputs
// that start with 0x00 instead damage a sound index: each following 4-byte
// group is an offset (3 bytes, little-endian, modulo the file size) and the
// byte to put there, so the fuzzer reaches deep into real trees at once.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "components/kes04/index/cdx_index.h"
#include "components/kes04/index/key_encoding.h"

using namespace tavrel::kes04::cdx;
using tavrel::kes04::FieldLayout;
using tavrel::kes04::RecordLayout;
using tavrel::kes04::TagSpec;
using tavrel::kes04::TagUniqueness;

namespace {

RecordLayout fuzzLayout() {
    RecordLayout l;
    l.alias = "T";
    l.fields = {FieldLayout{"NAME", 'C', 1, 20, 0}, FieldLayout{"AMOUNT", 'N', 21, 10, 2},
                FieldLayout{"DAY", 'D', 31, 8, 0}, FieldLayout{"FLAG", 'L', 39, 1, 0},
                FieldLayout{"CODE", 'C', 40, 10, 0}};
    l.recordLength = 50;
    return l;
}

std::vector<uint8_t> row(uint32_t r) {
    std::vector<uint8_t> b(50, ' ');
    for (uint32_t i = 1; i <= 20; ++i) b[i] = uint8_t('A' + (r * 7 + i * (r % 5)) % 26);
    for (uint32_t i = 21; i <= 30; ++i) b[i] = uint8_t('0' + (r * 3 + i) % 10);
    b[39] = r % 2 ? 'T' : 'F';
    for (uint32_t i = 40; i < 50; ++i) b[i] = uint8_t('a' + (r + i) % 3);
    return b;
}

class Rows final : public RecordSource {
  public:
    uint32_t recordCount() override { return 300; }
    bool forEach(const std::function<bool(const RecordView&)>& visit) override {
        for (uint32_t r = 1; r <= 300; ++r) {
            const std::vector<uint8_t> b = row(r);
            if (!visit(RecordView{b, r})) break;
        }
        return true;
    }
};

// A sound index of five tags over 300 records (several levels deep), built once.
const std::vector<uint8_t>& soundIndex(const RecordLayout& layout) {
    static const std::vector<uint8_t> bytes = [&] {
        CdxStatus s;
        auto index = CdxIndex::create(std::make_unique<MemoryPageStore>(), layout, &s);
        index->addTag(TagSpec{"NAME", "UPPER(NAME)", "", TagUniqueness::kNone, false});
        index->addTag(TagSpec{"AMOUNT", "AMOUNT", ".NOT. DELETED()", TagUniqueness::kNone, true});
        index->addTag(TagSpec{"CODE", "CODE+DTOS(DAY)", "", TagUniqueness::kContinue, false});
        index->addTag(TagSpec{"FLAG", "FLAG", "", TagUniqueness::kContinue, false});
        index->addTag(
            TagSpec{"LONGKEY", "NAME+NAME+NAME+NAME+NAME+NAME", "", TagUniqueness::kNone, false});
        for (uint32_t r = 1; r <= 300; ++r) index->applyChange(r, {}, row(r));
        index->flush();
        return static_cast<MemoryPageStore&>(index->store()).bytes();
    }();
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const RecordLayout layout = fuzzLayout();
    std::vector<uint8_t> file;
    if (size > 0 && data[0] == 0) {
        file = soundIndex(layout);
        for (size_t i = 1; i + 4 <= size; i += 4) {
            const size_t at =
                (size_t(data[i]) | size_t(data[i + 1]) << 8 | size_t(data[i + 2]) << 16) %
                file.size();
            file[at] = data[i + 3];
        }
    } else {
        file.assign(data, data + size);
    }
    CdxStatus status;
    auto index =
        CdxIndex::open(std::make_unique<MemoryPageStore>(std::move(file)), layout, &status);
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
        index->seek(tag, seekKeyFromText("K", tag.keyType(), tag.keyLength()), c, found);
        index->seek(tag, seekKeyFromText("zz", tag.keyType(), tag.keyLength()), c, found);
    }
    std::vector<std::string> problems;
    Rows rows;
    index->checkData(rows, problems);
    index->applyChange(7, row(7), row(8));
    index->applyChange(301, {}, row(9));
    index->flush();
    // Batched appends merged on use, a change that reaches them, a rebuild.
    index->setDeferAppends(true);
    for (uint32_t r = 302; r < 310; ++r) index->applyChange(r, {}, row(r));
    index->applyChange(303, row(303), row(1));
    if (index->tagCount() > 0) {
        CdxCursor c;
        index->first(index->tag(0), c);
    }
    index->refresh();
    index->reindex(rows);
    index->flush();
    return 0;
}
