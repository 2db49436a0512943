// Where the update window, the package installation and the table conversion
// meet. Each side is built and tested alone against these interfaces; the
// update window implements the views, the installation implements
// PackageInstallation, the conversion implements TableConversionStage.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tavrel::session {

// Names of the package being installed, fixed by the installation before it
// calls the conversion. Folders end in the path separator.
struct PackageNames {
    std::string applicationFolder;
    // UPDATE/<level>/ in the application folder: where the package lies.
    std::string packageFolder;
    // packageFolder + "BACKUP/": the replaced files, safety copies, journal.
    std::string packageBackupFolder;
    // The table-update zip extracted into packageFolder ("TBLUPD0101.ZIP"),
    // the same without extension, and that from its seventh character on.
    std::string tableUpdateFile;
    std::string tableUpdateName;
    std::string tableUpdateId;
};

// The progress lines and bars of the table-conversion frame on page 2.
class ConversionProgressView {
  public:
    virtual ~ConversionProgressView() = default;
    virtual void ProgressText(int line, std::string_view text) = 0;
    // `maximum` -1 keeps the bar's maximum. Values of any size are scaled.
    virtual void ProgressValue(int bar, std::int64_t value, std::int64_t maximum) = 0;
    virtual void SelectLogPage(int page) = 0;
};

// The update window's status bar panels ("ACTION", "UPDVERSION",
// "CURVERSION", "NEWVERSION", "AUTOUPDATE").
class StatusPanels {
  public:
    virtual ~StatusPanels() = default;
    virtual std::string panelText(std::string_view key) const = 0;
    virtual void setPanelText(std::string_view key, std::string_view text) = 0;
};

// The table conversion as the installation's stage 1 sees it.
class TableConversionStage {
  public:
    virtual ~TableConversionStage() = default;
    // True when the tables were converted or needed nothing; false when the
    // conversion was aborted and rolled back.
    virtual bool UpdTableConvert(const PackageNames& names) = 0;
    // Puts the tables, TABLEDES and TABLEDET back as they were before a
    // conversion of this package that was interrupted (the process killed),
    // from the backup archive and the safety copies in packageBackupFolder,
    // and removes tables it had added. 0 when there was nothing to do or all
    // was put back; otherwise an error code, and the caller must not go on.
    virtual int recoverInterruptedConversion(const PackageNames& names) = 0;
};

// The installation of one downloaded package, as the session calls it.
class PackageInstallation {
  public:
    virtual ~PackageInstallation() = default;
    // Installs the archive at `packageFile` (in UPDATE/<level>/ of the
    // application folder). The outcome shows in the "CURVERSION" panel (the
    // application level after the run), the history and the log pages;
    // resultText() gives the recorded result text.
    virtual void InstallUpdatePackage(const std::string& packageFile) = 0;
    virtual std::string resultText() const = 0;
};

}  // namespace tavrel::session
