// The installation's journal: what a running package installation has done to
// the application folder, so that a failed run is rolled back exactly and a
// run that was cut short (the process killed, the power gone) is undone before
// the next installation starts.
//
// The journal is a small text file in the package's backup folder, replaced
// as a whole at every change (new file, flushed, then renamed over the old
// one), so it always holds either the old or the new state. Paths in it are
// relative to the application folder, "/" between folders.
//
//   TAVREL INSTALL JOURNAL 1
//   STATE INSTALLING           how far the run got (words below)
//   LEVEL TAVREL0100           the application level before the run
//   TABLES TBLUPD0101.ZIP      the table update the run converted (if any)
//   BACKEDUP DATA/FORM.DAT     a file copied into the backup folder
//   ADDED DATA/NEW.DAT         a file the run installs where none stood
//   FOLDER DATA/NEWFOLDER      a folder the run makes (removed when empty)
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::session {

// Where an installation stands. A later process reads the words on disk, so
// they stay as they are.
enum class InstallState : int {
    kConverting = 1,  // "CONVERTING": stage 1, the table conversion, is running
    kBackingUp = 2,   // "BACKINGUP": stage 2 copies the files being replaced
    kInstalling = 3,  // "INSTALLING": stage 3 extracts over the application
    kDone = 4,        // "DONE": installed and the level written
    kRolledBack = 5,  // "ROLLEDBACK": everything the run did was undone
};

// The journal's file name inside the package's backup folder. The leading "~"
// keeps it apart from the backed-up files, which mirror the application folder.
inline constexpr std::string_view kInstallJournalName = "~INSTALL.JNL";

struct InstallJournal {
    InstallState state = InstallState::kConverting;
    std::string levelBefore;
    std::string tableUpdateFile;
    std::vector<std::string> backedUp;
    std::vector<std::string> added;
    std::vector<std::string> folders;

    // True while the run had begun changing the application and had not ended.
    bool unfinished() const {
        return state != InstallState::kDone && state != InstallState::kRolledBack;
    }

    std::string text() const;
    // The journal in `text`, or nullopt when it is not one (no header, an
    // unknown state or line kind, a path that leaves the application folder).
    // At most kMaxLines lines are read.
    static std::optional<InstallJournal> parse(std::string_view text);

    static constexpr size_t kMaxLines = 200000;
};

// The word of a state ("INSTALLING").
std::string_view installStateWord(InstallState state);

// The journal file of a package backup folder.
std::string installJournalFile(std::string_view packageBackupFolder);

// Replaces the journal file with `journal` (a crash point first). 0 or the
// error number.
int saveInstallJournal(const std::string& file, const InstallJournal& journal);
// The journal in `file`; nullopt when there is none or it cannot be read.
// `*damaged` (optional) is set when a file exists but is not a journal.
std::optional<InstallJournal> loadInstallJournal(const std::string& file, bool* damaged = nullptr);

// True for a relative path that stays inside its base folder: not empty, not
// absolute, no drive, no "." or ".." part.
bool isContainedRelativePath(std::string_view path);

}  // namespace tavrel::session
