// The update window's logic: one update session with the update server, from
// the window's load through its numbered FTP steps, the agent-version check,
// the package check with download and installation, to the closing rules.
//
// The window (frmUpdate) is thin: it implements UpdateWindowView, StatusPanels,
// ConversionProgressView and history::WindowLogView, attaches them here and
// forwards its load, timer ticks, clicks and close requests. Everything runs on
// the caller's one thread; FTP notifications arrive from inside the component's
// calls (this object is the component's observer).
//
// Lifetime: the collaborators passed in are borrowed and must outlive the
// session; attach() and setInstallation() must be called before FormLoad().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "agent/history/window_log.h"
#include "agent/session/package_interfaces.h"
#include "agent/session/update_window_view.h"
#include "agent/session/version_files.h"
#include "agent/shell/configuration.h"
#include "agent/shell/run_state.h"
#include "components/ftpclient/ftp_client.h"
#include "platform/clock.h"

namespace tavrel::history {
class HistoryTable;
}

namespace tavrel::session {

// FtpSessionStep codes. The numbers are the system's; never renumber.
enum class FtpStep : int {
    kConnect = 3001,             // "Check For Update": connect
    kConnected = 3010,           // go to the base folder and run the checks
    kCheckAgentFolders = 4010,   // CheckFor_Updates0
    kCheckPackageFolder = 4030,  // CheckFor_Updates2
    kNothingNew = 5000,          // nothing new on the server
    kDisconnect = 6001,          // disconnect
    kDisconnected = 9010,        // disconnected (also the idle state at load)
    kShutDown = 9050,            // the window closes
};

// LastSessionResult. The numbers are the system's; never renumber.
enum class SessionResult : int {
    kLoaded = 30001,         // window loaded, no result yet
    kInstalled = 32001,      // the last package installed successfully
    kInstallFailed = 32501,  // a package failed to download or to install
    kNothingNew = 33001,     // nothing new on the server
};

// ChangeRemoteFolder codes. The numbers are the system's; never renumber.
enum class RemoteFolderCode : int {
    kParent = -1,    // ".."
    kBase = 1,       // the remote base folder "/httpdocs/download/TAVREL"
    kUpdate0 = 100,  // agent folder group "UPDATE0" ("UPDTST0" in test mode)
    kUpdate2 = 200,  // package folder group "UPDATE2" ("UPDTST2" in test mode)
    kSetups = 301,   // "SETUPS"
    kUpdates = 302,  // "UPDATES"
};

// Listing modes of FilterRemoteEntry. The numbers are the system's.
enum class ListingMode : int {
    kNone = 0,
    kAgentFiles = 1,  // Folder1 / Folder2: every file, UPDATE.VER remembered
    kPackages = 4,    // Folder4: packages newer than "CURVERSION"
};

// One item of lstRemoteFiles: the upper-cased name, the index of its entry in
// the remote directory table, and its selection mark.
struct RemoteListItem {
    std::string name;
    int entryIndex = -1;
    bool selected = false;
};

// The borrowed collaborators of a session.
struct SessionCollaborators {
    agent::RunState& state;
    agent::Configuration& configuration;
    const platform::Clock& clock;
    VersionFiles& versions;
    // The history table, or nullptr when there is none (no engine).
    history::HistoryTable* history = nullptr;
    // Time limits of the FTP component (tests make them short).
    ftpclient::FtpTimeouts timeouts{};
};

// The fixed account of the update server.
inline constexpr std::string_view kFtpUser = "kestmoor";
inline constexpr std::string_view kFtpPassword = "copperfinch";
inline constexpr std::string_view kRemoteBaseFolder = "/httpdocs/download/TAVREL";
// The first timer interval after load, and every later one.
inline constexpr int kFirstTickMilliseconds = 15000;
inline constexpr int kTickMilliseconds = 60000;

class UpdateSession : public ftpclient::FtpClientObserver {
  public:
    explicit UpdateSession(SessionCollaborators collaborators);
    ~UpdateSession() override;
    UpdateSession(const UpdateSession&) = delete;
    UpdateSession& operator=(const UpdateSession&) = delete;

    // The window's views; borrowed, they must outlive the session (or the
    // session must end first). The window log's view is the window too.
    void attach(UpdateWindowView& view, StatusPanels& panels, ConversionProgressView& pages);
    // The package installation that ProcessUpdatePackages calls; borrowed.
    void setInstallation(PackageInstallation* installation) { m_installation = installation; }

    // --- The window's events ---
    void FormLoad();
    void Timer1Tick();
    // Runs step 3001; afterwards, with the restart flag set, shows notice 4500
    // (user sessions only) and asks the window to close.
    void cmdConnectClick();
    void cmdDisconnectClick();
    // Asks the window to close (subject to QueryUnload).
    void cmdExitClick();
    void menuItemClicked(OptionsItem item);
    // The closing rules: true when the window may close now. A close that is
    // allowed runs step 9050 and marks the window closed cleanly.
    bool QueryUnload();
    // The window is going (or the object ends): timer stopped, step 9050 run
    // unless it already ran.
    void FormUnload();

    // --- The session steps ---
    void FtpSessionStep(int stepCode);
    // 0 on success, otherwise the component's result; 0 without sending
    // anything when not connected.
    int ChangeRemoteFolder(int folderCode, std::string_view folderName = {});
    void ListRemoteFolder();
    void FilterRemoteEntry(int tableIndex);
    // `failed` is set when the component's get-file result is not 0.
    void FileDownload(int listIndex, const std::string& localFolder, const std::string& localName,
                      const std::string& remoteName, bool& failed);
    void ResetTransferState();
    void CheckFor_Updates0();
    void CheckFor_Updates2();
    void ProcessUpdatePackages();

    // --- State, for the window and the tests ---
    int stepCode() const { return m_stepCode; }
    bool continueFlag() const { return m_continue; }
    bool retryFlag() const { return m_retry; }
    bool restartFlag() const { return m_restart; }
    int listingMode() const { return m_listingMode; }
    int updateVerIndex() const { return m_updateVerIndex; }
    int lastSessionResult() const { return m_lastSessionResult; }
    int tickCounter() const { return m_tickCounter; }
    bool closedCleanly() const { return m_closedCleanly; }
    bool buttonEnabled(UpdateButton button) const { return m_buttons[int(button)]; }
    bool menuChecked(OptionsItem item) const { return m_menuChecked[int(item)]; }
    bool menuEnabled(OptionsItem item) const { return m_menuEnabled[int(item)]; }
    const std::vector<RemoteListItem>& remoteFiles() const { return m_list; }
    const std::vector<ftpclient::RemoteEntry>& remoteTable() const { return m_table; }
    int progressValue() const { return m_progressValue; }
    int progressMaximum() const { return m_progressMaximum; }
    int timerInterval() const { return m_timerInterval; }
    bool timerRunning() const { return m_timerRunning; }
    // CurrentPackageFile / CurrentPackageName of the package being processed.
    const std::string& CurrentPackageFile() const { return m_currentPackageFile; }
    const std::string& CurrentPackageName() const { return m_currentPackageName; }
    // The application's "UPDATE" folder (no trailing separator).
    std::string UpdateRootFolder() const;
    history::WindowLog& windowLog() { return m_log; }
    ftpclient::FtpClient& ftp() { return m_ftp; }

    // --- FTP notifications ---
    void onDisconnected() override;
    void onError(int errorCode, const std::string& description) override;
    void onCommandReply(int resultCode, const std::string& resultText) override;
    void onTransferProgress(const std::string& file, std::uint64_t totalSize,
                            std::uint64_t bytesDone, int percent) override;

  private:
    // Adds a line to the agent's operation log LOG.TXT.
    void operationLog(const std::string& message);
    // Steps (update_session.cpp).
    void stepConnect();
    void stepConnected();
    void stepCheckAgentFolders();
    void stepNothingNew();
    void stepDisconnect();
    void stepDisconnected();
    void stepShutDown();
    void updateButtons();
    // Discovery (update_discovery.cpp).
    bool checkAgentFolder(int folderCode, std::string_view message);
    bool readRemoteAgentLevel();
    bool downloadAgentFiles(bool folder2);
    void recordAgentDownload();
    int selectPackages();
    bool processPackage(int item);
    bool downloadPackage(int item);
    bool installPackage();
    bool downloadFailed();
    // Shared pieces.
    void write(std::string_view text,
               history::WindowLogTarget target = history::WindowLogTarget::Page, int page = 0);
    void clearPage(int page);
    void resetProgress();
    void clearRemoteList();
    void addRemoteItem(std::string name, int entryIndex);
    void selectRemoteItem(int index, bool selected);
    void setCurrentItem(int index);
    void setButton(UpdateButton button, bool enabled);
    void setMenu(OptionsItem item, bool checked, bool enabled);
    void setTimer(bool running, int interval);
    std::string finishTime() const;
    std::string panel(std::string_view key) const;
    void letEventsRun();

    SessionCollaborators m_with;
    UpdateWindowView* m_view = nullptr;
    StatusPanels* m_panels = nullptr;
    ConversionProgressView* m_pages = nullptr;
    PackageInstallation* m_installation = nullptr;
    history::WindowLog m_log;
    ftpclient::FtpClient m_ftp;

    int m_stepCode = int(FtpStep::kDisconnected);
    bool m_continue = false;
    bool m_retry = false;
    bool m_restart = false;
    int m_listingMode = 0;
    int m_updateVerIndex = -1;
    int m_lastSessionResult = int(SessionResult::kLoaded);
    int m_tickCounter = 0;
    bool m_closedCleanly = false;
    bool m_shutDownRan = false;
    bool m_newAgentVersion = false;
    std::string m_currentPackageFile;
    // The last error the FTP component reported in this attempt, for LOG.TXT.
    std::string m_lastFtpError;
    std::string m_currentPackageName;
    // Inside our own disconnect call: its notification is not a lost connection.
    bool m_disconnecting = false;
    int m_stepDepth = 0;
    bool m_buttons[3] = {true, true, true};
    bool m_menuChecked[3] = {false, false, false};
    bool m_menuEnabled[3] = {true, true, true};
    std::vector<RemoteListItem> m_list;
    int m_currentItem = -1;
    std::vector<ftpclient::RemoteEntry> m_table;
    int m_progressValue = 0;
    int m_progressMaximum = 1;
    char m_progressMark = '0';
    int m_timerInterval = kFirstTickMilliseconds;
    bool m_timerRunning = false;
};

}  // namespace tavrel::session
