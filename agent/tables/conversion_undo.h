// Undoing a conversion: from its work items after a failed step (the
// rollback, conversion_steps.h), and from its journal after a run that was
// cut short. Private to the conversion.
#pragma once

#include "agent/tables/conversion_context.h"

namespace tavrel::tables {

// Removes the folders that did not exist when the run began and are empty now.
void removeAbsentFolders(ConversionRun& run);

// TABLEDES and TABLEDET from their safety copies, then the folders the run
// made. True when both tables are back.
bool restoreDescriptors(ConversionRun& run);

// Everything the journal in run.journal records, undone; the journal then
// says rolled back. Repeatable.
RecoveryResult undoFromJournal(ConversionRun& run);

}  // namespace tavrel::tables
