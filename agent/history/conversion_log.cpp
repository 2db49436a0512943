#include "agent/history/conversion_log.h"

#include <cerrno>
#include <utility>

#include "agent/history/log_file.h"
#include "agent/history/log_text.h"

namespace tavrel::history {
namespace {

constexpr std::size_t kSeparatorLength = 80;
constexpr std::string_view kEntryTimePattern = "ddd dd mmm yyyy Hh:Nn:Ss";

std::string concat(std::string_view head, std::string_view tail) {
    std::string out(head);
    out += tail;
    return out;
}

using Lines = std::array<std::string, 4>;

Lines makeLines(std::string l0, std::string l1, std::string l2 = {}, std::string l3 = {}) {
    return Lines{std::move(l0), std::move(l1), std::move(l2), std::move(l3)};
}

Lines separatorEntry(char mark, std::string_view text1) {
    return makeLines(separatorLine(mark, kSeparatorLength), std::string(text1));
}

Lines oneLine(std::string_view label, std::string_view text1) {
    return makeLines({}, concat(label, text1));
}

Lines twoLines(std::string_view label1, std::string_view text1, std::string_view label2,
               std::string_view text2) {
    return makeLines({}, concat(label1, text1), concat(label2, text2));
}

Lines endBlock(std::string_view message, std::string_view dateTime) {
    return makeLines(separatorLine('+', kSeparatorLength), std::string(message),
                     concat("Finished ", dateTime), separatorLine('*', kSeparatorLength));
}

Lines fixedLines(ConversionLogCode code, std::string_view t1, std::string_view t2,
                 std::string_view dateTime) {
    using C = ConversionLogCode;
    switch (code) {
        case C::ConversionStarted:
            return makeLines(separatorLine('*', kSeparatorLength), std::string(t1),
                             concat("Started ", dateTime));
        case C::ConversionFinished:
            return makeLines(separatorLine('+', kSeparatorLength), std::string(t1),
                             concat("Finished ", dateTime));
        case C::DashSeparator:
            return separatorEntry('-', t1);
        case C::TildeSeparator:
            return separatorEntry('~', t1);
        case C::CaretSeparator:
            return separatorEntry('^', t1);
        case C::TableCreated:
            return oneLine("Table Create  - TableName: ", t1);
        case C::TableCreateFailed:
            return twoLines("Table Create  - TableName: ", t1, "Error returned - ErrorCode: ", t2);
        case C::CopyingData:
            return twoLines("Copying Data  - Source Table: ", t1,
                            "Copying Data  - Target Table: ", t2);
        case C::RecordTotals:
            return twoLines("Total Records - Source Table: ", t1,
                            "Total Records - Target Table: ", t2);
        case C::FieldTotals:
            return twoLines("Total Fields  - Source Table: ", t1,
                            "Total Fields  - Target Table: ", t2);
        case C::TableMoved:
            return twoLines("Table Moved - Source Table: ", t1, "Table Moved - Target Table: ", t2);
        case C::TableRemoved:
            return oneLine("Table Removed -  TableName: ", t1);
        case C::TableMissingOnRemove:
            return oneLine("Table Missing -  TableName: ", t1);
        case C::TablePacked:
            return oneLine("Table Pack  - Source Table: ", t1);
        case C::TablesZipped:
            return oneLine("Tables Packed Into Zip File: ", t1);
        case C::EngineErrorCheck:
            return oneLine("Codebase Error Check Result: ", t1);
        case C::TableOpened:
            return oneLine("Table Opened  - TableName: ", t1);
        case C::TableMissing:
            return oneLine("Table Missing - TableName: ", t1);
        case C::TableOpenFailed:
            return twoLines("Table Opened  - TableName: ", t1, "Error Code Returned: ", t2);
        case C::UnzipSucceeded:
            return oneLine("Unzip Success -   ZipFile: ", t1);
        case C::UnzipFailed:
            return twoLines("Unzip Failed  -   ZipFile: ", t1, "Error Returned - ", t2);
        case C::FileChecksumFailed:
            return oneLine("CheckSum on File Failed - FileName: ", t1);
        case C::DescriptorUpdated:
            return oneLine("TABLEDES Update - TableName: ", t1);
        case C::DetailUpdated:
            return oneLine("TABLEDET Update - TableName: ", t1);
        case C::ProcessAborted:
            return oneLine("Process Opertion Aborted. Error Returned: ", t1);
        case C::MissingField:
            return oneLine("Missing Field: Field - Table: ", t1);
        case C::CompletedWithoutErrors:
            return endBlock("Process Completed Without any Errors", dateTime);
        case C::CompletedWithoutTables:
            return endBlock("Process Completed Without any TABLES being Updated", dateTime);
        case C::RunBefore:
            return endBlock("This Process Has Been run Before", dateTime);
        case C::UpdateAborted: {
            Lines lines = endBlock(
                concat("Update Aborted due to error reported - reported Error: ", t1), dateTime);
            lines[0] = separatorLine('*', kSeparatorLength);
            return lines;
        }
    }
    if (static_cast<int>(code) >= static_cast<int>(C::CompletedWithoutErrors)) {
        return endBlock({}, dateTime);
    }
    return {};
}

}  // namespace

std::array<std::string, 4> conversionLogLines(ConversionLogCode code, std::string_view text1,
                                              std::string_view text2, std::string_view dateTime) {
    Lines lines = fixedLines(code, text1, text2, dateTime);
    if (lines[1].empty()) lines[1] = text1;
    if (lines[2].empty()) lines[2] = text2;
    return lines;
}

ConversionLog::ConversionLog(TextSource updateRootFolder, TextSource tableUpdateName,
                             const platform::Clock& clock)
    : m_updateRootFolder(std::move(updateRootFolder)),
      m_tableUpdateName(std::move(tableUpdateName)),
      m_clock(clock) {}

int ConversionLog::WriteOperationLog(ConversionLogCode code, std::string_view text1,
                                     std::string_view text2) {
    const std::string dateTime = platform::formatDateTime(m_clock.now(), kEntryTimePattern);
    for (const std::string& line : conversionLogLines(code, text1, text2, dateTime)) {
        if (line.empty()) continue;
        if (!m_text.empty()) m_text += kLineBreak;
        m_text += line;
    }

    // The file of a conversion is fixed by its first entry; a later change of
    // the folder or the name does not move the log.
    std::optional<std::filesystem::path> file = m_file;
    if (!file) {
        const std::string name = m_tableUpdateName ? m_tableUpdateName() : std::string();
        if (name.empty()) return ENOENT;
        // The name comes from an update package: it must not lead out of the folder.
        if (name.find_first_of(std::string_view("/\\\0", 3)) != std::string::npos) return EINVAL;
        file =
            logFilePath(m_updateRootFolder ? m_updateRootFolder() : std::string(), name + ".TXT");
        if (!file) return ENOENT;
    }
    const int rc = replaceLogFile(*file, m_text);
    if (rc == 0) m_file = file;
    return rc;
}

void ConversionLog::CloseOperationLog() {
    m_file.reset();
    m_text.clear();
}

}  // namespace tavrel::history
