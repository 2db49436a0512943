// The fields of a descriptor table (TABLEDES, TABLEDET) as the tests create
// them, the checksum field left for each test to put in front or leave out.
#pragma once

#include <vector>

#include "agent/tables/database_engine.h"

namespace tavrel::tables::testing {

inline const std::vector<FIELD4INFO> kDescriptorFields = {
    {"TBL_NAME", 'C', 20, 0, 0},  {"TBL_PATH", 'C', 10, 0, 0},   {"ENABLED", 'C', 1, 0, 0},
    {"VERSIONID", 'C', 10, 0, 0}, {"USER_TBL", 'N', 6, 0, 0},    {"HAS_CHKSUM", 'N', 6, 0, 0},
    {"TRAINING", 'N', 6, 0, 0},   {"NFIELDS", 'N', 6, 0, 0},     {"NTAGS", 'N', 6, 0, 0},
    {"NLISTVIEWS", 'N', 6, 0, 0}, {"FIELDARRAY", 'M', 10, 0, 0}, {"TAGARRAY", 'M', 10, 0, 0},
    {"LISTVIEW", 'M', 10, 0, 0}};

}  // namespace tavrel::tables::testing
