// The logic of the settings dialog frmSetup: the application folder with its
// check, daily checking with its hours, the trace file and the number of
// history records to keep. It writes the configuration only on "&Ok".
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/shell/configuration.h"

namespace tavrel::agent {

inline constexpr std::string_view kSettingsCaption = "Kestmoor Tavrel Update Settings";
inline constexpr std::string_view kFolderMissing = "APPLICATION FOLDER IS MISSING";
inline constexpr std::string_view kFolderCorrect = "APPLICATION FOLDER IS CORRECT";
inline constexpr std::string_view kFolderIncorrect = "APPLICATION FOLDER IS INCORRECT";
// What "Number of Update Records to Keep" saves when it is empty, and the
// least it accepts when it loses the focus.
inline constexpr int kLeastRecordsToKeep = 50;

// What the "&Find" chooser is opened with.
struct ApplicationFileRequest {
    std::string title = "Kestmoor Tavrel Application Folder";
    std::string fileName = "TAVREL32.EXE";
    std::string filter = "TAVREL32.EXE (TAVREL32.EXE)";
    std::string initialFolder;
};

class SettingsView {
  public:
    virtual ~SettingsView() = default;
    virtual void setHourEntries(const std::vector<std::string>& entries) = 0;
    virtual int startIndex() const = 0;
    virtual void setStartIndex(int index) = 0;
    virtual int finishIndex() const = 0;
    virtual void setFinishIndex(int index) = 0;
    virtual void setHourListsEnabled(bool enabled) = 0;
    virtual std::string folderText() const = 0;
    // Changing the text runs the dialog's TestFolder (as typing does).
    virtual void setFolderText(const std::string& text) = 0;
    virtual void focusFolder() = 0;
    virtual bool updatesChecked() const = 0;
    virtual void setUpdatesChecked(bool checked) = 0;
    virtual bool traceChecked() const = 0;
    virtual void setTraceChecked(bool checked) = 0;
    virtual std::string keepLastText() const = 0;
    virtual void setKeepLastText(const std::string& text) = 0;
    virtual void setPanelText(std::string_view key, const std::string& text) = 0;
    // The chosen file's full path, or nullopt when the chooser was cancelled.
    virtual std::optional<std::string> chooseApplicationFile(
        const ApplicationFileRequest& request) = 0;
    virtual void closeDialog() = 0;
};

// The 24 entries "00:00" to "23:00"; an entry's position is its hour.
std::vector<std::string> hourEntries();

// Strips a chosen file path down to its folder: a trailing separator, then
// `tail` when the upper-cased path ends with it, then a trailing separator
// again; a bare drive ("C:") gets its separator back, and so does the root of
// a path that began with a separator. `tail` is compared exactly (pass it in
// upper case). Both "\" and "/" count as separators.
void FolderStrip(std::string_view path, std::string_view tail, std::string& folder);

// The numeric value of the leading number of `text` (blanks skipped), 0 when
// there is none; what the dialog reads from hours and the record box.
long leadingNumber(std::string_view text);

class SettingsDialog {
  public:
    // Both are borrowed and must outlive the dialog.
    SettingsDialog(SettingsView& view, Configuration& configuration)
        : m_view(view), m_configuration(configuration) {}

    // Opening: the hour lists, the stored settings, the check box rule and TestFolder.
    void Form_Load();
    void chkUpdates_Click();
    // Reports in panel "FOLDER" whether the folder text holds TAVREL32.EXE.
    void TestFolder();
    void cmdPathMain_Click();
    // True when a typed character is kept in the record box (digits only).
    static bool keepLastAccepts(char typed) { return typed >= '0' && typed <= '9'; }
    void txtKeepLast_LostFocus();
    // 0 "&Ok" (save, then close), 1 "&Cancel" (close).
    void cmdAction_Click(int index);
    void Save();

  private:
    SettingsView& m_view;
    Configuration& m_configuration;
};

}  // namespace tavrel::agent
