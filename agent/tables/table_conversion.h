// The table conversion: the application's data tables rebuilt to the
// structures that a table-update package describes, with a backup archive,
// a rollback, and a recovery for a run that was cut short.
//
// A conversion unpacks the new TABLEDES from the table-update zip in the
// package folder, compares it with TABLEDET, and for every changed or new
// table of every data folder creates the new table, copies the data across,
// saves the current table into the backup archive (TBLFILES<id>.ZIP in the
// package folder), moves the new table over it and records the structure in
// TABLEDET. Any failure rolls all of it back, so that every table, TABLEDES
// and TABLEDET are as they were.
//
// What the run has changed is also kept in a small journal in the package's
// backup folder; recoverInterruptedConversion undoes a run from it when the
// process ended in the middle (a kill, a power cut).
//
// One conversion at a time, on the caller's thread. The engine settings are
// those of a conversion from the start of UpdTableConvert to its end and are
// restored afterwards.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "agent/history/window_log.h"
#include "agent/session/package_interfaces.h"
#include "agent/tables/database_engine.h"
#include "agent/tables/kes01_library.h"
#include "platform/clock.h"

namespace tavrel::tables {

// Result codes of the conversion and its steps. The numbers are the system's;
// never renumber.
enum class ConversionCode : int32_t {
    kContinue = 1000,                // go on with the next step (internal)
    kConverted = 8100,               // all steps done
    kNothingToDo = 8200,             // no table needed converting
    kRunBefore = 8300,               // this conversion was run before
    kAborted = 9000,                 // the lowest failure code
    kUnpackFailed = 9210,            // unpacking TABLEDES failed
    kTabledesOpenFailed = 9220,      // opening TABLEDES failed
    kTabledetOpenFailed = 9320,      // opening TABLEDET failed
    kTabledetChecksumFailed = 9330,  // TABLEDET failed its record-checksum test
    kCurrentOpenFailed = 9410,       // opening a current table failed
    kNewOpenFailed = 9450,           // opening a new table failed
    kNewCreateFailed = 9510,         // creating a new table failed, or its files are incomplete
    kCopyNotOpen = 9610,             // a table to copy was not open
    kBackupSaveFailed = 9710,        // saving a current table into the backup archive failed
    kInstallFailed = 9720,  // moving a new table over the current one failed or was partial
};

// Results of recoverInterruptedConversion and returnConvertedTables.
enum class RecoveryResult : int {
    kDone = 0,               // nothing to undo, or all put back
    kEngineFailed = 1,       // the engine could not be started
    kJournalDamaged = 2,     // the journal exists but cannot be read
    kArchiveFailed = 3,      // a table could not be put back from the backup archive
    kDescriptorsFailed = 4,  // TABLEDES or TABLEDET could not be put back
    kJournalNotWritten = 5,  // all put back, but the journal could not say so
};

// The collaborators of a conversion; all borrowed, and they must outlive it.
struct ConversionTools {
    DatabaseEngine& engine;
    Kes01Library& kes01;
    // Page 1 gets the installation's lines, page 2 the stage texts and the
    // conversion log; status labels 1 and 2 the conversion's state.
    history::WindowLog& windowLog;
    session::ConversionProgressView& progress;
    const platform::Clock& clock;
    // Lets pending window messages run after each work item; may be empty.
    std::function<void()> yieldToWindow;
};

class TableConversion final : public session::TableConversionStage {
  public:
    explicit TableConversion(ConversionTools tools);
    ~TableConversion() override;
    TableConversion(const TableConversion&) = delete;
    TableConversion& operator=(const TableConversion&) = delete;

    // Converts the tables for the package `names` (its table-update zip in
    // names.packageFolder, when there is one). True for 8100 and 8200; false
    // when aborted (everything put back). The conversion log goes to
    // UPDATE/<tableUpdateName>.TXT in the application folder.
    bool UpdTableConvert(const session::PackageNames& names) override;

    // Undoes a conversion of this package that did not end (its journal in
    // names.packageBackupFolder says it was converting), or one that ended
    // with converted tables when the installation failed later: every table
    // whose move had begun comes back from the backup archive, tables added
    // where none stood and new tables in TABLENEW go, TABLEDES and TABLEDET
    // come back from their safety copies, folders the run made go when empty.
    // A RecoveryResult as int; 0 also when there is nothing to undo. Can be
    // repeated after a failure or another interruption.
    int recoverInterruptedConversion(const session::PackageNames& names) override;

    // recoverInterruptedConversion for a conversion that ended well before
    // the installation failed; on success the summary text becomes "Table
    // Conversion - Current Tables have been Returned".
    int returnConvertedTables(const session::PackageNames& names);

    // The result code of the last UpdTableProcess (0 before the first).
    int32_t lastResult() const { return m_lastResult; }
    // The summary for the history record's DESC_TEXT ("Table Conversion -
    // Tables have been Converted", ...); empty before the first conversion.
    const std::string& summaryText() const { return m_summary; }

  private:
    ConversionTools m_tools;
    int32_t m_lastResult = 0;
    std::string m_summary;
};

}  // namespace tavrel::tables
