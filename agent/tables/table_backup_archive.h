// The backup archive of a conversion (TBLFILES<id>.ZIP in the package folder):
// every current table is saved into it before a new table replaces it, and
// put back from it by a rollback, a recovery or the installation.
//
// Entries are stored under their path relative to the application folder. An
// entry whose stored path could land outside the target folder is refused by
// the zip component, and with it the whole extraction.
#pragma once

#include <cstdint>
#include <string>

#include "agent/tables/conversion_context.h"

namespace tavrel::tables {

// Adds the table's files to the archive (opened, or made when missing) and
// writes it: 1001, or 0 when no file was taken or the archive cannot be written.
int32_t UPDTABLE_BACKUP_FILESPUT(ConversionRun& run, const std::string& folder,
                                 const std::string& name, const std::string& applicationFolder);
// The two halves of UPDTABLE_BACKUP_FILESPUT, for saving several tables with
// one write of the archive: the table's files added to the archive (opened,
// or made when missing, on the first call), false when no file was taken;
// then the archive written with everything added, false when it cannot be
// (the archive on disk is then as it was before the first add).
bool addTableToArchive(ConversionRun& run, const std::string& folder, const std::string& name,
                       const std::string& applicationFolder);
bool writeArchive(ConversionRun& run);

// Extracts the table's saved files to their places: 1005, or 0.
int32_t UPDTABLE_BACKUP_FILESGET(ConversionRun& run, const std::string& folder,
                                 const std::string& name, const std::string& applicationFolder);
// Extracts every entry below `baseFolder`, keeping the stored folders: 1005, or 0.
int32_t UPDTABLE_BACKUP_FILESGETALL(ConversionRun& run, const std::string& baseFolder);

// Puts the table `relativeFolder`/`name` back exactly as it was saved: the
// saved files extracted over the current ones and the table's files that the
// archive lacks deleted. True when done; false leaves the archive as it is.
bool restoreTableFromArchive(ConversionRun& run, const std::string& relativeFolder,
                             const std::string& name);

}  // namespace tavrel::tables
