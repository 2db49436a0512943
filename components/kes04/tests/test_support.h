// Helpers of the engine's tests: a fresh folder per test, file bytes, tables
// made through the C++ engine, and running other programs.
#pragma once

#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "components/kes04/field_value.h"
#include "components/kes04/table.h"
#include "platform/tests/temp_folder.h"

namespace tavrel::kes04::testing {

using TempDir = platform::testing::TempFolder;
using platform::testing::readBytes;
using platform::testing::writeBytes;

inline TableOptions exclusive() {
    TableOptions o;
    o.accessMode = AccessMode::kDenyRW;
    return o;
}

inline TableOptions sharedAccess() {
    TableOptions o;
    o.accessMode = AccessMode::kDenyNone;
    o.lockWait = std::chrono::milliseconds(20000);
    return o;
}

inline std::unique_ptr<Table> createTable(const std::filesystem::path& path,
                                          const std::vector<FieldSpec>& fields,
                                          const TableOptions& options = exclusive()) {
    std::unique_ptr<Table> table;
    std::string detail;
    int rc = Table::create(path, fields, {}, false, options, &table, &detail);
    if (rc != 0) throw std::runtime_error("create failed: " + detail);
    return table;
}

inline std::unique_ptr<Table> openTable(const std::filesystem::path& path,
                                        const TableOptions& options = exclusive(),
                                        int* rc = nullptr, std::string* detail = nullptr) {
    std::unique_ptr<Table> table;
    std::string ignored;
    int result = Table::open(path, options, &table, detail ? detail : &ignored);
    if (rc) *rc = result;
    return table;
}

// Field `name` of the current record as text (memo text for memo fields).
inline std::string text(Table& table, const std::string& name) {
    const FieldLayout* f = table.layout().find(name);
    if (!f) throw std::runtime_error("no field " + name);
    size_t index = size_t(f - table.layout().fields.data());
    if (isMemoType(f->type)) {
        const std::string* memo = nullptr;
        if (table.memoText(index, &memo) != 0) throw std::runtime_error(table.lastDetail());
        return *memo;
    }
    return displayText(*f, table.record());
}

inline int assign(Table& table, const std::string& name, std::string_view value) {
    const FieldLayout* f = table.layout().find(name);
    if (!f) throw std::runtime_error("no field " + name);
    return table.assignText(size_t(f - table.layout().fields.data()), value);
}

// Runs a shell command; gives its standard output and sets `*status` to its exit code.
inline std::string run(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    int rc = ::pclose(pipe);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

inline std::string sourceDir() {
    const char* dir = std::getenv("TAVREL_SOURCE_DIR");
    return dir ? dir : TAVREL_TEST_SOURCE_DIR;
}

inline std::string binDir() {
    const char* dir = std::getenv("TAVREL_BIN_DIR");
    return dir ? dir : TAVREL_TEST_BIN_DIR;
}

}  // namespace tavrel::kes04::testing
