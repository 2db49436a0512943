#include "agent/shell/settings_dialog.h"

#include <cstdio>

#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::agent {
namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

void dropTrailingSeparator(std::string& text) {
    if (!text.empty() && isSeparator(text.back())) text.pop_back();
}

std::string hourText(int hour) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:00", hour);
    return text;
}

// The list position for a stored time: the numeric value of its first two
// characters ("5:30" gives 5); a value that is no position keeps `fallback`.
int hourIndex(const std::string& stored, int fallback) {
    const long hour = leadingNumber(std::string_view(stored).substr(0, 2));
    return hour >= 0 && hour < 24 ? int(hour) : fallback;
}

}  // namespace

std::vector<std::string> hourEntries() {
    std::vector<std::string> entries;
    for (int hour = 0; hour < 24; ++hour) entries.push_back(hourText(hour));
    return entries;
}

long leadingNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < 100000000) value = value * 10 + (text[i] - '0');
    }
    return value;
}

void FolderStrip(std::string_view path, std::string_view tail, std::string& folder) {
    folder.assign(path);
    if (folder.empty()) return;
    const bool rooted = isSeparator(folder.front());
    dropTrailingSeparator(folder);
    if (!tail.empty() && platform::upperText(folder).ends_with(tail)) {
        folder.resize(folder.size() - tail.size());
    }
    dropTrailingSeparator(folder);
    if (folder.ends_with(':')) {
        folder += '\\';
    } else if (folder.empty() && rooted) {
        folder = std::string(1, platform::kPathSeparator);
    }
}

void SettingsDialog::Form_Load() {
    m_view.setHourEntries(hourEntries());
    m_view.setStartIndex(1);
    m_view.setFinishIndex(3);
    m_view.setFolderText(m_configuration.ReadMainPath());
    m_view.setUpdatesChecked(m_configuration.ReadUpdateFlag());
    m_view.setTraceChecked(m_configuration.ReadTraceFile());
    m_view.setStartIndex(hourIndex(m_configuration.ReadUpdateStart(), m_view.startIndex()));
    m_view.setFinishIndex(hourIndex(m_configuration.ReadUpdateFinish(), m_view.finishIndex()));
    m_view.setKeepLastText(std::to_string(m_configuration.ReadKeepLastRecords()));
    chkUpdates_Click();
    TestFolder();
}

void SettingsDialog::chkUpdates_Click() { m_view.setHourListsEnabled(m_view.updatesChecked()); }

void SettingsDialog::TestFolder() {
    const std::string folder = m_view.folderText();
    if (folder.empty()) {
        m_view.setPanelText("FOLDER", std::string(kFolderMissing));
    } else if (platform::fileExists(platform::joinPath(folder, "TAVREL32.EXE"))) {
        m_view.setPanelText("FOLDER", std::string(kFolderCorrect));
    } else {
        m_view.setPanelText("FOLDER", std::string(kFolderIncorrect));
    }
}

void SettingsDialog::cmdPathMain_Click() {
    m_view.focusFolder();
    ApplicationFileRequest request;
    request.initialFolder = m_view.folderText();
    const std::optional<std::string> chosen = m_view.chooseApplicationFile(request);
    if (!chosen || chosen->empty()) return;
    // A drive path names the same folder in any case and is shown upper-cased;
    // on a file system that tells cases apart the chosen folder keeps its case.
    const bool drivePath = chosen->size() >= 2 && (*chosen)[1] == ':';
    const std::string path = drivePath ? platform::upperText(*chosen) : *chosen;
    const std::string tail = std::string(1, drivePath ? '\\' : platform::kPathSeparator);
    std::string folder;
    FolderStrip(path, tail + "TAVREL32.EXE", folder);
    if (folder.size() == 2 && folder[1] == ':') folder += '\\';
    m_view.setFolderText(folder);
}

void SettingsDialog::txtKeepLast_LostFocus() {
    if (leadingNumber(m_view.keepLastText()) < kLeastRecordsToKeep) {
        m_view.setKeepLastText(std::to_string(kLeastRecordsToKeep));
    }
}

void SettingsDialog::cmdAction_Click(int index) {
    if (index == 0) Save();
    m_view.closeDialog();
}

void SettingsDialog::Save() {
    m_configuration.WriteMainPath(m_view.folderText());
    const std::string keep(platform::trimText(m_view.keepLastText()));
    const long records = keep.empty() ? kLeastRecordsToKeep : leadingNumber(keep);
    m_configuration.WriteKeepLastRecords(int(records > 32767 ? 32767 : records));
    m_configuration.WriteUpdateFlag(m_view.updatesChecked());
    m_configuration.WriteTraceFile(m_view.traceChecked());
    m_configuration.WriteUpdateStart(hourText(m_view.startIndex()));
    m_configuration.WriteUpdateFinish(hourText(m_view.finishIndex()));
}

}  // namespace tavrel::agent
