// The numbered FTP steps of an update session, the remote folder codes, the
// listing into lstRemoteFiles, the download of one file and the component's
// notifications.
#include "agent/session/update_session.h"

#include <algorithm>

#include "agent/history/log_text.h"
#include "agent/history/operation_log.h"
#include "agent/session/file_helpers.h"
#include "agent/session/update_level.h"
#include "components/ftpclient/ftp_codes.h"
#include "platform/text_rules.h"

namespace tavrel::session {
namespace {

using history::WindowLogAction;
using history::WindowLogTarget;

constexpr int kEndOfListing = ftpclient::code(ftpclient::FtpResult::kEndOfListing);
constexpr int kNoListingOpen = ftpclient::code(ftpclient::FtpResult::kNoListingOpen);
// A listing longer than this is cut off rather than read for ever.
constexpr int kMostListingEntries = 1000000;

// A name from the server as it may be shown in one log line: control
// characters (a CR or LF would start a line of their own) become "?".
std::string printableName(std::string_view name) {
    std::string text(name);
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return text;
}

std::string orDefault(const std::string& value, std::string_view fallback) {
    return value.empty() ? std::string(fallback) : value;
}

}  // namespace

UpdateSession::UpdateSession(SessionCollaborators collaborators)
    : m_with(collaborators), m_log([this] { return UpdateRootFolder(); }), m_ftp(this) {
    m_ftp.setTimeouts(m_with.timeouts);
}

UpdateSession::~UpdateSession() {
    // The window may already be gone; what is left to do needs no view.
    m_view = nullptr;
    m_panels = nullptr;
    m_pages = nullptr;
    m_log.setView(nullptr);
    if (!m_closedCleanly) FormUnload();
}

void UpdateSession::attach(UpdateWindowView& view, StatusPanels& panels,
                           ConversionProgressView& pages) {
    m_view = &view;
    m_panels = &panels;
    m_pages = &pages;
}

std::string UpdateSession::UpdateRootFolder() const {
    if (m_with.state.applicationFolder.empty()) return {};
    return JoinPath(m_with.state.applicationFolder, "UPDATE");
}

void UpdateSession::FtpSessionStep(int stepCode) {
    ++m_stepDepth;
    switch (FtpStep(stepCode)) {
        case FtpStep::kConnect:
            stepConnect();
            break;
        case FtpStep::kConnected:
            stepConnected();
            break;
        case FtpStep::kCheckAgentFolders:
            stepCheckAgentFolders();
            break;
        case FtpStep::kCheckPackageFolder:
            if (m_ftp.connected() && m_continue) CheckFor_Updates2();
            break;
        case FtpStep::kNothingNew:
            stepNothingNew();
            break;
        case FtpStep::kDisconnect:
            stepDisconnect();
            break;
        case FtpStep::kDisconnected:
            stepDisconnected();
            break;
        case FtpStep::kShutDown:
            stepShutDown();
            --m_stepDepth;
            return;
    }
    --m_stepDepth;
    updateButtons();
}

void UpdateSession::stepConnect() {
    m_ftp.setLastError(0);
    m_continue = false;
    if (m_ftp.connected()) return;
    clearPage(3);
    clearPage(0);
    clearPage(1);
    m_stepCode = int(FtpStep::kConnect);
    m_retry = false;
    if (m_pages) m_pages->SelectLogPage(0);
    setMenu(OptionsItem::kProduceTraceFile, menuChecked(OptionsItem::kProduceTraceFile), false);
    m_ftp.setTrace(menuChecked(OptionsItem::kProduceTraceFile));
    m_ftp.setLastError(0);
    m_ftp.setHost(m_with.configuration.ReadFtpHost());
    m_ftp.setUser(std::string(kFtpUser));
    m_ftp.setPassword(std::string(kFtpPassword));
    ResetTransferState();
    clearPage(0);
    clearPage(1);
    clearRemoteList();
    write("Current Date And Time Is : " + history::NowText(m_with.clock));
    write("Connecting to 'Kestmoor Tavrel' Update Server ...", WindowLogTarget::PageAndStatus);
    m_lastFtpError.clear();
    setButton(UpdateButton::kConnect, false);
    setButton(UpdateButton::kDisconnect, false);
    setButton(UpdateButton::kExit, false);
    m_ftp.connect();
    if (m_ftp.connected()) {
        FtpSessionStep(int(FtpStep::kConnected));
    } else if (m_ftp.lastError() != 0) {
        m_retry = true;
        // The window log is saved only after a session that connected, so an
        // unattended run that cannot log in would leave no word of it.
        operationLog("Update Check - No connection to the Update Server: " +
                     (m_lastFtpError.empty() ? "Ftp Error : " + std::to_string(m_ftp.lastError())
                                             : m_lastFtpError));
        FtpSessionStep(int(FtpStep::kDisconnected));
    }
}

void UpdateSession::operationLog(const std::string& message) {
    if (m_with.state.agentFolder.empty()) return;
    history::OperationLog(m_with.state.agentFolder, m_with.clock).AppendOperationLog(message);
}

void UpdateSession::stepConnected() {
    m_stepCode = int(FtpStep::kConnected);
    write("Connected to 'Kestmoor Tavrel' Update Server", WindowLogTarget::PageAndStatus);
    clearRemoteList();
    write("Changing to Tavrel Remote Download Folder");
    m_listingMode = int(ListingMode::kNone);
    m_restart = false;
    if (ChangeRemoteFolder(int(RemoteFolderCode::kBase)) != 0) {
        m_retry = true;
        operationLog("Update Check - The update folder on the Update Server could not be reached");
        FtpSessionStep(int(FtpStep::kDisconnect));
        return;
    }
    m_continue = true;
    FtpSessionStep(int(FtpStep::kCheckAgentFolders));
    FtpSessionStep(int(FtpStep::kDisconnect));
}

void UpdateSession::stepCheckAgentFolders() {
    if (m_ftp.connected() && m_continue)
        CheckFor_Updates0();
    else
        FtpSessionStep(int(FtpStep::kDisconnect));
    if (m_ftp.connected() && m_continue)
        FtpSessionStep(int(FtpStep::kCheckPackageFolder));
    else
        FtpSessionStep(int(FtpStep::kDisconnect));
}

void UpdateSession::stepNothingNew() {
    m_stepCode = int(FtpStep::kNothingNew);
    const std::string rule = history::separatorLine('>', 50);
    std::string text = rule;
    text += history::kLineBreak;
    text += "There are No New Updates currently on the Server";
    text += history::kLineBreak;
    text += rule;
    write(text);
    FtpSessionStep(int(FtpStep::kDisconnect));
    m_lastSessionResult = int(SessionResult::kNothingNew);
    m_with.state.runCompleted = true;
}

void UpdateSession::stepDisconnect() {
    if (m_ftp.connected()) {
        m_stepCode = int(FtpStep::kDisconnect);
        write("Disconnecting from 'Kestmoor Tavrel' Update Server ...",
              WindowLogTarget::PageAndStatus);
        m_disconnecting = true;
        m_ftp.disconnect();
        m_disconnecting = false;
        if (!m_ftp.connected()) FtpSessionStep(int(FtpStep::kDisconnected));
    } else if (m_stepCode != int(FtpStep::kDisconnected)) {
        FtpSessionStep(int(FtpStep::kDisconnected));
    }
}

void UpdateSession::stepDisconnected() {
    m_continue = false;
    m_stepCode = int(FtpStep::kDisconnected);
    write("Disconnected from 'Kestmoor Tavrel' Update Server", WindowLogTarget::PageAndStatus);
    write("Current Date And Time Is : " + history::NowText(m_with.clock));
    ResetTransferState();
    m_ftp.setTrace(false);
}

void UpdateSession::stepShutDown() {
    if (m_ftp.connected()) {
        m_disconnecting = true;
        m_ftp.disconnect();
        m_disconnecting = false;
    }
    m_ftp.setLastError(0);
    // The window log holds no file open between saves, so there is none to close.
    m_stepCode = int(FtpStep::kShutDown);
    m_shutDownRan = true;
}

void UpdateSession::updateButtons() {
    if (m_ftp.connected()) {
        setButton(UpdateButton::kConnect, false);
        setButton(UpdateButton::kExit, false);
        setMenu(OptionsItem::kProduceTraceFile, menuChecked(OptionsItem::kProduceTraceFile), false);
        return;
    }
    m_continue = false;
    setButton(UpdateButton::kConnect, !m_with.state.automaticRun);
    setButton(UpdateButton::kExit, true);
    m_ftp.setTrace(false);
    setMenu(OptionsItem::kProduceTraceFile, menuChecked(OptionsItem::kProduceTraceFile), true);
}

int UpdateSession::ChangeRemoteFolder(int folderCode, std::string_view folderName) {
    if (!m_ftp.connected()) return 0;
    const agent::RunState& state = m_with.state;
    std::string folder;
    switch (RemoteFolderCode(folderCode)) {
        case RemoteFolderCode::kBase:
            folder = orDefault(state.remoteBaseFolder, kRemoteBaseFolder);
            break;
        case RemoteFolderCode::kUpdate0:
            folder = orDefault(state.updateFolder0, state.testMode ? "UPDTST0" : "UPDATE0");
            break;
        case RemoteFolderCode::kUpdate2:
            folder = orDefault(state.updateFolder2, state.testMode ? "UPDTST2" : "UPDATE2");
            break;
        case RemoteFolderCode::kParent:
            folder = "..";
            break;
        case RemoteFolderCode::kSetups:
            folder = orDefault(state.setupsFolder, "SETUPS");
            break;
        case RemoteFolderCode::kUpdates:
            folder = orDefault(state.updatesFolder, "UPDATES");
            break;
        default:
            folder = std::string(folderName);
            break;
    }
    const int result = m_ftp.changeFolder(folder);
    m_listingMode = result == 0 && folderCode > 0 ? folderCode : 0;
    return result;
}

void UpdateSession::ListRemoteFolder() {
    m_ftp.setLastError(0);
    clearRemoteList();
    m_table.clear();
    int result = m_ftp.openListing();
    const bool opened = result == 0;
    for (int count = 0; result == 0 && count < kMostListingEntries;) {
        ftpclient::RemoteEntry entry;
        result = m_ftp.readNextEntry(entry);
        if (result != 0) break;
        if (entry.name == "." || entry.name == "..") continue;
        // A name that could reach outside its folder is never listed, fetched
        // or used as a local file name.
        if (entry.isUnsafe()) {
            write("Unsafe Remote File Name Ignored: " + printableName(entry.name));
            continue;
        }
        m_table.push_back(std::move(entry));
        if (!m_table.back().isDirectory) FilterRemoteEntry(count);
        ++count;
    }
    if (result == kEndOfListing || result == kNoListingOpen) m_ftp.setLastError(0);
    if (opened) m_ftp.closeListing();
}

void UpdateSession::FilterRemoteEntry(int tableIndex) {
    if (tableIndex < 0 || tableIndex >= int(m_table.size())) return;
    const ftpclient::RemoteEntry& entry = m_table[std::size_t(tableIndex)];
    if (entry.isDirectory) return;
    std::string name = platform::upperText(entry.name);
    if (m_listingMode == int(ListingMode::kAgentFiles)) {
        if (name == kDownloadedVersionFile) {
            m_updateVerIndex = tableIndex;
            return;
        }
        addRemoteItem(std::move(name), tableIndex);
    } else if (m_listingMode == int(ListingMode::kPackages)) {
        if (name.size() >= 4 && name.ends_with(".ZIP") && name.starts_with("TAVREL") &&
            isNewerLevel(std::string_view(name).substr(0, kLevelLength), panel("CURVERSION")))
            addRemoteItem(std::move(name), tableIndex);
    }
}

void UpdateSession::FileDownload(int listIndex, const std::string& localFolder,
                                 const std::string& localName, const std::string& remoteName,
                                 bool& failed) {
    const int result = m_ftp.getFile(JoinPath(localFolder, localName), remoteName);
    failed = result != 0;
    if (listIndex != -1) selectRemoteItem(listIndex, !failed);
}

void UpdateSession::ResetTransferState() {
    m_continue = false;
    m_updateVerIndex = -1;
    resetProgress();
    m_table.clear();
}

void UpdateSession::onDisconnected() {
    // Our own disconnect is followed by step 9010 in the step that made it; a
    // connection lost inside a running step is found by that step, which
    // tests the connection after every call and ends through step 6001.
    if (m_disconnecting || m_stepDepth > 0) return;
    if (m_stepCode != int(FtpStep::kDisconnected) && m_stepCode != int(FtpStep::kShutDown))
        FtpSessionStep(int(FtpStep::kDisconnected));
}

void UpdateSession::onError(int errorCode, const std::string& description) {
    if (errorCode == kEndOfListing || errorCode == kNoListingOpen) return;
    m_lastFtpError = "Ftp Error : " + std::to_string(errorCode) + " " + description;
    write(m_lastFtpError);
}

void UpdateSession::onCommandReply(int resultCode, const std::string& resultText) {
    m_log.WriteWindowLog(WindowLogAction::Append, 3, std::to_string(resultCode) + " " + resultText);
}

void UpdateSession::onTransferProgress(const std::string&, std::uint64_t totalSize,
                                       std::uint64_t bytesDone, int percent) {
    if (totalSize > std::uint64_t(m_progressMaximum)) {
        m_progressValue = 0;
        if (totalSize > 32000) {
            m_progressMaximum = 100;
            m_progressMark = '2';
        } else {
            m_progressMaximum = int(totalSize);
            m_progressMark = '1';
        }
    }
    if (bytesDone >= std::uint64_t(m_progressValue)) {
        if (m_progressMark == '1')
            m_progressValue = int(std::min<std::uint64_t>(bytesDone, m_progressMaximum));
        else if (m_progressMark == '2')
            m_progressValue = std::clamp(percent, 0, 100);
    }
    if (m_view) m_view->transferProgressChanged(m_progressValue, m_progressMaximum);
}

// --- Shared pieces ---

void UpdateSession::write(std::string_view text, history::WindowLogTarget target, int page) {
    m_log.WriteWindowLog(WindowLogAction::Append, page, text, target);
}

void UpdateSession::clearPage(int page) { m_log.WriteWindowLog(WindowLogAction::Clear, page); }

void UpdateSession::resetProgress() {
    m_progressValue = 0;
    m_progressMaximum = 1;
    if (m_view) m_view->transferProgressChanged(0, 1);
}

void UpdateSession::clearRemoteList() {
    m_list.clear();
    m_currentItem = -1;
    if (m_view) m_view->remoteListCleared();
}

void UpdateSession::addRemoteItem(std::string name, int entryIndex) {
    // Kept in ascending order of names, whatever order the server lists in;
    // a second entry with the same upper-cased name would land on the same
    // local file and is left out.
    auto at = std::lower_bound(m_list.begin(), m_list.end(), name,
                               [](const RemoteListItem& item, const std::string& n) {
                                   return compareLevels(item.name, n) == std::strong_ordering::less;
                               });
    if (at != m_list.end() && at->name == name) return;
    const int index = int(at - m_list.begin());
    m_list.insert(at, RemoteListItem{name, entryIndex, false});
    if (m_view) m_view->remoteItemInserted(index, name);
}

void UpdateSession::selectRemoteItem(int index, bool selected) {
    if (index < 0 || index >= int(m_list.size())) return;
    m_list[std::size_t(index)].selected = selected;
    if (m_view) m_view->remoteItemSelected(index, selected);
}

void UpdateSession::setCurrentItem(int index) {
    m_currentItem = index;
    if (m_view) m_view->remoteCurrentItem(index);
}

void UpdateSession::setButton(UpdateButton button, bool enabled) {
    m_buttons[int(button)] = enabled;
    if (m_view) m_view->setButtonEnabled(button, enabled);
}

void UpdateSession::setMenu(OptionsItem item, bool checked, bool enabled) {
    m_menuChecked[int(item)] = checked;
    m_menuEnabled[int(item)] = enabled;
    if (m_view) m_view->setMenuItem(item, checked, enabled);
}

void UpdateSession::setTimer(bool running, int interval) {
    m_timerRunning = running;
    m_timerInterval = interval;
    if (m_view) m_view->setTimer(running, interval);
}

std::string UpdateSession::panel(std::string_view key) const {
    return m_panels ? m_panels->panelText(key) : std::string();
}

void UpdateSession::letEventsRun() {
    if (m_view) m_view->letEventsRun();
}

}  // namespace tavrel::session
