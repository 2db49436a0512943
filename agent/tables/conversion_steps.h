// The steps of a conversion over its work items, each over all items before
// the next begins, and the rollback that undoes them. Each step returns 1000
// or its failure code; a failure ends the step at the failing item.
#pragma once

#include <cstdint>

#include "agent/tables/conversion_context.h"

namespace tavrel::tables {

int32_t Tavrel_CURTABLE_OPEN(ConversionRun& run);
int32_t Tavrel_NEWTABLE_CREATE(ConversionRun& run);
int32_t Tavrel_NEWTABLE_OPEN(ConversionRun& run);
int32_t Tavrel_COPYDATA(ConversionRun& run);
// 9710 when a current table whose data was copied cannot be saved.
int32_t Tavrel_CURTABLE_BACKUP(ConversionRun& run);
// 9720 when a move over a current table fails or is left partial.
int32_t Tavrel_NEWTABLE_INSTALL(ConversionRun& run);
int32_t TABLEDET_UPDATE(ConversionRun& run);

// Closes the tables the steps up to `step` opened, puts back from the backup
// archive every current table whose move had begun, removes the tables the
// conversion put where none stood and the new tables not installed. 0, or
// the number of tables that could not be put back.
int UPDTABLE_ROLLBACK(ConversionRun& run, int32_t result, int step);

}  // namespace tavrel::tables
