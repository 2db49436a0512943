// Stages 2 and 3 of an installation and its rollback.
#include <algorithm>
#include <map>
#include <vector>

#include "agent/session/file_helpers.h"
#include "agent/session/package_install.h"
#include "platform/crash_point.h"
#include "platform/files.h"

namespace tavrel::session {
namespace {

void addOnce(std::vector<std::string>& list, const std::string& item) {
    if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

// The first folder of a relative path, or empty for a file at the root.
std::string topFolder(const std::string& relative) {
    const size_t slash = relative.find('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

}  // namespace

std::string PackageInstaller::threeDigits(int counter) {
    std::string text = std::to_string(counter);
    if (text.size() < 3) text.insert(0, 3 - text.size(), '0');
    return text;
}

void PackageInstaller::GetZipEntryInfo(int index, std::string* fileName,
                                       std::string* folderPath) const {
    if (fileName) *fileName = m_zip.entryName(index);
    if (folderPath) *folderPath = m_zip.entryFolder(index);
}

void PackageInstaller::noteMissingFolders(const std::string& relativeFile) {
    std::vector<std::string> missing;
    for (std::string folder = relativeFile; folder.find('/') != std::string::npos;) {
        folder.resize(folder.rfind('/'));
        if (platform::folderExists(JoinPath(m_applicationFolder, folder))) break;
        missing.push_back(folder);
    }
    // Outermost first, so the removal in reverse order empties inner ones first.
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) addOnce(m_journal.folders, *it);
}

void PackageInstaller::BackupReplacedFiles(int entryCount, bool* success) {
    status("UPDATE VERSION - Stage 2 Backing Up Current Files Being Replaced");
    bool good = true;
    int counter = 0;
    for (int i = 0; i < entryCount && good; ++i) {
        std::string name, folder;
        GetZipEntryInfo(i, &name, &folder);
        if (!m_zip.isSelected(i) || name.empty() || !IsInstallableEntry(name)) continue;
        ++counter;
        const std::string relative = folder.empty() ? name : folder + "/" + name;
        const std::string current = JoinPath(m_applicationFolder, folder, name);
        const std::string backup = JoinPath(m_names.packageBackupFolder, folder, name);
        const std::string prefix = threeDigits(counter) + ". ";
        if (platform::fileExists(current)) {
            EnsureFolder(platform::fs::path(backup).parent_path().string(), true);
            // A copy left by an earlier run of this package must not pass for
            // this run's copy.
            DeleteFileIfExists(backup, true);
            if (CopyOrMoveFile(current, backup, true, false)) {
                log(prefix + "Current File has been Moved: " + current);
                addOnce(m_journal.backedUp, relative);
            } else {
                log(prefix + "Current File could not be Moved: " + current);
                good = false;
            }
        } else {
            log(prefix + "Current File Not Found: " + current);
            addOnce(m_journal.added, relative);
            noteMissingFolders(relative);
        }
    }
    if (success) *success = good;
}

void PackageInstaller::InstallSelectedFiles(int entryCount, bool* success) {
    status("UPDATE VERSION - Stage 3 Installing Updated Files");
    zip::ZipOptions& options = m_zip.options();
    options.targetFolder = m_applicationFolder;
    options.overwrite = true;
    options.skipOlder = false;
    options.keepPaths = true;
    options.testOnly = false;
    // One sync of the whole stage before the journal calls it done.
    options.syncEachFile = false;
    bool good = true;
    int counter = 0;
    for (int i = 0; i < entryCount && good; ++i) {
        std::string name, folder;
        GetZipEntryInfo(i, &name, &folder);
        if (!m_zip.isSelected(i) || name.empty() || !IsInstallableEntry(name)) continue;
        ++counter;
        const std::string target = JoinPath(m_applicationFolder, folder, name);
        platform::crashPoint("install " + target);
        if (m_zip.processEntry(i) != 0) {
            log(threeDigits(counter) + ". Install Update File Failed: " + target);
            good = false;
        } else {
            log(threeDigits(counter) + ". Installed Update File: " + target);
        }
    }
    if (!good) log("*** INSTALL FAILED - ERRORCODE: " + m_zip.lastErrorText());
    if (success) *success = good;
}

bool PackageInstaller::RollbackReplacedFiles(const std::string& backupFolder) {
    status("UPDATE VERSION - ROLLBACK");
    InstallJournal journal = m_journal;
    const std::string saved = m_names.packageBackupFolder;
    m_names.packageBackupFolder = backupFolder;
    const bool good = rollbackFiles(journal, true);
    m_names.packageBackupFolder = saved;
    return good;
}

// Copies back the files of `journal` that were backed up, grouped as the
// backup folder holds them (files at its root, then each top folder), and
// removes the files and folders the run added.
bool PackageInstaller::rollbackFiles(const InstallJournal& journal, bool writeLines) {
    std::map<std::string, std::vector<std::string>> groups;
    for (const std::string& relative : journal.backedUp)
        groups[topFolder(relative)].push_back(relative);
    bool good = true;
    for (const auto& [top, files] : groups) {
        bool groupGood = true;
        const std::string source =
            JoinPath(m_names.packageBackupFolder, top.empty() ? files[0] : top);
        const std::string target = JoinPath(m_applicationFolder, top.empty() ? files[0] : top);
        for (const std::string& relative : files) {
            const std::string from = JoinPath(m_names.packageBackupFolder, relative);
            const std::string to = JoinPath(m_applicationFolder, relative);
            if (top.empty() && writeLines) {
                log("RollBack SourceFile: " + from);
                log("RollBack TargetFile: " + to);
            }
            EnsureFolder(platform::fs::path(to).parent_path().string(), true);
            platform::crashPoint("roll back " + to);
            const bool copied = platform::copyFile(from, to, true) == 0;
            groupGood = groupGood && copied;
            if (top.empty() && writeLines)
                log(copied ? "RollBack File OK" : "RollBack File FAILED");
        }
        if (!top.empty() && writeLines) {
            log("RollBack SourceFolder: " + source);
            log("RollBack TargetFolder: " + target);
            log(groupGood ? "RollBack Folder OK" : "RollBack Folder FAILED");
        }
        good = good && groupGood;
    }
    return removeAdded(journal, writeLines) && good;
}

bool PackageInstaller::removeAdded(const InstallJournal& journal, bool writeLines) {
    bool good = true;
    // A file cut short by a kill lies beside its target under a temporary name.
    std::vector<std::string> targets = journal.added;
    targets.insert(targets.end(), journal.backedUp.begin(), journal.backedUp.end());
    for (const std::string& relative : targets) {
        DeleteFileIfExists(
            JoinPath(m_applicationFolder, relative) + std::string(zip::kPartialFileSuffix), true);
    }
    for (const std::string& relative : journal.added) {
        const std::string path = JoinPath(m_applicationFolder, relative);
        if (!platform::fileExists(path)) continue;
        const bool removed = !DeleteFileIfExists(path, true);
        if (writeLines)
            log((removed ? "RollBack Removed File: " : "RollBack Remove File FAILED: ") + path);
        good = good && removed;
    }
    for (auto it = journal.folders.rbegin(); it != journal.folders.rend(); ++it) {
        const std::string folder = JoinPath(m_applicationFolder, *it);
        if (!platform::folderExists(folder) || !platform::listFiles(folder).empty() ||
            !platform::listFolders(folder).empty())
            continue;
        platform::crashPoint("remove folder " + folder);
        platform::deleteFolderTree(folder);
    }
    return good;
}

}  // namespace tavrel::session
