// Fuzz target for the PE version-resource reader and the version tree.
//
// Each input is read twice: as a whole file (headers, sections, resource
// directory, then the tree and every query the exports make), and as a bare
// version resource, so the tree parser also meets inputs that are not PE files.
//
// Seed corpus: kesver1_make_seeds <folder> writes the test fixtures.
#include <cstddef>
#include <cstdint>
#include <span>

#include "kesver1/byte_source.h"
#include "kesver1/pe_resource_reader.h"
#include "kesver1/version_record.h"

namespace {

using namespace tavrel::kesver1;

void readTree(std::vector<uint8_t> bytes) {
    const VersionTree tree(std::move(bytes));
    if (!tree.isValid()) return;
    VersionRecord record;
    fillRecord(tree, record);
    for (const auto& text : {record.comments, record.companyName, record.fileVersionText}) {
        if (text.size() > kMaxTextLength) __builtin_trap();
    }
    (void)dottedVersion(record, kFileVersion | kPart1 | kPart2 | kPart3 | kPart4);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    const MemorySource source(bytes);
    PeReadResult result = readVersionResource(source);
    if (result.error == PeError::kNone) readTree(std::move(result.bytes));
    readTree(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    return 0;
}
