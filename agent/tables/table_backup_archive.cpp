#include "agent/tables/table_backup_archive.h"

#include <array>

#include "platform/crash_point.h"
#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::tables {
namespace {

constexpr std::array<const char*, 3> kArchiveOrder = {".CDX", ".DBF", ".FPT"};

std::string tableFileList(const std::string& folder, const std::string& name) {
    std::string list;
    for (const char* extension : kArchiveOrder) {
        if (!list.empty()) list += ";";
        list += folder + "\\" + name + extension;
    }
    return list;
}

void extractionOptions(zip::ZipArchive& archive, const std::string& baseFolder) {
    zip::ZipOptions& options = archive.options();
    options.targetFolder = baseFolder;
    options.overwrite = true;
    options.skipOlder = false;
    options.keepPaths = true;
    options.testOnly = false;
}

std::string relativeFolder(const std::string& folder, const std::string& applicationFolder) {
    const std::string base = platform::withTrailingSeparator(applicationFolder);
    if (!base.empty() && platform::startsWithIgnoringCase(folder, base)) {
        return folder.substr(base.size());
    }
    return folder;
}

bool openArchive(ConversionRun& run) {
    run.archive.close();
    run.archive.setFileName(run.backupArchive);
    return run.archive.open() == 0;
}

}  // namespace

int32_t UPDTABLE_BACKUP_FILESPUT(ConversionRun& run, const std::string& folder,
                                 const std::string& name, const std::string& applicationFolder) {
    const bool added = addTableToArchive(run, folder, name, applicationFolder);
    const bool written = added && writeArchive(run);
    run.archive.close();
    return written ? kSavedInArchive : 0;
}

bool addTableToArchive(ConversionRun& run, const std::string& folder, const std::string& name,
                       const std::string& applicationFolder) {
    zip::ZipArchive& archive = run.archive;
    if (!archive.isOpen() && !openArchive(run) && archive.create() != 0) return false;
    archive.options().targetFolder = applicationFolder;
    // The archive exists to put tables back, soon or never: the tables are
    // stored as they are, which takes a fraction of the time deflating them
    // would (the conversion's disk use grows by the tables' size).
    archive.options().compressionLevel = 0;
    int added = 0;
    return archive.addFiles(tableFileList(folder, name), &added) == 0 && added > 0;
}

bool writeArchive(ConversionRun& run) {
    if (!run.archive.isOpen()) return false;
    platform::crashPoint("write backup archive " + run.backupArchive);
    return run.archive.close() == 0;
}

int32_t UPDTABLE_BACKUP_FILESGET(ConversionRun& run, const std::string& folder,
                                 const std::string& name, const std::string& applicationFolder) {
    const std::string relative = relativeFolder(folder, applicationFolder);
    int32_t result = 0;
    if (openArchive(run) && run.archive.selectByNames(tableFileList(relative, name)) > 0) {
        extractionOptions(run.archive, applicationFolder);
        platform::crashPoint("extract from backup archive " + relative + "/" + name);
        if (run.archive.processSelected() == 0) result = kExtracted;
    }
    run.archive.close();
    return result;
}

int32_t UPDTABLE_BACKUP_FILESGETALL(ConversionRun& run, const std::string& baseFolder) {
    int32_t result = 0;
    if (openArchive(run)) {
        extractionOptions(run.archive, baseFolder);
        platform::crashPoint("extract all from backup archive");
        if (run.archive.processAll() == 0) result = kExtracted;
    }
    run.archive.close();
    return result;
}

bool restoreTableFromArchive(ConversionRun& run, const std::string& relativeFolder,
                             const std::string& name) {
    if (!openArchive(run)) return false;
    std::array<bool, 3> saved{};
    for (size_t i = 0; i < kArchiveOrder.size(); ++i) {
        saved[i] = run.archive.selectByNames(relativeFolder + "\\" + name + kArchiveOrder[i]) > 0;
    }
    bool done = run.archive.selectedCount() > 0;
    if (done) {
        extractionOptions(run.archive, run.names.applicationFolder);
        platform::crashPoint("extract from backup archive " + relativeFolder + "/" + name);
        done = run.archive.processSelected() == 0;
    }
    run.archive.close();
    if (!done) return false;
    // A file the table did not have before the conversion goes again.
    const std::string base =
        platform::joinPath(platform::joinPath(run.names.applicationFolder, relativeFolder), name);
    for (size_t i = 0; i < kArchiveOrder.size(); ++i) {
        const std::string path = base + kArchiveOrder[i];
        if (saved[i] || !platform::fileExists(path)) continue;
        platform::crashPoint("delete table file " + path);
        if (platform::deleteFile(path) != 0) return false;
        run.write(1402, path);
    }
    return true;
}

}  // namespace tavrel::tables
