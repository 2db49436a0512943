// Opens arbitrary bytes as a table and its memo file and reads everything:
// every record, every field as text, every memo. Input: two bytes (LE) giving
// the length of the .DBF part, then the .DBF bytes, then the memo file's bytes
// (offered both as .FPT and as dBASE .DBT).
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "components/kes04/field_value.h"
#include "components/kes04/table.h"

namespace {

std::filesystem::path folder() {
    static const std::filesystem::path path = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kes04-fuzz-XXXXXX").string();
        return std::filesystem::path(::mkdtemp(pattern.data()));
    }();
    return path;
}

void write(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tavrel::kes04;
    if (size < 2) return 0;
    size_t dbfSize = std::min<size_t>(size - 2, size_t(data[0]) | (size_t(data[1]) << 8));
    write(folder() / "F.DBF", data + 2, dbfSize);
    write(folder() / "F.FPT", data + 2 + dbfSize, size - 2 - dbfSize);
    write(folder() / "F.DBT", data + 2 + dbfSize, size - 2 - dbfSize);

    TableOptions options;
    options.accessMode = AccessMode::kDenyRW;
    std::unique_ptr<Table> table;
    std::string detail;
    if (Table::open(folder() / "F.DBF", options, &table, &detail) != 0) return 0;
    size_t sum = 0;
    for (int rc = table->top(); rc == 0; rc = table->skip(1)) {
        for (size_t i = 0; i < table->layout().fields.size(); ++i) {
            sum += displayText(table->layout().fields[i], table->record()).size();
            const std::string* text = nullptr;
            if (table->memoText(i, &text) == 0) sum += text->size();
        }
        sum += table->deleted();
    }
    table->bottom();
    table->skip(-1);
    table->close();
    return sum == size_t(-1);
}
