// The installation of one downloaded update package into the application
// folder, in stages:
//
//   0  open and test the archive, select the entries to install, set aside a
//      table-update archive (TBLUPD*.ZIP) into the package folder
//   1  convert the tables (TableConversionStage) when the package carries one
//   2  copy every file the package replaces into the package's backup folder
//   3  extract the selected entries over the application
//
// A failure in stage 2 or 3 rolls back: the files this run backed up are
// copied back and the files it added where none stood are removed, so the
// application folder is left as the run found it; tables a finished stage 1
// converted are returned as well. What the run has done is kept in a journal
// in the backup folder (install_journal.h); a run cut short is undone from it
// by recoverInterruptedInstallations before the next one starts.
//
// Everything is narrated on page 1 of the window log (stage titles also on its
// status label); the outcome goes to the application's version file, the
// "CURVERSION" panel and the history table.
//
// One installation at a time, on the caller's thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "agent/history/window_log.h"
#include "agent/session/install_journal.h"
#include "agent/session/package_interfaces.h"
#include "agent/session/version_files.h"
#include "components/zip/zip_archive.h"

namespace tavrel::history {
class HistoryTable;
}

namespace tavrel::session {

// The result texts of an installation, as the history records them.
inline constexpr std::string_view kOpenFailedText = "FAILED TO OPEN UPDATE ZIP FILE";
inline constexpr std::string_view kTestFailedText = "TEST ON FILES IN THE ZIP FILE FAILED";
inline constexpr std::string_view kSelectedTestFailedText =
    "TEST ON SELECTED FILES IN ZIP FILE FAILED";
inline constexpr std::string_view kConversionFailedText =
    "FAILED TO INSTALL TABLE CONVERSION UPDATE";
inline constexpr std::string_view kBackupFailedText =
    "FAILED TO BACKUP CURRENT FILES BEING REPLACED";
inline constexpr std::string_view kInstallFailedText = "FAILED TO INSTALL UPDATED FILES";
inline constexpr std::string_view kCompletedText = "INSTALL OF UPDATE COMPLETED WITHOUT ANY ERRORS";

// The collaborators of an installation; all borrowed, they must outlive it.
struct InstallTools {
    InstallTools(history::WindowLog& log, StatusPanels& statusPanels, VersionFiles& versionFiles,
                 TableConversionStage& tableConversion, history::HistoryTable* table = nullptr)
        : windowLog(log),
          panels(statusPanels),
          versions(versionFiles),
          conversion(tableConversion),
          history(table) {}

    history::WindowLog& windowLog;
    StatusPanels& panels;
    VersionFiles& versions;
    TableConversionStage& conversion;
    // The history table, or nullptr when there is none (no engine).
    history::HistoryTable* history = nullptr;
    // Brings a log page to the front; may be nullptr.
    ConversionProgressView* pages = nullptr;
    // The conversion's summary text for the "T" history record; when empty,
    // a summary is made from UpdTableConvert's answer.
    std::function<std::string()> conversionSummary;
    // Returns tables that a finished conversion converted when a later stage
    // failed (0 when done); when empty, recoverInterruptedConversion does it.
    std::function<int(const PackageNames&)> returnConvertedTables;
};

class PackageInstaller final : public PackageInstallation {
  public:
    // `applicationFolder` with or without its trailing separator.
    PackageInstaller(InstallTools tools, std::string applicationFolder);

    // Installs the package at `packageFile`, which lies in its package folder
    // (UPDATE/<level>/); its level is the file name without ".ZIP". The
    // package's backup folder is the package folder's "BACKUP".
    void InstallUpdatePackage(const std::string& packageFile) override;
    std::string resultText() const override { return m_resultText; }
    // "S" or "F" after an installation.
    const std::string& resultLetter() const { return m_resultLetter; }

    // Undoes every installation whose journal (in UPDATE/*/BACKUP/) says it
    // did not end: files copied back, added files and folders removed, tables
    // put back, the level before written back. 0 when there was nothing to do
    // or all was undone; otherwise the number of installations that could not
    // be undone (their journals stay, so the next attempt tries again).
    int recoverInterruptedInstallations();

    // The stages and helpers, public for the tests. Entry counts are the
    // archive's total; `*success` is the stage's outcome.
    void BackupReplacedFiles(int entryCount, bool* success);
    void InstallSelectedFiles(int entryCount, bool* success);
    // Copies back the files this run backed up into `backupFolder` and removes
    // the files it added. False when a copy or removal failed.
    bool RollbackReplacedFiles(const std::string& backupFolder);
    static bool IsInstallableEntry(std::string_view name);
    void GetZipEntryInfo(int index, std::string* fileName, std::string* folderPath) const;

    const PackageNames& names() const { return m_names; }
    const std::string& currentPackageName() const { return m_currentPackageName; }
    zip::ZipArchive& ZipFile1() { return m_zip; }
    // What this run has done so far (its journal's content).
    InstallJournal& journal() { return m_journal; }

  private:
    enum class Step { kFailed, kOutcome };
    Step openAndTest();
    Step selectEntries(int count);
    bool isTableUpdateEntry(std::string_view name) const;
    void setAsideTableUpdate(int index, const std::string& name);
    Step runStages(int count);
    void finish(bool success);
    bool returnTables();
    void writeHistory();

    void journalAt(InstallState state);
    bool rollbackFiles(const InstallJournal& journal, bool writeLines);
    bool removeAdded(const InstallJournal& journal, bool writeLines);
    bool recoverOne(const std::string& packageFolder);

    void log(std::string_view text);
    void status(std::string_view text);
    void heading(std::string_view title);
    static std::string threeDigits(int counter);
    // Marks the missing folders above `relativeFile` as made by this run.
    void noteMissingFolders(const std::string& relativeFile);

    InstallTools m_tools;
    std::string m_applicationFolder;
    std::string m_currentPackageName;
    std::string m_packageFile;
    PackageNames m_names;
    zip::ZipArchive m_zip;
    InstallJournal m_journal;
    std::string m_resultText;
    std::string m_resultLetter;
    std::string m_conversionSummary;
    bool m_tableUpdate = false;
    bool m_tableConverted = false;
    bool m_journalStarted = false;
    bool m_rollbackFailed = false;
    int m_selectedCounter = 0;
    bool m_wholeArchiveTested = false;  // Every entry was read and its CRC checked.
};

}  // namespace tavrel::session
