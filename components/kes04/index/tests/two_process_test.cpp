// Two processes appending to one indexed table at the same time (through
// KES04.DLL in shared mode) end with intact tags holding every record.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "components/kes04/index/tests/table_support.h"

namespace tavrel::kes04::cdx {
namespace {

using testing::access;
using testing::TempFolder;

std::string runShell(const std::string& command, int* status) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int rc = ::pclose(pipe);
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

TEST(TwoProcesses, AppendingAtOnceKeepsEveryTagIntact) {
    setIndexFactory(&CdxTableIndex::factory);
    TempFolder dir;
    const std::vector<FieldSpec> fields = {
        {"ID", 'C', 12, 0}, {"N", 'N', 6, 0}, {"NOTES", 'M', 10, 0}};
    const std::vector<kes04::TagSpec> tags = {
        {"ID", "ID", "", TagUniqueness::kNone, false},
        {"N_BACK", "N", "", TagUniqueness::kNone, true},
        {"EVEN", "UPPER(ID)", "VAL(RIGHT(TRIM(ID), 1)) < 5", TagUniqueness::kNone, false}};
    std::unique_ptr<Table> table;
    std::string detail;
    ASSERT_EQ(Table::create(dir / "SHARED", fields, tags, true, access(AccessMode::kDenyNone),
                            &table, &detail),
              0)
        << detail;
    ASSERT_EQ(table->close(), 0);
    table.reset();

    const char* bin = std::getenv("TAVREL_BIN_DIR");
    ASSERT_NE(bin, nullptr);
    const std::string helper = std::string(bin) + "/kes04_append_helper " + bin + "/KES04.DLL " +
                               (dir / "SHARED").string();
    const int count = 2000;
    int status = -1;
    const std::string out =
        runShell("(" + helper + " A " + std::to_string(count) + " & a=$!; " + helper + " B " +
                     std::to_string(count) + " & b=$!; wait $a; ra=$?; wait $b; echo $ra $?)",
                 &status);
    ASSERT_EQ(out, "0 0\n");

    ASSERT_EQ(Table::open(dir / "SHARED", access(AccessMode::kDenyRW), &table, &detail), 0)
        << detail;
    ASSERT_EQ(table->recordCount(), uint32_t(2 * count));
    auto* index = static_cast<CdxTableIndex*>(table->index());
    std::vector<std::string> problems;
    EXPECT_EQ(index->check(problems), 0);
    for (const auto& p : problems) ADD_FAILURE() << p;
    index->select(index->findTag("ID"));
    uint32_t n = 0;
    for (int rc = table->top(); rc == 0 && !table->eof(); rc = table->skip(1)) ++n;
    EXPECT_EQ(n, uint32_t(2 * count));
    uint32_t recno;
    EXPECT_EQ(index->seek("B-1999", &recno), 0);
    EXPECT_EQ(index->seek("A-0", &recno), 0);
    table->close();
}

}  // namespace
}  // namespace tavrel::kes04::cdx
