// TABLEDES and TABLEDET around a conversion: their safety copies in the
// package's backup folder, and the unpacking of the new TABLEDES from the
// table-update zip.
#pragma once

#include <cstdint>
#include <string>

#include "agent/tables/conversion_context.h"

namespace tavrel::tables {

enum class SafeCopyMode : int {
    kSave = 1,     // copy the table's files into the package's backup folder
    kRestore = 2,  // copy them back (only after a whole save)
};

// Save: copies the descriptor table's files that exist into the backup
// folder, notes in the journal the files it lacks, and marks the copy saved
// (journal) when no copy failed. Restore: when marked saved, copies every
// saved file back and deletes the table's files that did not exist when it
// was saved. The safety copies stay, so a restore can be repeated. True when
// the mode's work was done (a restore without a save has none to do).
bool TableDesSafeCopy(ConversionRun& run, SafeCopyMode mode);
bool TableDetSafeCopy(ConversionRun& run, SafeCopyMode mode);

// Extracts the new TABLEDES from the table-update zip into the application
// folder: 1000 (also when there is no table-update zip), or 9210 with
// TABLEDES as it was.
int32_t TableDesUnpack(ConversionRun& run);

}  // namespace tavrel::tables
