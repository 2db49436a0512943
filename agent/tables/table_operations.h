// The table-file operations of the conversion: file tests, open, create,
// record copy, move and removal. Names are given without extension; a table
// is its ".DBF", ".CDX" and ".FPT" files in one folder. Every operation that
// changes the application folder passes a crash point first.
#pragma once

#include <cstdint>
#include <string>

#include "agent/tables/conversion_context.h"

namespace tavrel::tables {

// 1501 present; 1511 no ".DBF"; 1521 no ".CDX" (only asked with needIndex);
// 1531 no ".FPT" (only asked with needMemo).
int32_t TableFilesTest(const std::string& folder, const std::string& name, bool needIndex,
                       bool needMemo);

// Opens `name` (a full path when `folder` is empty). Returns 1 with `*data`
// set, -1 when the ".DBF" is missing, -9100 when the engine refused (error
// read, cleared and logged). Log entries 2101, 2102, 2109.
int32_t TableOpen(ConversionRun& run, const std::string& name, const std::string& folder,
                  DATA4** data);

// Creates the item's new table in `folder` from its create descriptions and
// closes it: 1, or -1 (entry 1209 with the engine error).
int32_t TableCreate(ConversionRun& run, TBL_UPDATE& item, const std::string& folder,
                    const std::string& name);

// Copies one field's text (memo text for memos) into the target's field of
// the same name (or `targetName`): 0, -210 when either side lacks the field,
// or the engine's code. With logMissing a missing field writes entry 6100.
int FieldCopy(ConversionRun& run, DATA4* source, const std::string& fieldName, DATA4* target,
              const std::string& targetName, bool logMissing);

// Copies every record of the item's current table into its new one, with
// CHECK_SUM stamped where the new table has it. Returns 1.
int32_t TableCopyRecords(ConversionRun& run, TBL_UPDATE& item);

// Puts the source table's files over the target's: moved (renamed) with
// `deleteSource`, else copied. 1010, or 0 after any failure (the files
// moved or copied so far stay where they went).
int32_t TableMove(ConversionRun& run, const std::string& sourceFolder,
                  const std::string& sourceName, const std::string& targetFolder,
                  const std::string& targetName, bool deleteSource);

// Deletes the table's files where present (entry 1402 each). True when none
// is left.
bool TableRemove(ConversionRun& run, const std::string& folder, const std::string& name);

// Closes the table in `*data` when open; on success the handle becomes null.
void closeTable(ConversionRun& run, DATA4** data);

}  // namespace tavrel::tables
