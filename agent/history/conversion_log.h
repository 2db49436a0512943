// The coded log of one table conversion: a text kept in memory and mirrored
// into the file UpdateRootFolder + TableUpdateName + ".TXT", which is rewritten
// with the whole text after every entry.
//
// An entry is up to four lines L0 to L3 chosen by its code (see
// conversionLogLines); the non-empty ones are added to the text in that order,
// each on a new line. The file is made at the first entry of a conversion, so a
// conversion that writes no entry leaves no file.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace tavrel::history {

// Entry codes of the conversion log. The numbers are the system's; never renumber.
enum class ConversionLogCode : int {
    ConversionStarted = 1100,       // "*" line, text 1, "Started " + time
    ConversionFinished = 1101,      // "+" line, text 1, "Finished " + time
    DashSeparator = 1102,           // "-" line, text 1
    TildeSeparator = 1103,          // "~" line, text 1
    CaretSeparator = 1104,          // "^" line, text 1
    TableCreated = 1202,            // table created: table
    TableCreateFailed = 1209,       // table not created: table, error code
    CopyingData = 1301,             // copying data: source table, target table
    RecordTotals = 1302,            // record counts: source, target
    FieldTotals = 1303,             // field counts: source, target
    TableMoved = 1401,              // table moved: source, target
    TableRemoved = 1402,            // table removed: table
    TableMissingOnRemove = 1403,    // table to remove is missing: table
    TablePacked = 1421,             // table packed: table
    TablesZipped = 1422,            // tables packed into a zip file: file
    EngineErrorCheck = 1601,        // result of the engine's error check
    TableOpened = 2101,             // table opened: table
    TableMissing = 2102,            // table missing: table
    TableOpenFailed = 2109,         // table not opened: table, error code
    UnzipSucceeded = 3103,          // archive unpacked: zip file
    UnzipFailed = 3109,             // archive not unpacked: zip file, error
    FileChecksumFailed = 3222,      // file checksum wrong: file
    DescriptorUpdated = 4101,       // TABLEDES row updated: table
    DetailUpdated = 4201,           // TABLEDET rows updated: table
    ProcessAborted = 5100,          // conversion aborted: error
    MissingField = 6100,            // field missing: field and table
    CompletedWithoutErrors = 8100,  // good end
    CompletedWithoutTables = 8200,  // good end, no table needed converting
    RunBefore = 8300,               // this conversion was run before
    UpdateAborted = 9000,           // aborted on an error: error
};

// The lines L0 to L3 of an entry, empty where the entry has none. `dateTime` is
// the text put after "Started " and "Finished ". Codes outside the table give
// no fixed lines, codes from 8100 up not in the table give an end block; then
// an empty L1 takes `text1` and an empty L2 takes `text2`.
std::array<std::string, 4> conversionLogLines(ConversionLogCode code, std::string_view text1,
                                              std::string_view text2, std::string_view dateTime);

class ConversionLog {
  public:
    using TextSource = std::function<std::string()>;

    // `updateRootFolder` yields the application's "UPDATE" folder and
    // `tableUpdateName` the name of the running table update; both are asked
    // when the file is made at the first entry of a conversion. `clock` is
    // borrowed and must outlive the log.
    ConversionLog(TextSource updateRootFolder, TextSource tableUpdateName,
                  const platform::Clock& clock);

    // Adds an entry to the text and writes the whole text to the file, making
    // the file at the first entry. Returns 0, or the error number when the file
    // could not be written (missing folder or unset folder or name ENOENT,
    // read-only file EACCES, a name holding a path separator EINVAL). The entry stays in the text
    // either way, so the next entry that can be written brings the file up to date; the previous
    // file content is never damaged by a failed write.
    int WriteOperationLog(ConversionLogCode code, std::string_view text1 = {},
                          std::string_view text2 = {});

    // Ends the conversion's log: forgets the file and empties the text. The
    // file stays on disk.
    void CloseOperationLog();

    // The text of the running conversion, lines separated by kLineBreak.
    const std::string& text() const { return m_text; }
    // The file of the running conversion; nullopt before its first entry has
    // been written and after CloseOperationLog.
    const std::optional<std::filesystem::path>& openFile() const { return m_file; }

  private:
    TextSource m_updateRootFolder;
    TextSource m_tableUpdateName;
    const platform::Clock& m_clock;
    std::string m_text;
    std::optional<std::filesystem::path> m_file;
};

}  // namespace tavrel::history
