// What a connected session does in the base folder: the agent folders
// (CheckFor_Updates0, with the agent file download and its history record)
// and the package folder (CheckFor_Updates2, ProcessUpdatePackages).
#include <array>

#include "agent/history/history_table.h"
#include "agent/session/file_helpers.h"
#include "agent/session/update_level.h"
#include "agent/session/update_session.h"
#include "platform/text_rules.h"

namespace tavrel::session {
namespace {

using history::WindowLogAction;
using history::WindowLogTarget;

constexpr std::string_view kSetupProgram = "TAVREL_UPDATE";
constexpr std::string_view kInstallerProgram = "TAVRELUPDATE.EXE";
// Levels after which the packages that follow wait for the next session.
constexpr std::array<std::string_view, 3> kStopLevels = {"TAVREL1021", "TAVREL1022", "TAVREL1023"};

bool isPackageName(std::string_view name) {
    return name.ends_with(".ZIP") && name.starts_with("TAVREL");
}

std::string withoutExtension(std::string_view name) {
    return std::string(name.substr(0, name.size() - 4));
}

}  // namespace

void UpdateSession::CheckFor_Updates0() {
    m_with.versions.ReadVersionFile(VersionKind::Agent);
    m_ftp.setLastError(0);
    m_updateVerIndex = -1;
    ChangeRemoteFolder(int(RemoteFolderCode::kUpdate0));
    if (ChangeRemoteFolder(int(RemoteFolderCode::kSetups)) == 0) {
        if (checkAgentFolder(1, "Checking Download Remote Folder1 for Updates") &&
            downloadAgentFiles(false)) {
            m_restart = true;
            m_continue = false;
        }
        ChangeRemoteFolder(int(RemoteFolderCode::kParent));
        m_listingMode = int(ListingMode::kNone);
    }
    if (m_continue) {
        m_ftp.setLastError(0);
        m_updateVerIndex = -1;
        if (ChangeRemoteFolder(int(RemoteFolderCode::kUpdates)) == 0) {
            if (checkAgentFolder(2, "Checking Download Remote Folder2 for Updates") &&
                downloadAgentFiles(true)) {
                write("Downloaded Updates from Folder1");
                m_restart = true;
                m_continue = false;
                recordAgentDownload();
            }
            ChangeRemoteFolder(int(RemoteFolderCode::kParent));
            m_listingMode = int(ListingMode::kNone);
        }
    }
    ChangeRemoteFolder(int(RemoteFolderCode::kParent));
}

// Lists the agent folder the session stands in; true when its UPDATE.VER
// names a level above the installed agent's.
bool UpdateSession::checkAgentFolder(int, std::string_view message) {
    // Each folder's own UPDATE.VER vouches for the files beside it.
    m_newAgentVersion = false;
    m_listingMode = int(ListingMode::kAgentFiles);
    resetProgress();
    clearRemoteList();
    write(message);
    ListRemoteFolder();
    if (!m_list.empty() && m_updateVerIndex != -1) readRemoteAgentLevel();
    return m_newAgentVersion;
}

bool UpdateSession::readRemoteAgentLevel() {
    const std::string& remoteName = m_table[std::size_t(m_updateVerIndex)].name;
    if (m_ftp.openRemoteFile(remoteName) != 0) return false;
    std::string level;
    m_ftp.readCharacters(int(kLevelLength), level);
    // Only a whole level counts; a short file names no version.
    if (level.size() == kLevelLength && isNewerLevel(level, m_with.versions.AgentLevel())) {
        if (m_panels) m_panels->setPanelText("NEWVERSION", level);
        m_newAgentVersion = true;
    }
    m_ftp.closeRemoteFile();
    return m_newAgentVersion;
}

// The files of Folder1 (setup program, installer) or Folder2 (every file),
// then UPDATE.VER last when at least one arrived. True when all taken files
// arrived and there was at least one.
bool UpdateSession::downloadAgentFiles(bool folder2) {
    const std::string agentFolder = m_with.state.agentFolder;
    const std::string number(levelNumber(panel("NEWVERSION")));
    const std::string numbered = std::string(kSetupProgram) + number + ".EXE";
    const int count = int(m_list.size());
    int downloaded = 0;
    bool success = false;
    for (int i = 0; i <= count; ++i) {
        std::string folder = agentFolder;
        std::string local;
        int entry = -1;
        int listIndex = i;
        if (i == count) {
            if (downloaded == 0 || m_updateVerIndex == -1) break;
            entry = m_updateVerIndex;
            local = platform::upperText(m_table[std::size_t(entry)].name);
            listIndex = -1;
        } else {
            const RemoteListItem& item = m_list[std::size_t(i)];
            entry = item.entryIndex;
            local = item.name;
            if (!folder2) {
                if (local == std::string(kSetupProgram) + ".EXE")
                    local = platform::upperText(numbered);
                else if (local != numbered && local != kInstallerProgram)
                    continue;
            } else if (local != kInstallerProgram) {
                folder = JoinPath(agentFolder, "NewVersion");
            }
        }
        bool failed = false;
        FileDownload(listIndex, folder, local, m_table[std::size_t(entry)].name, failed);
        letEventsRun();
        if (failed) {
            downloaded = 0;
            success = false;
            break;
        }
        success = true;
        ++downloaded;
    }
    return success && downloaded > 0;
}

void UpdateSession::recordAgentDownload() {
    history::HistoryTable* table = m_with.history;
    if (!table || !table->OpenHistoryTable()) return;
    table->RegisterUpdateRecord(panel("NEWVERSION"), "", "U");
    table->CloseHistoryTable();
}

void UpdateSession::CheckFor_Updates2() {
    m_with.versions.ReadVersionFile(VersionKind::Agent);
    m_ftp.setLastError(0);
    m_updateVerIndex = -1;
    ChangeRemoteFolder(int(RemoteFolderCode::kUpdate2));
    if (ChangeRemoteFolder(int(RemoteFolderCode::kUpdates)) == 0) {
        m_listingMode = int(ListingMode::kPackages);
        resetProgress();
        clearRemoteList();
        write("Checking Download Remote Folder4 for Updates");
        ListRemoteFolder();
        if (m_list.empty()) {
            ChangeRemoteFolder(int(RemoteFolderCode::kParent));
            m_listingMode = int(ListingMode::kNone);
            FtpSessionStep(int(FtpStep::kNothingNew));
        } else {
            ProcessUpdatePackages();
            ChangeRemoteFolder(int(RemoteFolderCode::kParent));
            m_listingMode = int(ListingMode::kNone);
        }
    }
    if (m_ftp.connected()) ChangeRemoteFolder(int(RemoteFolderCode::kParent));
}

void UpdateSession::ProcessUpdatePackages() {
    const int count = int(m_list.size());
    if (count == 0) {
        write("There are No Updates on Server");
        m_lastSessionResult = int(SessionResult::kNothingNew);
    } else {
        write("Kestmoor Tavrel Version is : " + panel("CURVERSION"));
        const int first = selectPackages();
        if (first < 0) {
            write("There are No New Updates on Server to Process");
            m_lastSessionResult = int(SessionResult::kNothingNew);
            m_with.state.runCompleted = true;
        } else if (m_ftp.connected()) {
            for (int i = first; i < count && processPackage(i) && m_ftp.connected(); ++i) {
            }
            write("");
        }
    }
    FtpSessionStep(int(FtpStep::kDisconnect));
    m_log.WriteWindowLog(WindowLogAction::Save, 0);
}

// Selects the unbroken run of newer packages at the end of the list; the
// index of the first (oldest) one, or -1 when there is none.
int UpdateSession::selectPackages() {
    int first = -1;
    for (int i = int(m_list.size()) - 1; i >= 0; --i) {
        setCurrentItem(i);
        const std::string name = platform::upperText(m_list[std::size_t(i)].name);
        if (!isPackageName(name)) continue;
        if (!isNewerLevel(withoutExtension(name), m_with.versions.ApplicationLevel())) break;
        selectRemoteItem(i, true);
        write("New Update File On Server: " + name);
        first = i;
    }
    return first;
}

// Downloads and installs the package of list item `item`; true when the
// processing goes on with the next one.
bool UpdateSession::processPackage(int item) {
    m_currentPackageFile.clear();
    m_currentPackageName.clear();
    setCurrentItem(item);
    const RemoteListItem& listed = m_list[std::size_t(item)];
    if (!listed.selected) return true;
    m_currentPackageFile = listed.name;
    m_currentPackageName = withoutExtension(listed.name);
    if (!EnsureFolder(UpdateRootFolder(), true)) return downloadFailed();
    write("");
    write("Downloading from Server: " + listed.name, WindowLogTarget::PageAndStatus);
    resetProgress();
    if (!downloadPackage(item)) return downloadFailed();
    return installPackage();
}

// Fetches the package into the UPDATE folder and moves it into its own
// package folder; false when the file or a folder could not be had.
bool UpdateSession::downloadPackage(int item) {
    const RemoteListItem& listed = m_list[std::size_t(item)];
    const std::string root = UpdateRootFolder();
    const std::string downloaded = JoinPath(root, listed.name);
    const std::string& remoteName = m_table[std::size_t(listed.entryIndex)].name;
    if (m_ftp.getFile(downloaded, remoteName) != 0) return false;
    const std::string packageFolder = JoinPath(root, m_currentPackageName);
    if (!EnsureFolder(packageFolder, true)) return false;
    EnsureFolder(JoinPath(packageFolder, "BACKUP"), true);
    return CopyOrMoveFile(downloaded, JoinPath(packageFolder, listed.name), true, true);
}

bool UpdateSession::installPackage() {
    const std::string packageFile =
        JoinPath(UpdateRootFolder(), m_currentPackageName, m_currentPackageFile);
    if (m_panels) m_panels->setPanelText("NEWVERSION", m_currentPackageName);
    write("Installing Tavrel Update: " + m_currentPackageName, WindowLogTarget::PageAndStatus);
    if (m_pages) m_pages->SelectLogPage(1);
    clearPage(1);
    if (m_installation) m_installation->InstallUpdatePackage(packageFile);
    if (m_pages) m_pages->SelectLogPage(0);
    letEventsRun();
    bool goOn = false;
    std::string result;
    if (m_installation && panel("CURVERSION") == panel("NEWVERSION")) {
        result = "RESULT: INSTALL SUCCESS TAVREL UPDATE: " + m_currentPackageName;
        m_lastSessionResult = int(SessionResult::kInstalled);
        const std::string& level = m_with.versions.ApplicationLevel();
        goOn = true;
        for (std::string_view stop : kStopLevels)
            if (level == stop) goOn = false;
    } else {
        result = "RESULT: INSTALL FAILED TAVREL UPDATE: " + m_currentPackageName;
        m_lastSessionResult = int(SessionResult::kInstallFailed);
    }
    write(result, WindowLogTarget::PageAndStatus);
    write("Kestmoor Tavrel Version is : " + panel("CURVERSION"));
    return goOn;
}

// A package that cannot be had ends the processing like a failed
// installation: the levels after it must not be installed over the gap.
bool UpdateSession::downloadFailed() {
    write("RESULT: DOWNLOAD FAILED TAVREL UPDATE: " + m_currentPackageName,
          WindowLogTarget::PageAndStatus);
    m_lastSessionResult = int(SessionResult::kInstallFailed);
    return false;
}

}  // namespace tavrel::session
