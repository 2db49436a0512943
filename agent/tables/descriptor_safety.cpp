#include "agent/tables/descriptor_safety.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/crash_point.h"
#include "platform/files.h"

namespace tavrel::tables {
namespace {

// TABLEDES may bring a ".CMD" file; it is kept with the table so that the
// table is put back whole.
constexpr std::array<const char*, 4> kDescriptorExtensions = {".CDX", ".DBF", ".FPT", ".CMD"};

bool contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

bool saveCopies(ConversionRun& run, const std::string& table) {
    bool failed = false;
    for (const char* extension : kDescriptorExtensions) {
        const std::string file = table + extension;
        const std::string source = platform::joinPath(run.names.applicationFolder, file);
        if (!platform::fileExists(source)) {
            if (!contains(run.journal.absentFiles, file)) run.journal.absentFiles.push_back(file);
            continue;
        }
        const std::string target = platform::joinPath(run.names.packageBackupFolder, file);
        platform::crashPoint("safety copy " + file);
        if (platform::copyFile(source, target, true) != 0) failed = true;
    }
    if (failed) return false;
    if (!contains(run.journal.savedDescriptors, table)) {
        run.journal.savedDescriptors.push_back(table);
    }
    saveConversionJournal(conversionJournalFile(run.names.packageBackupFolder), run.journal);
    return true;
}

bool restoreCopies(ConversionRun& run, const std::string& table) {
    // Without a whole save there is nothing to put back: the table was not touched.
    if (!contains(run.journal.savedDescriptors, table)) return true;
    bool restored = true;
    for (const char* extension : kDescriptorExtensions) {
        const std::string file = table + extension;
        const std::string target = platform::joinPath(run.names.applicationFolder, file);
        const std::string copy = platform::joinPath(run.names.packageBackupFolder, file);
        if (contains(run.journal.absentFiles, file)) {
            if (!platform::fileExists(target)) continue;
            platform::crashPoint("delete " + file);
            if (platform::deleteFile(target) != 0) restored = false;
        } else if (platform::fileExists(copy)) {
            platform::crashPoint("restore " + file);
            if (platform::copyFile(copy, target, true) != 0) restored = false;
        } else {
            restored = false;
        }
    }
    return restored;
}

bool safeCopy(ConversionRun& run, const std::string& table, SafeCopyMode mode) {
    return mode == SafeCopyMode::kSave ? saveCopies(run, table) : restoreCopies(run, table);
}

bool tabledesOpens(ConversionRun& run) {
    DATA4* data = run.engine().open(platform::joinPath(run.names.applicationFolder, "TABLEDES"));
    if (data == nullptr) return false;
    K4(run.library(), d4close, data);
    return true;
}

bool extractTabledes(ConversionRun& run) {
    zip::ZipArchive zip;
    zip.setFileName(run.tableUpdateZip);
    if (zip.open() != 0) return false;
    const int selected = zip.selectByNames("TABLEDES.CDX;TABLEDES.DBF;TABLEDES.FPT;TABLEDES.CMD");
    if (selected < 3) return false;
    zip::ZipOptions& options = zip.options();
    options.targetFolder = run.names.applicationFolder;
    options.overwrite = true;
    options.skipOlder = false;
    options.keepPaths = false;
    options.testOnly = false;
    platform::crashPoint("extract TABLEDES");
    const bool done = zip.processSelected() == 0;
    zip.close();
    return done;
}

}  // namespace

bool TableDesSafeCopy(ConversionRun& run, SafeCopyMode mode) {
    return safeCopy(run, "TABLEDES", mode);
}

bool TableDetSafeCopy(ConversionRun& run, SafeCopyMode mode) {
    return safeCopy(run, "TABLEDET", mode);
}

int32_t TableDesUnpack(ConversionRun& run) {
    if (!platform::fileExists(run.tableUpdateZip)) return int32_t(ConversionCode::kContinue);
    const std::string moveFolder = platform::joinPath(run.names.applicationFolder, "TABLEMVE");
    if (!platform::folderExists(moveFolder)) {
        platform::crashPoint("create folder TABLEMVE");
        platform::ensureFolder(moveFolder);
    }
    if (!tabledesOpens(run)) {
        run.write(0, "Cannot Unpack TABLEDES - TABLEDES appears to be in use");
        return int32_t(ConversionCode::kUnpackFailed);
    }
    if (!TableDesSafeCopy(run, SafeCopyMode::kSave) || !extractTabledes(run)) {
        TableDesSafeCopy(run, SafeCopyMode::kRestore);
        return int32_t(ConversionCode::kUnpackFailed);
    }
    return int32_t(ConversionCode::kContinue);
}

}  // namespace tavrel::tables
