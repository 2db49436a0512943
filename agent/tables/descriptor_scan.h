// The comparison of the incoming descriptors (TABLEDES) with the installed
// ones (TABLEDET) that turns every changed or new table of group LICTBL into
// work items, one per data folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/tables/tbl_update.h"

namespace tavrel::tables {

// Results of the scan; the numbers are the conversion's own.
enum class ScanResult : int32_t {
    kContinue = 1000,     // work items were made
    kNothingToDo = 8200,  // no table needs converting
};

// Receives a conversion log entry: its code (1100, 1101, 1601, 4101) and text.
using ScanLog = std::function<void(int code, const std::string& text)>;

// The data folders "DATA00" to "DATA10" that exist in `applicationFolder`,
// in ascending order.
std::vector<std::string> DataFoldersFind(const std::string& applicationFolder);

// 1 when the field or tag lists of `a` and `b` differ in entry count or in
// any compared part (trimmed, upper case), 0 when they are the same.
int TblInfoCompare(const TBL_INFO& a, const TBL_INFO& b);

// Seeks the descriptor of `path` + "\" + `name` on the tag TBL_ORDER of
// `data` (selecting it). True only when positioned on the row whose
// trimmed TBL_PATH and TBL_NAME equal those asked for (any case): a row whose
// key merely starts with the one sought is another table's.
bool seekDescriptor(DatabaseEngine& engine, DATA4* data, std::string_view path,
                    std::string_view name);

struct ScanTables {
    DATA4* tabledes = nullptr;
    DATA4* tabledet = nullptr;
};

// Fills `items` with a work item per changed or new LICTBL table and data
// folder (descriptors registered in `infos`), makes each item's folders, and
// logs as the conversion log wants. kContinue, or kNothingToDo when no item
// was made.
ScanResult Update_Scan_TABLEDES(DatabaseEngine& engine, ScanTables tables,
                                const std::string& applicationFolder,
                                const std::vector<std::string>& dataFolders, TBL_INFOS& infos,
                                TBL_UPDATES& items, const ScanLog& log);

}  // namespace tavrel::tables
