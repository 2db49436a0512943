#include "agent/tables/table_conversion.h"

#include <utility>

#include "agent/tables/conversion_context.h"
#include "agent/tables/conversion_steps.h"
#include "agent/tables/conversion_undo.h"
#include "agent/tables/descriptor_safety.h"
#include "agent/tables/descriptor_scan.h"
#include "agent/tables/record_checksums.h"
#include "agent/tables/table_operations.h"
#include "platform/crash_point.h"
#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::tables {
namespace {

using history::WindowLogAction;
using history::WindowLogTarget;

constexpr int32_t kContinue = int32_t(ConversionCode::kContinue);

void saveJournal(ConversionRun& run) {
    saveConversionJournal(conversionJournalFile(run.names.packageBackupFolder), run.journal);
}

// The folders a run may make, noted while they are still missing so that an
// undo can take them away again.
void beginJournal(ConversionRun& run, const std::vector<std::string>& dataFolders) {
    std::vector<std::string> candidates = {"TABLEMVE"};
    for (const std::string& folder : dataFolders) {
        const std::string tables = folder + "/TABLES";
        candidates.insert(candidates.end(), {tables, tables + "/TABLENEW", tables + "/TABLEOLD"});
    }
    for (const std::string& folder : candidates) {
        if (!platform::folderExists(platform::joinPath(run.names.applicationFolder, folder))) {
            run.journal.absentFolders.push_back(folder);
        }
    }
    saveJournal(run);
}

void journalWorkItems(ConversionRun& run) {
    run.moveBegun.assign(run.items.Count(), 0);
    for (size_t i = 1; i <= run.items.Count(); ++i) {
        run.journal.newTables.push_back(
            run.relativeToApplication(run.items.Item(i)->FILE_GET(TableSelector::kNew)));
    }
    saveJournal(run);
}

void showStage(ConversionRun& run, const char* text) {
    run.tools.progress.ProgressText(1, text);
    run.stageText(text);
}

int32_t scanStep(ConversionRun& run, const std::vector<std::string>& dataFolders) {
    const ScanResult scan = Update_Scan_TABLEDES(
        run.engine(), {run.tabledes, run.tabledet}, run.names.applicationFolder, dataFolders,
        run.infos, run.items, [&run](int code, const std::string& text) { run.write(code, text); });
    if (scan != ScanResult::kContinue) return int32_t(scan);
    journalWorkItems(run);
    run.tools.progress.ProgressValue(2, 0, int64_t(run.items.Count()));
    return kContinue;
}

struct Step {
    const char* text;
    int32_t (*run)(ConversionRun&);
};

constexpr Step kSteps[] = {
    {"Opening Current Tables for Conversion", Tavrel_CURTABLE_OPEN},
    {"Creating New Tables", Tavrel_NEWTABLE_CREATE},
    {"Opening New Tables", Tavrel_NEWTABLE_OPEN},
    {"Copying DATA from Current to New Tables", Tavrel_COPYDATA},
    {"Backing-Up Current Tables", Tavrel_CURTABLE_BACKUP},
    {"Installing New Tables", Tavrel_NEWTABLE_INSTALL},
    {"Updateing TABLEDES To TABLEDET", TABLEDET_UPDATE},
};

// Steps 1 to 9; `*step` is the number of the last step begun.
int32_t runSteps(ConversionRun& run, const std::vector<std::string>& dataFolders, int* step) {
    auto& progress = run.tools.progress;
    progress.ProgressValue(1, 0, 10);
    progress.ProgressValue(2, 0, 100);
    *step = 1;
    progress.ProgressValue(1, 1, -1);
    showStage(run, "Scanning TABLEDES For Updated Tables");
    int32_t result = scanStep(run, dataFolders);
    for (const Step& next : kSteps) {
        if (result != kContinue) return result;
        progress.ProgressValue(1, ++*step, -1);
        showStage(run, next.text);
        result = next.run(run);
    }
    if (result != kContinue) return result;
    progress.ProgressValue(1, ++*step, -1);
    showStage(run, "Process Completed");
    return int32_t(ConversionCode::kConverted);
}

// Steps 3 and 4 of the sequence: TABLEDET saved, both descriptor tables open,
// TABLEDET's record checksums right.
int32_t openDescriptors(ConversionRun& run) {
    TableDetSafeCopy(run, SafeCopyMode::kSave);
    const std::string& app = run.names.applicationFolder;
    if (TableOpen(run, "TABLEDES", app, &run.tabledes) != 1) {
        return int32_t(ConversionCode::kTabledesOpenFailed);
    }
    if (TableOpen(run, "TABLEDET", app, &run.tabledet) != 1) {
        return int32_t(ConversionCode::kTabledetOpenFailed);
    }
    ChecksumTools checksums{run.engine(), run.tools.kes01};
    if (VerifyTableChecksum1(checksums, run.tabledet) == ChecksumResult::kMismatch) {
        run.write(3222, platform::joinPath(app, "TABLEDET"));
        return int32_t(ConversionCode::kTabledetChecksumFailed);
    }
    return kContinue;
}

void finishProcess(ConversionRun& run, int32_t result, int step) {
    closeTable(run, &run.tabledet);
    closeTable(run, &run.tabledes);
    if (result >= int32_t(ConversionCode::kAborted)) {
        run.write(9000, std::to_string(result));
        bool back = true;
        if (step > 0) {
            run.stageText("Table Update Aborted - Running ROLLBACK");
            back = UPDTABLE_ROLLBACK(run, result, step) == 0;
        }
        back = restoreDescriptors(run) && back;
        // A rollback that could not put everything back leaves the journal
        // saying converting, so that the next start tries again.
        if (back) run.journal.state = JournalState::kRolledBack;
    } else {
        run.journal.state = JournalState::kDone;
    }
    saveJournal(run);
    run.write(result);
    run.infos.clear();
    run.items.clear();
    run.archive.close();
}

int32_t UpdTableProcess(ConversionRun& run, const std::vector<std::string>& dataFolders) {
    run.engine().checkError("UpdTableProcess");
    if (platform::fileExists(run.backupArchive)) {
        platform::crashPoint("delete old backup archive");
        platform::deleteFile(run.backupArchive);
    }
    run.journal.savedDescriptors.clear();
    showStage(run, "Unpacking TABLEDES From New Zip File");
    int32_t result = TableDesUnpack(run);
    int step = 0;
    if (result == kContinue) result = openDescriptors(run);
    if (result == kContinue) result = runSteps(run, dataFolders, &step);
    finishProcess(run, result, step);
    return result;
}

}  // namespace

ConversionRun::ConversionRun(ConversionTools& t, history::ConversionLog& l, session::PackageNames n)
    : tools(t), log(l), names(std::move(n)) {
    backupArchive =
        platform::joinPath(names.packageFolder, "TBLFILES" + names.tableUpdateId + ".ZIP");
    tableUpdateZip = platform::joinPath(names.packageFolder, names.tableUpdateFile);
}

void ConversionRun::write(int code, std::string_view text1, std::string_view text2) {
    if (logging) log.WriteOperationLog(history::ConversionLogCode(code), text1, text2);
}

int ConversionRun::checkEngine(std::string_view context) {
    const int code = engine().checkError(context);
    write(1601, std::to_string(code));
    return code;
}

void ConversionRun::stageText(std::string_view text) {
    tools.windowLog.WriteWindowLog(WindowLogAction::Append, 2, text, WindowLogTarget::Page);
}

void ConversionRun::yield() {
    if (tools.yieldToWindow) tools.yieldToWindow();
}

std::string ConversionRun::relativeToApplication(const std::string& path) const {
    const std::string base = platform::withTrailingSeparator(names.applicationFolder);
    if (!base.empty() && platform::startsWithIgnoringCase(path, base)) {
        return path.substr(base.size());
    }
    return path;
}

TableConversion::TableConversion(ConversionTools tools) : m_tools(std::move(tools)) {}

TableConversion::~TableConversion() = default;

namespace {

struct Outcome {
    const char* summary;
    const char* ending;
    bool answer;
};

Outcome outcomeOf(int32_t result) {
    if (result == int32_t(ConversionCode::kConverted)) {
        return {"Table Conversion - Tables have been Converted", " - Completed", true};
    }
    if (result == int32_t(ConversionCode::kNothingToDo) ||
        result == int32_t(ConversionCode::kRunBefore)) {
        return {"Table Conversion - Tables are upto Date", " - Not Required", true};
    }
    if (result > int32_t(ConversionCode::kAborted)) {
        return {"Table Conversion - Table Conversion was Aborted Due to Error",
                " - Aborted Due to Error", false};
    }
    return {nullptr, nullptr, false};
}

void report(history::WindowLog& log, const std::string& name, const Outcome& outcome,
            int32_t result) {
    if (outcome.ending == nullptr) return;
    const std::string text = "Table Conversion Update " + name + outcome.ending;
    log.WriteWindowLog(WindowLogAction::Append, 2, text, WindowLogTarget::Status);
    log.WriteWindowLog(WindowLogAction::Append, 1, text, WindowLogTarget::Page);
    if (result > int32_t(ConversionCode::kAborted)) {
        log.WriteWindowLog(WindowLogAction::Append, 1, text, WindowLogTarget::Status);
    }
}

}  // namespace

bool TableConversion::UpdTableConvert(const session::PackageNames& names) {
    m_summary.clear();
    history::ConversionLog log(
        [&names] { return platform::joinPath(names.applicationFolder, "UPDATE"); },
        [&names] { return names.tableUpdateName; }, m_tools.clock);
    ConversionRun run(m_tools, log, names);
    DatabaseEngine& engine = m_tools.engine;
    m_tools.progress.SelectLogPage(2);
    if (!engine.start()) return false;
    if (!platform::folderExists(names.packageBackupFolder)) {
        platform::crashPoint("create package backup folder");
        platform::ensureFolder(names.packageBackupFolder);
    }
    const std::vector<std::string> dataFolders = DataFoldersFind(names.applicationFolder);
    beginJournal(run, dataFolders);
    const std::string moveFolder = platform::joinPath(names.applicationFolder, "TABLEMVE");
    if (!platform::folderExists(moveFolder)) {
        platform::crashPoint("create folder TABLEMVE");
        platform::ensureFolder(moveFolder);
    }
    ConversionSettings settings(engine);
    settings.apply();
    auto& window = m_tools.windowLog;
    window.WriteWindowLog(WindowLogAction::Append, 2,
                          "Table Conversion Update " + names.tableUpdateName + " In Progress",
                          WindowLogTarget::Status);
    window.WriteWindowLog(WindowLogAction::Append, 1,
                          "Installing Table Update: " + names.tableUpdateName,
                          WindowLogTarget::Page);
    m_lastResult = UpdTableProcess(run, dataFolders);
    const Outcome outcome = outcomeOf(m_lastResult);
    if (outcome.summary) m_summary = outcome.summary;
    report(window, names.tableUpdateName, outcome, m_lastResult);
    if (!log.text().empty()) {
        window.WriteWindowLog(WindowLogAction::Append, 2, log.text(), WindowLogTarget::Page);
    }
    log.CloseOperationLog();
    const std::string strayZip = platform::joinPath(names.applicationFolder, names.tableUpdateFile);
    if (!names.tableUpdateFile.empty() && platform::fileExists(strayZip)) {
        platform::crashPoint("delete " + names.tableUpdateFile);
        platform::deleteFile(strayZip);
    }
    K4(engine.library(), code4close, engine.handle());
    settings.undo();
    return outcome.answer;
}

int TableConversion::recoverInterruptedConversion(const session::PackageNames& names) {
    bool damaged = false;
    auto journal =
        loadConversionJournal(conversionJournalFile(names.packageBackupFolder), &damaged);
    if (damaged) return int(RecoveryResult::kJournalDamaged);
    if (!journal || journal->state == JournalState::kRolledBack) return int(RecoveryResult::kDone);
    if (!m_tools.engine.start()) return int(RecoveryResult::kEngineFailed);
    history::ConversionLog log([] { return std::string(); }, [] { return std::string(); },
                               m_tools.clock);
    ConversionRun run(m_tools, log, names);
    run.logging = false;
    run.journal = std::move(*journal);
    run.stageText("Returning the tables of table update " + names.tableUpdateName);
    const RecoveryResult result = undoFromJournal(run);
    run.stageText(result == RecoveryResult::kDone
                      ? "Tables returned"
                      : "Tables NOT returned - error " + std::to_string(int(result)));
    return int(result);
}

int TableConversion::returnConvertedTables(const session::PackageNames& names) {
    const int result = recoverInterruptedConversion(names);
    if (result == int(RecoveryResult::kDone)) {
        m_summary = "Table Conversion - Current Tables have been Returned";
    }
    return result;
}

}  // namespace tavrel::tables
