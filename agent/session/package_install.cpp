// InstallUpdatePackage: the run from opening the archive to the history
// records. The stages 2 and 3 and the rollback are in install_stages.cpp, the
// journal's use and the recovery in install_recovery.cpp.
#include "agent/session/package_install.h"

#include "agent/history/history_table.h"
#include "agent/history/log_text.h"
#include "agent/session/file_helpers.h"
#include "platform/crash_point.h"
#include "platform/file_sync.h"
#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::session {
namespace {

constexpr int kPage = 1;
constexpr size_t kRuleLength = 75;
constexpr std::string_view kFailedLine = "INSTALL OF UPDATE FAILED DUE TO AN ERROR";
constexpr std::string_view kRecoveryFailedText = "FAILED TO UNDO AN INTERRUPTED INSTALLATION";
constexpr std::string_view kSummaryConverted = "Table Conversion - Tables have been Converted";
constexpr std::string_view kSummaryAborted =
    "Table Conversion - Table Conversion was Aborted Due to Error";
constexpr std::string_view kSummaryReturned =
    "Table Conversion - Current Tables have been Returned";
constexpr std::string_view kSummaryNotReturned =
    "Table Conversion - Current Tables could not be Returned";

// The level a package file names: its file name without ".ZIP", upper-cased.
std::string levelOfPackage(const std::string& packageFile) {
    std::string name = platform::fs::path(packageFile).filename().string();
    const std::string upper = platform::upperText(name);
    if (upper.size() > 4 && upper.ends_with(".ZIP")) name.resize(name.size() - 4);
    return platform::upperText(name);
}

}  // namespace

PackageInstaller::PackageInstaller(InstallTools tools, std::string applicationFolder)
    : m_tools(std::move(tools)),
      m_applicationFolder(FixTrailingBackslash(applicationFolder, TrailingSeparator::kAdd)) {}

void PackageInstaller::log(std::string_view text) {
    m_tools.windowLog.WriteWindowLog(history::WindowLogAction::Append, kPage, text,
                                     history::WindowLogTarget::Page);
}

void PackageInstaller::status(std::string_view text) {
    m_tools.windowLog.WriteWindowLog(history::WindowLogAction::Append, kPage, text,
                                     history::WindowLogTarget::Status);
}

void PackageInstaller::heading(std::string_view title) {
    std::string text(kRuleLength, '+');
    text += history::kLineBreak;
    text += title;
    text += history::kLineBreak;
    text += std::string(kRuleLength, '=');
    log(text);
}

bool PackageInstaller::IsInstallableEntry(std::string_view name) {
    const std::string upper = platform::upperText(platform::trimText(name));
    return !upper.empty() && upper != "THUMBS.DB";
}

bool PackageInstaller::isTableUpdateEntry(std::string_view name) const {
    const std::string upper = platform::upperText(name);
    return upper.starts_with("TBLUPD") && upper.ends_with(".ZIP");
}

void PackageInstaller::InstallUpdatePackage(const std::string& packageFile) {
    m_packageFile = packageFile;
    m_currentPackageName = levelOfPackage(packageFile);
    m_names = PackageNames{};
    m_names.applicationFolder = m_applicationFolder;
    m_names.packageFolder = FixTrailingBackslash(
        platform::fs::path(packageFile).parent_path().string(), TrailingSeparator::kAdd);
    m_names.packageBackupFolder = JoinPath(m_names.packageFolder, "BACKUP") + "/";
    m_journal = InstallJournal{};
    m_journalStarted = false;
    m_rollbackFailed = false;
    m_resultText.clear();
    m_resultLetter.clear();
    m_conversionSummary.clear();
    m_tableUpdate = false;
    m_tableConverted = false;
    m_wholeArchiveTested = false;

    if (recoverInterruptedInstallations() != 0) {
        m_resultText = std::string(kRecoveryFailedText);
        log(m_resultText);
        finish(false);
        return;
    }
    // An interrupted run's recovery leaves its own names behind.
    m_names.tableUpdateFile.clear();
    m_names.tableUpdateName.clear();
    m_names.tableUpdateId.clear();
    m_journal = InstallJournal{};
    EnsureFolder(m_names.packageBackupFolder, true);
    if (m_tools.pages) m_tools.pages->SelectLogPage(kPage);
    status("UPDATE VERSION - Stage 0 Prepareing Files to Install");
    log("Installing Tavrel Update: " + m_currentPackageName);
    finish(openAndTest() == Step::kOutcome);
}

// Steps 2 to 10; true (kOutcome) when the installation succeeded.
PackageInstaller::Step PackageInstaller::openAndTest() {
    m_zip.setFileName(m_packageFile);
    if (m_zip.open() != 0) {
        m_resultText = std::string(kOpenFailedText);
        log("Error opening Update Zip File: " + m_packageFile);
        log("ERRORCODE: " + m_zip.lastErrorText());
        return Step::kFailed;
    }
    log("Opened Update Zip File: " + m_packageFile);
    const int count = m_zip.entryCount();
    log("Total Files in Update: " + std::to_string(count));
    if (count == 0) return Step::kOutcome;
    zip::ZipOptions& options = m_zip.options();
    options = zip::ZipOptions{};
    options.targetFolder = m_applicationFolder;
    options.overwrite = true;
    options.keepPaths = true;
    options.testOnly = true;
    if (m_zip.processAll() != 0) {
        m_resultText = std::string(kTestFailedText);
        log(m_resultText);
        return Step::kFailed;
    }
    m_wholeArchiveTested = true;
    return selectEntries(count);
}

PackageInstaller::Step PackageInstaller::selectEntries(int count) {
    m_selectedCounter = 0;
    heading("STAGE 0 - SELECTING UPDATED FILES TO INSTALL");
    for (int i = 0; i < count; ++i) {
        std::string name, folder;
        GetZipEntryInfo(i, &name, &folder);
        if (name.empty()) continue;
        if (isTableUpdateEntry(name)) {
            setAsideTableUpdate(i, name);
        } else if (IsInstallableEntry(name)) {
            if (m_zip.selectEntry(i) == 0) ++m_selectedCounter;
            log(threeDigits(m_selectedCounter) + ". Updated File: " +
                (folder.empty() ? name : JoinPath(folder, name)));
        }
    }
    // The test of the selected entries reads what the test of the whole
    // archive read a moment ago through the same open archive: when that one
    // passed, the selected entries have passed too, and reading them a second
    // time (for a large package, seconds) cannot change the outcome.
    if (m_zip.selectedCount() > 0 && !m_wholeArchiveTested) {
        zip::ZipOptions& options = m_zip.options();
        options.targetFolder = m_applicationFolder;
        options.overwrite = true;
        options.keepPaths = true;
        options.testOnly = true;
        if (m_zip.processSelected() != 0) {
            m_resultText = std::string(kSelectedTestFailedText);
            log(m_resultText);
            return Step::kFailed;
        }
    }
    return runStages(count);
}

void PackageInstaller::setAsideTableUpdate(int index, const std::string& name) {
    zip::ZipOptions& options = m_zip.options();
    options.targetFolder = m_names.packageFolder;
    options.keepPaths = false;
    options.overwrite = true;
    options.testOnly = false;
    options.skipOlder = false;
    platform::crashPoint("extract " + name + " into " + m_names.packageFolder);
    m_zip.processEntry(index);
    m_names.tableUpdateFile = name;
    m_names.tableUpdateName = name.substr(0, name.size() - 4);
    m_names.tableUpdateId = m_names.tableUpdateName.substr(6);
    m_tableUpdate = true;
}

PackageInstaller::Step PackageInstaller::runStages(int count) {
    m_journal.levelBefore = m_tools.versions.ReadVersionFile(VersionKind::Application);
    m_journal.tableUpdateFile = m_names.tableUpdateFile;
    if (m_tableUpdate) {
        heading("STAGE 1 - INSTALLING TABLE CONVERSION UPDATE");
        journalAt(InstallState::kConverting);
        m_tableConverted = m_tools.conversion.UpdTableConvert(m_names);
        m_conversionSummary = m_tools.conversionSummary ? m_tools.conversionSummary()
                              : m_tableConverted        ? std::string(kSummaryConverted)
                                                        : std::string(kSummaryAborted);
        if (!m_tableConverted) {
            m_resultText = std::string(kConversionFailedText);
            log(m_resultText);
            return Step::kFailed;
        }
    }
    if (m_zip.selectedCount() == 0) return Step::kOutcome;
    heading("STAGE 2 - BACKING UP CURRENT FILES BEING REPLACED");
    journalAt(InstallState::kBackingUp);
    bool backedUp = false;
    BackupReplacedFiles(count, &backedUp);
    bool installed = false;
    if (!backedUp) {
        m_resultText = std::string(kBackupFailedText);
    } else {
        heading("STAGE 3 - INSTALLING UPDATE FILES");
        // The copies must be on the disk before the journal lets stage 3
        // overwrite what they save.
        platform::syncFileSystemOf(m_names.packageBackupFolder);
        journalAt(InstallState::kInstalling);
        InstallSelectedFiles(count, &installed);
        if (!installed) m_resultText = std::string(kInstallFailedText);
    }
    if (backedUp && installed) return Step::kOutcome;
    m_rollbackFailed = !RollbackReplacedFiles(m_names.packageBackupFolder);
    return Step::kFailed;
}

// Steps 12 to 16.
void PackageInstaller::finish(bool success) {
    VersionFiles& versions = m_tools.versions;
    log(std::string(kRuleLength, '+'));
    if (success) {
        m_resultLetter = "S";
        m_resultText = std::string(kCompletedText);
        versions.setLevel(VersionKind::Application, m_currentPackageName);
        platform::crashPoint("write the application level " + m_currentPackageName);
        versions.WriteVersionFile(VersionKind::Application);
        if (m_journalStarted) {
            platform::syncFileSystemOf(m_applicationFolder);
            journalAt(InstallState::kDone);
        }
    } else {
        m_resultLetter = "F";
        versions.ReadVersionFile(VersionKind::Application);
        log(kFailedLine);
    }
    versions.ReadVersionFile(VersionKind::Application);
    log(m_resultText);
    m_tools.panels.setPanelText("CURVERSION", versions.ApplicationLevel());
    m_zip.close();
    bool tablesBack = true;
    if (!success && m_tableUpdate && m_tableConverted) tablesBack = returnTables();
    // A rollback that could not put everything back leaves the journal
    // unfinished, so the next installation tries again first.
    if (!success && m_journalStarted && tablesBack && !m_rollbackFailed)
        journalAt(InstallState::kRolledBack);
    log(std::string(kRuleLength, '=') + std::string(history::kLineBreak));
    writeHistory();
}

bool PackageInstaller::returnTables() {
    const int rc = m_tools.returnConvertedTables
                       ? m_tools.returnConvertedTables(m_names)
                       : m_tools.conversion.recoverInterruptedConversion(m_names);
    m_conversionSummary = std::string(rc == 0 ? kSummaryReturned : kSummaryNotReturned);
    return rc == 0;
}

void PackageInstaller::writeHistory() {
    history::HistoryTable* table = m_tools.history;
    if (table == nullptr || table->OpenHistoryTable() == nullptr) return;
    const std::string& level = m_currentPackageName;
    if (m_tableUpdate) {
        table->RegisterUpdateRecord(level, m_names.tableUpdateName, "T");
        table->CompleteUpdateRecord(level, m_names.tableUpdateName, m_resultLetter,
                                    m_conversionSummary, m_tools.windowLog.pageText(2));
    }
    table->RegisterUpdateRecord(level, level, "G");
    table->CompleteUpdateRecord(level, level, m_resultLetter, m_resultText,
                                m_tools.windowLog.pageText(kPage));
    table->CloseHistoryTable();
}

}  // namespace tavrel::session
