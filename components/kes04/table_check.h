// Structural checks of a table and its memo file, for tools and tests.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tavrel::kes04 {

struct TableCheckResult {
    std::vector<std::string> faults;  // One sentence each, saying where.
    uint32_t records = 0;             // Records checked.
    uint32_t memos = 0;               // Non-empty memos checked.
};

// Opens the table read-only and checks: the header against the file size
// (records end where the count says, optionally followed by the 0x1A mark and
// nothing else), every deletion flag (' ' or '*'), and every memo pointer
// (a number that leads to a memo lying wholly inside the memo file and before
// its next-free block). A table that does not open is one fault.
TableCheckResult checkTable(const std::filesystem::path& path);

}  // namespace tavrel::kes04
