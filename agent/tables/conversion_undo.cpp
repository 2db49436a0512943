#include "agent/tables/conversion_undo.h"

#include "agent/tables/descriptor_safety.h"
#include "agent/tables/table_backup_archive.h"
#include "agent/tables/table_operations.h"
#include "platform/crash_point.h"
#include "platform/files.h"

namespace tavrel::tables {
namespace {

struct TablePlace {
    std::string folder;  // relative to the application folder
    std::string name;
};

TablePlace placeOf(const std::string& journalPath) {
    const size_t cut = journalPath.find_last_of('/');
    if (cut == std::string::npos) return {"", journalPath};
    return {journalPath.substr(0, cut), journalPath.substr(cut + 1)};
}

bool removeJournalTable(ConversionRun& run, const std::string& journalPath) {
    const TablePlace place = placeOf(journalPath);
    return TableRemove(run, platform::joinPath(run.names.applicationFolder, place.folder),
                       place.name);
}

}  // namespace

void removeAbsentFolders(ConversionRun& run) {
    const auto& folders = run.journal.absentFolders;
    // Recorded parents first, so the walk backwards meets children first.
    for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
        const std::string path = platform::joinPath(run.names.applicationFolder, *it);
        if (!platform::folderExists(path)) continue;
        if (!platform::listFiles(path).empty() || !platform::listFolders(path).empty()) continue;
        platform::crashPoint("delete folder " + *it);
        platform::deleteFolderTree(path);
    }
}

bool restoreDescriptors(ConversionRun& run) {
    const bool des = TableDesSafeCopy(run, SafeCopyMode::kRestore);
    const bool det = TableDetSafeCopy(run, SafeCopyMode::kRestore);
    removeAbsentFolders(run);
    return des && det;
}

RecoveryResult undoFromJournal(ConversionRun& run) {
    RecoveryResult result = RecoveryResult::kDone;
    for (const std::string& table : run.journal.newTables) removeJournalTable(run, table);
    for (const std::string& table : run.journal.movedTables) {
        const TablePlace place = placeOf(table);
        if (!restoreTableFromArchive(run, place.folder, place.name)) {
            result = RecoveryResult::kArchiveFailed;
        }
    }
    for (const std::string& table : run.journal.addedTables) {
        if (!removeJournalTable(run, table)) result = RecoveryResult::kArchiveFailed;
    }
    if (!restoreDescriptors(run) && result == RecoveryResult::kDone) {
        result = RecoveryResult::kDescriptorsFailed;
    }
    // A journal that still says converting lets the next start try again.
    if (result != RecoveryResult::kDone) return result;
    run.journal.state = JournalState::kRolledBack;
    if (saveConversionJournal(conversionJournalFile(run.names.packageBackupFolder), run.journal) !=
        0) {
        return RecoveryResult::kJournalNotWritten;
    }
    return RecoveryResult::kDone;
}

}  // namespace tavrel::tables
