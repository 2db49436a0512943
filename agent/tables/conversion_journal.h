// The conversion's own journal: what a running table conversion has done to
// the application folder, so that a run that was cut short (the process
// killed, the power gone) can be undone from it at the next start.
//
// The journal is a small text file in the package's backup folder, replaced
// as a whole at every change (new file, then rename), so it is always either
// the old or the new state, never half of one. Paths in it are relative to
// the application folder and use "/" between folders.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrel::tables {

// Where a conversion stands. The journal is read by a later process, so the
// words on disk stay as they are.
enum class JournalState : int {
    kConverting = 1,  // "CONVERTING": a run began and has not ended
    kDone = 2,        // "DONE": the run ended with converted tables (or none to convert)
    kRolledBack = 3,  // "ROLLEDBACK": the run's changes were undone
};

struct ConversionJournal {
    JournalState state = JournalState::kConverting;
    // Folders and descriptor files that did not exist when the run began.
    std::vector<std::string> absentFolders;
    std::vector<std::string> absentFiles;
    // Descriptor tables ("TABLEDES", "TABLEDET") whose safety copies are whole.
    std::vector<std::string> savedDescriptors;
    // Tables (folder/name, no extension) the run may create in TABLENEW.
    std::vector<std::string> newTables;
    // Current tables whose move began: saved in the backup archive first.
    std::vector<std::string> movedTables;
    // Current tables the run put where none stood.
    std::vector<std::string> addedTables;

    std::string text() const;
    // The journal in `text`, or nullopt when it is not a journal (unknown
    // state, unknown line kind). At most kMaxLines lines are read.
    static std::optional<ConversionJournal> parse(std::string_view text);

    static constexpr size_t kMaxLines = 100000;
};

// The journal file of a package backup folder.
std::string conversionJournalFile(const std::string& packageBackupFolder);

// Replaces the journal file with `journal` (a crash point first). 0 or the
// error number.
int saveConversionJournal(const std::string& file, const ConversionJournal& journal);
// The journal in `file`; nullopt when there is none. `*damaged` (optional) is
// set when a file exists but is not a journal.
std::optional<ConversionJournal> loadConversionJournal(const std::string& file,
                                                       bool* damaged = nullptr);

}  // namespace tavrel::tables
