#include "installer/installer.h"

#include <algorithm>

#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::installer {
namespace {

constexpr std::size_t kVersionLength = 10;
constexpr const char* kLineBreak = "\r\n";
constexpr const char* kBackupFolderName = "OldVersion";
constexpr const char* kNewFilesFolderName = "NewVersion";

// The edit boxes of the window show everything in upper case, and the log
// file is written from the log box, so the logic keeps its texts that way.
std::string upperCase(std::string_view text) { return platform::upperText(text); }

std::string skipLeadingBlanks(const std::string& text) {
    return std::string(platform::trimCharsLeftText(text, " "));
}

std::string failureBanner() {
    const std::string rule(64, '=');
    return rule + kLineBreak + "Could Not Update the 'Kestmoor Tavrel Update Application'" +
           kLineBreak + "Please Contact the Kestmoor Tavrel HelpDesk for Assistance" + kLineBreak +
           rule;
}

}  // namespace

std::string errorNumberText(int error) {
    std::string text = error >= 0 ? std::string(1, ' ') : std::string();
    return text += std::to_string(error);
}

Installer::Installer(const std::filesystem::path& workingFolder, const std::string& commandLineText,
                     FileOperations& files, ProgramStarter& starter)
    : m_files(files), m_starter(starter) {
    m_currentFolderText = workingFolder.string();
    m_agentFolder = platform::withTrailingSeparator(m_currentFolderText);
    m_commandLineText = skipLeadingBlanks(commandLineText);
}

bool Installer::startUp() {
    readVersionFiles();
    if (newVersionIsGreater()) return true;
    startAgent();
    return false;
}

void Installer::onCreate(InstallerView& view, EventQueue& queue) {
    m_view = &view;
    m_queue = &queue;
    m_busy = true;
    m_timerStage = 0;
    m_view->showFolder(upperCase(m_currentFolderText));
    readVersionFiles();
    showVersions();
    repaint();
    post(Message::UM_READY, 0);
    m_view->startTickTimer(kTimerPeriodMs);
}

void Installer::onTimer() {
    if (m_closed || m_busy) return;
    m_busy = true;
    repaint();
    if (m_timerStage == 0) {
        m_timerStage = 1;
        if (newVersionIsGreater()) {
            post(Message::UM_CHECK_SETUP, 1);
        } else {
            startAgent();
            closeWindow();
        }
    } else if (m_timerStage == 1) {
        m_timerStage = 2;
        // Still older: the installation failed and the user decides.
        if (newVersionIsGreater()) {
            if (m_view) m_view->setExitEnabled(true);
        } else {
            startAgent();
            closeWindow();
        }
    }
}

void Installer::onRunSetup() {
    if (m_closed) return;
    if (!m_setupProgram.empty()) {
        m_starter.start(commandLineFor(m_setupProgram, std::string()), m_agentFolder);
    }
    closeWindow();
}

void Installer::onExit() { closeWindow(); }

void Installer::onClosed() {
    if (m_closed) return;
    if (m_logUnsaved) saveLog();
    m_closed = true;
}

void Installer::post(Message message, int lParam) {
    if (!m_queue) return;
    m_queue->post([this, message, lParam] { handleMessage(message, lParam); });
}

void Installer::send(Message message, int lParam) { handleMessage(message, lParam); }

void Installer::handleMessage(Message message, int lParam) {
    // Messages still queued for a closed window are dropped with it.
    if (m_closed) return;
    switch (message) {
        case Message::UM_READY:
            m_busy = false;
            break;
        case Message::UM_CHECK_SETUP:
            checkSetup();
            break;
        case Message::UM_INSTALL:
            install();
            break;
        case Message::UM_CLEAR_BACKUP:
            clearBackup();
            break;
        case Message::UM_LOG:
            appendPendingLog();
            break;
        case Message::UM_SAVE_LOG:
            saveLog();
            break;
        case Message::UM_SAVE_RESULT:
            saveResult(lParam);
            break;
    }
}

std::string Installer::readVersionFile(const char* name) {
    const auto content = m_files.readOrCreate(m_agentFolder + name);
    if (!content || content->size() < kVersionLength) return kDefaultVersion;
    return content->substr(0, kVersionLength);
}

void Installer::readVersionFiles() {
    m_installedVersion = readVersionFile(kInstalledVersionFile);
    m_newVersion = readVersionFile(kNewVersionFile);
    m_newVersionNumber = m_newVersion.substr(6, 4);
}

bool Installer::newVersionIsGreater() const {
    // char_traits<char> compares bytes as unsigned values.
    return m_newVersion.compare(m_installedVersion) > 0;
}

void Installer::startAgent() {
    m_starter.start(commandLineFor(kAgentProgram, m_commandLineText), m_agentFolder);
}

void Installer::closeWindow() {
    if (m_closed) return;
    if (m_logUnsaved) saveLog();
    m_closed = true;
    if (m_view) m_view->closeWindow();
}

void Installer::log(std::string line) {
    m_pendingLogLine = std::move(line);
    send(Message::UM_LOG, 0);
}

void Installer::showVersions() {
    if (m_view) m_view->showVersions(upperCase(m_installedVersion), upperCase(m_newVersion));
}

void Installer::repaint() {
    if (m_view) m_view->repaintNow();
}

void Installer::checkSetup() {
    const std::string name = "TAVREL_UPDATE" + m_newVersionNumber + ".EXE";
    m_setupProgram = m_files.findFile(m_agentFolder, name).value_or(std::string());
    if (m_setupProgram.empty()) {
        post(Message::UM_INSTALL, 1);
        return;
    }
    m_files.makeWritable(m_agentFolder + m_setupProgram);
    m_files.makeRunnable(m_agentFolder + m_setupProgram);
    log(std::string("New Kestmoor Tavrel Update Setup Application to be Installed on this PC.") +
        kLineBreak);
    log(std::string("Click on Run Setup to Complete") + kLineBreak);
    log("After Setup is Completed Restart the Kestmoor Tavrel Update");
    if (m_view) {
        m_view->setRunSetupEnabled(true);
        m_view->setExitEnabled(true);
    }
    // The busy flag stays set: the user chooses, and the timer waits.
}

void Installer::install() {
    repaint();
    m_backupFolder = m_agentFolder + kBackupFolderName + platform::kPathSeparator;
    m_newFilesFolder = m_agentFolder + kNewFilesFolderName + platform::kPathSeparator;
    m_outcome = Outcome::Installing;
    m_taken.clear();
    m_backedUp.clear();
    log("Updating Current Version " + m_installedVersion + " to new Version " + m_newVersion);
    send(Message::UM_CLEAR_BACKUP, 0);

    while (m_outcome == Outcome::Installing) {
        // The folder is listed afresh after each file; a file whose delete
        // failed is still listed and must not be installed a second time.
        const auto names = m_files.listFiles(m_newFilesFolder);
        const auto next = std::find_if(names.begin(), names.end(), [this](const std::string& n) {
            return !m_taken.contains(n);
        });
        if (next == names.end()) break;
        m_taken.insert(*next);
        if (!installFile(*next)) m_outcome = Outcome::Failed;
    }

    // The new level is recorded before success is reported: with the old level
    // left in place the agent would hand over to the installer at every start.
    if (m_outcome == Outcome::Installing &&
        m_files.copyFile(m_agentFolder + kNewVersionFile, m_agentFolder + kInstalledVersionFile) !=
            0) {
        m_outcome = Outcome::Failed;
    }
    if (m_outcome == Outcome::Failed) {
        restoreBackup();
        log(failureBanner());
        send(Message::UM_SAVE_RESULT, -1);
    }
    if (m_outcome == Outcome::Installing) send(Message::UM_SAVE_RESULT, 1);
    readVersionFiles();
    showVersions();
    repaint();
    m_logUnsaved = true;
    post(Message::UM_SAVE_LOG, 0);
    post(Message::UM_READY, 0);
}

bool Installer::installFile(const std::string& name) {
    const std::string newFile = m_newFilesFolder + name;
    const std::string currentFile = m_agentFolder + name;
    log("Installing Updated File " + name);
    m_files.makeWritable(newFile);
    if (!m_files.isNormal(newFile)) return false;

    log("Copying Current File '" + name + "' to Backup Folder '" + m_backupFolder + "'");
    // A new file without a current one of that name fails the installation.
    if (!m_files.exists(currentFile)) return false;
    m_files.makeWritable(currentFile);
    if (!m_files.isNormal(currentFile)) return false;
    int error = m_files.copyFile(currentFile, m_backupFolder + name);
    log("Return Value '" + errorNumberText(error));
    if (error != 0) return false;
    m_backedUp.push_back(name);

    log("Copying Updated File '" + name + "' From New Folder '" + m_newFilesFolder + "'");
    error = m_files.replaceFile(newFile, currentFile);
    log("Return Value '" + errorNumberText(error));
    if (error != 0) return false;
    // A new file that cannot be deleted is installed all the same.
    error = m_files.deleteFile(newFile);
    log("Return Value '" + errorNumberText(error));
    return true;
}

void Installer::restoreBackup() {
    // Only what this installation backed up goes back: anything else in the
    // backup folder is left over from an earlier run, or a partial copy, and
    // would overwrite good files.
    // A file that cannot go back does not keep the others from going back.
    for (const std::string& name : m_backedUp) {
        const int error = m_files.copyFile(m_backupFolder + name, m_agentFolder + name);
        if (error != 0) {
            m_outcome = Outcome::RestoreFailed;
            log("Could not Restore File '" + name + "' From Backup Folder '" + m_backupFolder +
                "' Return Value '" + errorNumberText(error));
        }
    }
}

void Installer::clearBackup() {
    // The agent makes the folder when it downloads; make it here too, so a
    // missing one does not fail every backup copy.
    m_files.ensureFolder(m_backupFolder);
    for (;;) {
        const auto names = m_files.listFiles(m_backupFolder);
        if (names.empty()) break;
        const std::string& name = names.front();
        log("Deleting File '" + m_backupFolder + name);
        const int error = m_files.deleteFile(m_backupFolder + name);
        log("Return Value '" + errorNumberText(error));
        if (error != 0) {
            m_outcome = Outcome::Failed;
            break;
        }
    }
}

void Installer::appendPendingLog() {
    std::string text = m_logText;
    if (!text.empty()) text += kLineBreak;
    text += m_pendingLogLine;
    m_logText = upperCase(text);
    if (m_view) m_view->showLog(m_logText);
    repaint();
}

void Installer::saveLog() {
    m_logUnsaved = false;
    std::string text = m_logText;
    if (!text.empty()) text += kLineBreak;
    m_logWriteError = m_files.writeFile(m_agentFolder + kLogFile, text + kLineBreak);
    // Nobody else learns of it: the log box is the last place to say so.
    if (m_logWriteError != 0) {
        log(std::string("Could not Write Log File '") + m_agentFolder + kLogFile +
            "' Return Value '" + errorNumberText(m_logWriteError));
    }
}

void Installer::saveResult(int result) {
    std::string line;
    if (result == 1) line = std::string("S") + kLineBreak;
    if (result == -1) line = std::string("F") + kLineBreak;
    m_resultWriteError = m_files.writeFile(m_agentFolder + kResultFile, line);
    // The agent learns the outcome from this file alone; the log says it is missing.
    if (m_resultWriteError != 0) {
        log(std::string("Could not Write Result File '") + m_agentFolder + kResultFile +
            "' Return Value '" + errorNumberText(m_resultWriteError));
    }
}

}  // namespace tavrel::installer
