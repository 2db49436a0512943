// The installation's journal as a run keeps it, and the recovery of runs that
// were cut short.
#include "agent/session/file_helpers.h"
#include "agent/session/package_install.h"
#include "platform/crash_point.h"
#include "platform/files.h"

namespace tavrel::session {

void PackageInstaller::journalAt(InstallState state) {
    m_journal.state = state;
    m_journalStarted = true;
    const std::string file = installJournalFile(m_names.packageBackupFolder);
    if (saveInstallJournal(file, m_journal) != 0)
        log("Install Journal could not be Written: " + file);
}

int PackageInstaller::recoverInterruptedInstallations() {
    const std::string root = JoinPath(m_applicationFolder, "UPDATE");
    int failures = 0;
    for (const std::string& folder : platform::listFolders(root)) {
        const std::string packageFolder = JoinPath(root, folder) + "/";
        if (!recoverOne(packageFolder)) ++failures;
    }
    return failures;
}

// True when the package in `packageFolder` has no unfinished installation,
// or when it had one and it was undone.
bool PackageInstaller::recoverOne(const std::string& packageFolder) {
    const std::string backupFolder = JoinPath(packageFolder, "BACKUP") + "/";
    const std::string file = installJournalFile(backupFolder);
    bool damaged = false;
    const auto journal = loadInstallJournal(file, &damaged);
    if (damaged) {
        log("Install Journal is Damaged: " + file);
        return false;
    }
    if (!journal || !journal->unfinished()) return true;

    const PackageNames savedNames = m_names;
    const InstallJournal savedJournal = m_journal;
    m_names.applicationFolder = m_applicationFolder;
    m_names.packageFolder = packageFolder;
    m_names.packageBackupFolder = backupFolder;
    m_names.tableUpdateFile = journal->tableUpdateFile;
    const size_t dot = journal->tableUpdateFile.rfind('.');
    m_names.tableUpdateName = journal->tableUpdateFile.substr(0, dot);
    m_names.tableUpdateId =
        m_names.tableUpdateName.size() > 6 ? m_names.tableUpdateName.substr(6) : std::string();
    m_journal = *journal;

    log("Undoing Interrupted Install: " + packageFolder + " (" +
        std::string(installStateWord(journal->state)) + ")");
    bool good = rollbackFiles(*journal, true);
    if (!journal->tableUpdateFile.empty()) {
        const int rc = m_tools.conversion.recoverInterruptedConversion(m_names);
        if (rc != 0) log("Interrupted Table Conversion could not be Undone: " + std::to_string(rc));
        good = good && rc == 0;
    }
    VersionFiles& versions = m_tools.versions;
    if (!journal->levelBefore.empty() &&
        versions.ReadVersionFile(VersionKind::Application) != journal->levelBefore) {
        versions.setLevel(VersionKind::Application, journal->levelBefore);
        platform::crashPoint("write the application level " + journal->levelBefore);
        good = versions.WriteVersionFile(VersionKind::Application) == 0 && good;
    }
    if (good) {
        m_journal.state = InstallState::kRolledBack;
        good = saveInstallJournal(file, m_journal) == 0;
    }
    log(good ? "Interrupted Install Undone" : "Interrupted Install could not be Undone");
    m_names = savedNames;
    m_journal = savedJournal;
    return good;
}

}  // namespace tavrel::session
