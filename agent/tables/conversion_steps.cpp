#include "agent/tables/conversion_steps.h"

#include <functional>
#include <string>
#include <vector>

#include "agent/tables/descriptor_scan.h"
#include "agent/tables/engine_fields.h"
#include "agent/tables/record_checksums.h"
#include "agent/tables/table_backup_archive.h"
#include "agent/tables/table_operations.h"
#include "platform/crash_point.h"

namespace tavrel::tables {
namespace {

constexpr int32_t kContinue = int32_t(ConversionCode::kContinue);
constexpr TableSelector kCurrent = TableSelector::kCurrent;
constexpr TableSelector kNew = TableSelector::kNew;

struct StepFrame {
    const char* name;        // as the start entry writes it
    const char* finishName;  // as the finish entry writes it
    bool separator;          // entry 1103 after the engine check
    bool yields;             // let the window repaint after each item
};

using ItemWork = std::function<int32_t(TBL_UPDATE& item, size_t index)>;
using StepEnd = std::function<int32_t()>;

// `end`, when given, runs after the last item of a step that did not fail and
// gives the step's result.
int32_t runStep(ConversionRun& run, const StepFrame& frame, const ItemWork& work,
                const StepEnd& end = {}) {
    const size_t count = run.items.Count();
    run.write(1100, std::string(frame.name) + std::to_string(count));
    run.checkEngine(frame.name);
    if (frame.separator) run.write(1103);
    run.tools.progress.ProgressText(2, "");
    run.tools.progress.ProgressValue(2, 0, int64_t(count));
    int32_t result = kContinue;
    for (size_t i = 1; i <= count && result == kContinue; ++i) {
        TBL_UPDATE& item = *run.items.Item(i);
        if (item.TestResult <= 0) continue;
        result = work(item, i - 1);
        if (result != kContinue) break;
        run.tools.progress.ProgressValue(2, int64_t(i), -1);
        if (frame.yields) run.yield();
    }
    if (result == kContinue && end) result = end();
    run.write(1101, std::string(frame.finishName) + std::to_string(result));
    return result;
}

bool present(const TBL_UPDATE& item, int slot) { return item.TBLExists[slot] == kTablePresent; }

std::string journalPath(ConversionRun& run, TBL_UPDATE& item) {
    return run.relativeToApplication(item.FILE_GET(kCurrent));
}

// Notes in the journal, before the first file is copied, that this table's
// move begins: a saved table to put back, or a table that stood nowhere.
void journalMove(ConversionRun& run, TBL_UPDATE& item, size_t index) {
    auto& list = present(item, 0) ? run.journal.movedTables : run.journal.addedTables;
    list.push_back(journalPath(run, item));
    saveConversionJournal(conversionJournalFile(run.names.packageBackupFolder), run.journal);
    run.moveBegun[index] = 1;
}

bool selectOrder(ConversionRun& run, DATA4* data) {
    TAG4* tag = K4(run.library(), d4tag, data, "TBL_ORDER");
    if (tag == nullptr) {
        run.engine().checkError("d4tag TBL_ORDER");
        return false;
    }
    K4(run.library(), d4tagSelect, data, tag);
    return true;
}

void recordDescriptor(ConversionRun& run, TBL_INFO& info) {
    info.Version(run.names.tableUpdateId);
    DATA4* det = run.tabledet;
    Kes04Library& library = run.library();
    if (!seekDescriptor(run.engine(), det, info.DBFPath(), info.DBFName())) {
        platform::crashPoint("append TABLEDET row");
        if (K4(library, d4appendBlank, det) != 0) {
            run.engine().checkError("d4appendBlank TABLEDET");
            return;
        }
    }
    platform::crashPoint("write TABLEDET row");
    info.INFOPUT(run.engine(), det);
    if (flushTable(run.engine(), det)) unlockTable(run.engine(), det);
    run.write(4201, info.key());
}

}  // namespace

int32_t Tavrel_CURTABLE_OPEN(ConversionRun& run) {
    const StepFrame frame{"Tavrel_CURTABLE_OPEN ", "Tavrel_CURTABLE_OPEN ", true, false};
    return runStep(run, frame, [&](TBL_UPDATE& item, size_t) {
        const std::string path = item.FILE_GET(kCurrent);
        run.tools.progress.ProgressText(2, path);
        item.TBLExists[0] =
            TableFilesTest(item.FOLDER_GET(kCurrent), item.TABLE_NAME(kCurrent), false, false);
        if (!present(item, 0)) {
            run.write(2102, path);
            return kContinue;
        }
        if (TableOpen(run, path, "", &item.TBLFile[0]) == kOpenFailed) {
            return int32_t(ConversionCode::kCurrentOpenFailed);
        }
        return kContinue;
    });
}

int32_t Tavrel_NEWTABLE_CREATE(ConversionRun& run) {
    const StepFrame frame{"Tavrel_NEWTABLE_CREATE ", "Tavrel_NEWTABLE_CREATE ", true, true};
    return runStep(run, frame, [&](TBL_UPDATE& item, size_t) {
        TblInfoBuildCreateInfo(item);
        run.tools.progress.ProgressText(2, item.FILE_GET(kNew));
        const std::string folder = item.FOLDER_GET(kNew);
        const std::string name = item.TABLE_NAME(kNew);
        item.TBLCreated = TableCreate(run, item, folder, name);
        if (item.TBLCreated != 1) return int32_t(ConversionCode::kNewCreateFailed);
        item.TBLExists[1] = TableFilesTest(folder, name, item.HasIndex, item.HasMemo);
        if (!present(item, 1)) return int32_t(ConversionCode::kNewCreateFailed);
        return kContinue;
    });
}

int32_t Tavrel_NEWTABLE_OPEN(ConversionRun& run) {
    const StepFrame frame{"Tavrel_NEWTABLE_OPEN ", "Tavrel_NEWTABLE_OPEN ", true, true};
    return runStep(run, frame, [&](TBL_UPDATE& item, size_t) {
        const std::string path = item.FILE_GET(kNew);
        if (!present(item, 1)) {
            run.write(item.TBLExists[1], path);
            return kContinue;
        }
        if (TableOpen(run, path, "", &item.TBLFile[1]) == kOpenFailed) {
            return int32_t(ConversionCode::kNewOpenFailed);
        }
        return kContinue;
    });
}

int32_t Tavrel_COPYDATA(ConversionRun& run) {
    const StepFrame frame{"Tavrel_COPYDATA ", "Tavrel_COPYDATA ", false, true};
    auto& progress = run.tools.progress;
    progress.ProgressValue(3, 0, 100);
    progress.ProgressValue(4, 0, 100);
    const int32_t result = runStep(run, frame, [&](TBL_UPDATE& item, size_t) {
        if (!present(item, 0)) return kContinue;
        if (item.TBLFile[0] == nullptr || item.TBLFile[1] == nullptr) {
            return int32_t(ConversionCode::kCopyNotOpen);
        }
        progress.ProgressText(3, item.FILE_GET(kCurrent));
        progress.ProgressText(4, item.FILE_GET(kNew));
        run.write(1104);
        item.TBLCopiedData = TableCopyRecords(run, item);
        return kContinue;
    });
    progress.ProgressText(3, "");
    progress.ProgressText(4, "");
    progress.ProgressValue(3, 0, 100);
    progress.ProgressValue(4, 0, 100);
    return result;
}

int32_t Tavrel_CURTABLE_BACKUP(ConversionRun& run) {
    const StepFrame frame{"Tavrel_CURTABLE_BACKUP ", "Tavrel_CURTABLE_BACKUP ", false, true};
    // Every table goes into the archive first and the archive is written once
    // at the end: each write copies the whole archive, so writing it a table
    // at a time would copy the first table once for every table after it.
    std::vector<TBL_UPDATE*> saved;
    const auto add = [&](TBL_UPDATE& item, size_t) {
        if (!present(item, 0) || !present(item, 1)) return kContinue;
        closeTable(run, &item.TBLFile[0]);
        if (item.TBLCopiedData == 0) return kContinue;
        if (!addTableToArchive(run, item.FOLDER_GET(kCurrent), item.TABLE_NAME(kCurrent),
                               run.names.applicationFolder)) {
            return int32_t(ConversionCode::kBackupSaveFailed);
        }
        saved.push_back(&item);
        return kContinue;
    };
    const auto write = [&] {
        if (saved.empty()) return kContinue;
        run.tools.progress.ProgressText(2, run.backupArchive);
        if (!writeArchive(run)) return int32_t(ConversionCode::kBackupSaveFailed);
        for (TBL_UPDATE* item : saved) {
            item->TBLCopied[0] = kSavedInArchive;
            run.write(1421, item->FILE_GET(kCurrent));
        }
        return kContinue;
    };
    const int32_t result = runStep(run, frame, add, write);
    // A step that failed half-way leaves the archive as it was.
    if (result != kContinue) run.archive.discard();
    return result;
}

int32_t Tavrel_NEWTABLE_INSTALL(ConversionRun& run) {
    const StepFrame frame{"Tavrel_NEWTABLE_INSTALL: ", "Tavrel_NEWTABLE_INSTALL ", false, true};
    return runStep(run, frame, [&](TBL_UPDATE& item, size_t index) {
        if (!present(item, 1)) return kContinue;
        closeTable(run, &item.TBLFile[1]);
        if (present(item, 0) && (item.TBLCopiedData == 0 || item.TBLCopied[0] != kSavedInArchive)) {
            return kContinue;  // the new table stays in TABLENEW
        }
        journalMove(run, item, index);
        run.write(1104);
        item.TBLCopied[1] = TableMove(run, item.FOLDER_GET(kNew), item.TABLE_NAME(kNew),
                                      item.FOLDER_GET(kCurrent), item.TABLE_NAME(kCurrent), true);
        if (item.TBLCopied[1] != kMovedOverCurrent) return int32_t(ConversionCode::kInstallFailed);
        item.Updated = true;
        return kContinue;
    });
}

int32_t TABLEDET_UPDATE(ConversionRun& run) {
    const StepFrame frame{"TABLEDET_UPDATE ", "TABLEDET_UPDATE ", true, false};
    selectOrder(run, run.tabledes);
    if (selectOrder(run, run.tabledet)) K4(run.library(), d4top, run.tabledet);
    const int32_t result = runStep(run, frame, [&](TBL_UPDATE& item, size_t) {
        const auto info = item.TBLINFO();
        if (item.Updated && info && !info->INFOUPDATED()) recordDescriptor(run, *info);
        return kContinue;
    });
    platform::crashPoint("stamp TABLEDET checksums");
    ChecksumTools checksums{run.engine(), run.tools.kes01};
    StampTableChecksum1(checksums, run.tabledet);
    return result;
}

int UPDTABLE_ROLLBACK(ConversionRun& run, int32_t, int step) {
    int failures = 0;
    for (size_t i = 1; i <= run.items.Count(); ++i) {
        TBL_UPDATE& item = *run.items.Item(i);
        if (step >= 4 && present(item, 1)) closeTable(run, &item.TBLFile[1]);
        if (step >= 1) closeTable(run, &item.TBLFile[0]);
        if (run.moveBegun[i - 1]) {
            const bool back =
                present(item, 0)
                    ? restoreTableFromArchive(run, item.LICFOLDER(), item.TABLE_NAME(kCurrent))
                    : TableRemove(run, item.FOLDER_GET(kCurrent), item.TABLE_NAME(kCurrent));
            if (!back) ++failures;
        }
        if (item.TBLCreated == 1 && item.TBLCopied[1] != kMovedOverCurrent) {
            closeTable(run, &item.TBLFile[1]);
            TableRemove(run, item.FOLDER_GET(kNew), item.TABLE_NAME(kNew));
        }
    }
    return failures;
}

}  // namespace tavrel::tables
