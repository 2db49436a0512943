#include "components/kes04/table_check.h"

#include "components/kes04/field_value.h"
#include "components/kes04/table.h"

namespace tavrel::kes04 {

namespace {

void checkMemos(Table& table, TableCheckResult* result) {
    MemoFile* memo = table.memoFile();
    uint32_t nextFree = 0;
    if (!memo || memo->nextFreeBlock(&nextFree) != 0) return;
    const uint64_t limit = uint64_t(nextFree) * memo->blockSize();
    const auto& fields = table.layout().fields;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (!isMemoType(fields[i].type)) continue;
        const std::string where =
            "record " + std::to_string(table.recno()) + " field " + fields[i].name + ": ";
        uint32_t block = 0;
        if (!memoBlock(fields[i], table.record(), &block)) {
            result->faults.push_back(where + "memo pointer is not a block number");
            continue;
        }
        const std::string* text = nullptr;
        if (table.memoText(i, &text) != 0) {
            result->faults.push_back(where + table.lastDetail());
            continue;
        }
        if (block == 0) continue;
        ++result->memos;
        const uint64_t end = uint64_t(block) * memo->blockSize() + 8 + text->size();
        if (end > limit) {
            result->faults.push_back(where + "memo at block " + std::to_string(block) +
                                     " runs past the next free block " + std::to_string(nextFree));
        }
    }
}

}  // namespace

TableCheckResult checkTable(const std::filesystem::path& path) {
    TableCheckResult result;
    TableOptions options;
    options.readOnly = true;
    std::unique_ptr<Table> table;
    std::string detail;
    if (int rc = Table::open(path, options, &table, &detail); rc != 0) {
        result.faults.push_back("cannot open (" + std::to_string(rc) + "): " + detail);
        return result;
    }
    const DbfHeader& header = table->header();
    const uint32_t count = table->recordCount();
    const uint64_t dataEnd = header.headerLength + uint64_t(count) * header.layout.recordLength;
    uint64_t size = 0;
    if (table->dataFileSize(&size) == 0 && size > dataEnd + 1) {
        result.faults.push_back("file has " + std::to_string(size - dataEnd) +
                                " bytes after record " + std::to_string(count) +
                                ", where the header's count says the records end");
    }
    if (MemoFile* memo = table->memoFile()) {
        uint32_t nextFree = 0;
        if (memo->nextFreeBlock(&nextFree) == 0 &&
            uint64_t(nextFree) * memo->blockSize() < kMemoHeaderSize) {
            result.faults.push_back("memo file: next free block " + std::to_string(nextFree) +
                                    " lies inside the 512-byte header");
        }
    }
    for (int rc = table->top(); rc == 0; rc = table->skip(1)) {
        ++result.records;
        const uint8_t flag = table->record()[0];
        if (flag != ' ' && flag != '*') {
            result.faults.push_back("record " + std::to_string(table->recno()) +
                                    ": deletion flag is byte " + std::to_string(flag) +
                                    ", neither ' ' nor '*'");
        }
        checkMemos(*table, &result);
    }
    table->close();
    return result;
}

}  // namespace tavrel::kes04
