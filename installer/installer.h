// The agent installer's logic: everything TAVRELUPDATE.EXE decides and does,
// apart from drawing its window.
//
// The installer replaces the agent's files with those of a new version that the
// agent left in "NewVersion", keeping a backup of each replaced file in
// "OldVersion" and restoring it when anything fails; it records the outcome in
// "UPDATELOG.RES" and "UPDATELOG.TXT" and starts the agent again.
//
// The steps are chained as messages to the installer's own window: a posted
// message goes through the `EventQueue` and runs after the events already
// waiting; a sent one runs at once, inside the step that sends it. A 5-second
// timer drives the stages; the busy flag keeps a tick from starting a stage
// while a step is running.
//
// Lifetime: the collaborators passed to the constructor and to `onCreate` must
// outlive the installer. One thread only.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "installer/installer_files.h"
#include "installer/installer_view.h"
#include "installer/program_starter.h"

namespace tavrel::installer {

// The messages the installer sends or posts to its own window (WM_USER + n).
enum class Message : int {
    UM_READY = 1024 + 1000,         // clears the busy flag
    UM_CHECK_SETUP = 1024 + 1001,   // looks for a setup program
    UM_INSTALL = 1024 + 1002,       // installs the new files
    UM_CLEAR_BACKUP = 1024 + 1006,  // empties the backup folder
    UM_LOG = 1024 + 1010,           // appends the pending log line
    UM_SAVE_LOG = 1024 + 1011,      // writes UPDATELOG.TXT
    UM_SAVE_RESULT = 1024 + 1012,   // writes UPDATELOG.RES (lParam 1 or -1)
};

// How the installation went.
enum class Outcome : int {
    Failed = -1,         // a file could not be installed; the backup was restored
    RestoreFailed = -2,  // the restore of the backup failed as well
    Installing = 1,      // installing normally (and, at the end, success)
};

inline constexpr int kTimerPeriodMs = 5000;
inline constexpr const char* kAgentProgram = "TavrelUpdate1.exe";
inline constexpr const char* kInstalledVersionFile = "TAVRELUPD.VER";
inline constexpr const char* kNewVersionFile = "UPDATE.VER";
inline constexpr const char* kDefaultVersion = "UPDATE0000";
inline constexpr const char* kLogFile = "UPDATELOG.TXT";
inline constexpr const char* kResultFile = "UPDATELOG.RES";

class Installer {
  public:
    // `workingFolder` is the agent folder; `commandLineText` is what followed
    // the installer's own name on its command line.
    Installer(const std::filesystem::path& workingFolder, const std::string& commandLineText,
              FileOperations& files, ProgramStarter& starter);

    // The decision before any window exists: reads the version files and, when
    // the new version is not greater than the installed one, starts the agent.
    // Returns true when the window must be created.
    bool startUp();

    // The window was created: shows the folder and the versions, posts
    // `UM_READY` and starts the timer.
    void onCreate(InstallerView& view, EventQueue& queue);
    void onTimer();
    // "Run Setup": starts the setup program and closes the window.
    void onRunSetup();
    // "Exit": closes the window.
    void onExit();
    // The window was closed some other way (its system menu); steps still
    // queued are dropped and the timer has no further effect.
    // A log that an installation left to a queued step is written first, so
    // the result file never stands beside an old log.
    void onClosed();

    const std::string& agentFolder() const { return m_agentFolder; }
    const std::string& currentFolderText() const { return m_currentFolderText; }
    const std::string& installedVersion() const { return m_installedVersion; }
    const std::string& newVersion() const { return m_newVersion; }
    const std::string& newVersionNumber() const { return m_newVersionNumber; }
    const std::string& setupProgram() const { return m_setupProgram; }
    const std::string& commandLineText() const { return m_commandLineText; }
    Outcome outcome() const { return m_outcome; }
    bool busy() const { return m_busy; }
    int timerStage() const { return m_timerStage; }
    // The text of the log box, as it shows it (upper case).
    const std::string& logText() const { return m_logText; }
    bool closed() const { return m_closed; }
    // The error number of the last failed write of UPDATELOG.TXT (UPDATELOG.RES),
    // 0 when it was written or not yet due.
    int logWriteError() const { return m_logWriteError; }
    int resultWriteError() const { return m_resultWriteError; }

  private:
    void post(Message message, int lParam);
    void send(Message message, int lParam);
    void handleMessage(Message message, int lParam);

    void readVersionFiles();
    std::string readVersionFile(const char* name);
    bool newVersionIsGreater() const;
    void startAgent();
    void closeWindow();
    void log(std::string line);
    void showVersions();
    void repaint();

    void checkSetup();
    void install();
    bool installFile(const std::string& name);
    void restoreBackup();
    void clearBackup();
    void appendPendingLog();
    void saveLog();
    void saveResult(int result);

    FileOperations& m_files;
    ProgramStarter& m_starter;
    InstallerView* m_view = nullptr;
    EventQueue* m_queue = nullptr;

    std::string m_agentFolder;
    std::string m_currentFolderText;
    std::string m_installedVersion = kDefaultVersion;
    std::string m_newVersion = kDefaultVersion;
    std::string m_newVersionNumber;
    std::string m_backupFolder;
    std::string m_newFilesFolder;
    std::string m_setupProgram;
    std::string m_commandLineText;
    Outcome m_outcome = Outcome::Installing;
    bool m_busy = false;
    int m_timerStage = 0;
    std::string m_pendingLogLine;
    std::string m_logText;
    bool m_closed = false;
    int m_logWriteError = 0;
    int m_resultWriteError = 0;
    // An installation's log waits for its queued UM_SAVE_LOG.
    bool m_logUnsaved = false;
    // Files of this installation: those taken from "NewVersion" and those
    // whose current version was backed up, in backup order.
    std::set<std::string> m_taken;
    std::vector<std::string> m_backedUp;
};

// The error number as the log writes it: decimal, with a leading blank when it
// is not negative.
std::string errorNumberText(int error);

}  // namespace tavrel::installer
