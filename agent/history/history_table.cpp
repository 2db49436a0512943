#include "agent/history/history_table.h"

#include <vector>

#include "agent/tables/engine_fields.h"
#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::history {

using tables::Kes04Library;

HistoryTable::HistoryTable(tables::DatabaseEngine& engine, const platform::Clock& clock,
                           std::string applicationFolder)
    : m_engine(engine), m_clock(clock), m_applicationFolder(std::move(applicationFolder)) {}

std::string HistoryTable::tablePath() const {
    return platform::joinPath(m_applicationFolder, "TABLEUPL.DBF");
}

DATA4* HistoryTable::OpenHistoryTable() {
    CloseHistoryTable();
    if (!m_engine.started()) return nullptr;
    m_data = m_engine.open(tablePath());
    return m_data;
}

void HistoryTable::CloseHistoryTable() {
    if (m_data == nullptr) return;
    if (K4(m_engine.library(), d4close, m_data) != 0) m_engine.checkError("d4close TABLEUPL");
    m_data = nullptr;
}

std::string HistoryTable::read(const char* field) {
    return tables::readField(m_engine, m_data, field);
}

void HistoryTable::write(const char* field, std::string_view text) {
    tables::writeField(m_engine, m_data, field, text);
}

bool HistoryTable::selectTag(const char* name) {
    TAG4* tag = K4(m_engine.library(), d4tag, m_data, name);
    if (tag == nullptr) {
        m_engine.checkError(std::string("d4tag ") + name);
        return false;
    }
    K4(m_engine.library(), d4tagSelect, m_data, tag);
    return true;
}

void HistoryTable::finishWrite() {
    tables::flushTable(m_engine, m_data);
    tables::unlockTable(m_engine, m_data);
}

bool HistoryTable::seekUpdate(std::string_view level, std::string_view archive) {
    if (m_data == nullptr || !selectTag("UPDATE")) return false;
    const std::string key = std::string(level) + std::string(archive);
    const int result = K4(m_engine.library(), d4seek, m_data, key.c_str());
    if (result < 0) m_engine.checkError("d4seek UPDATE");
    if (result != 0) return false;
    // A seek matches a key prefix: another update's record whose key merely
    // starts with the one asked for is not this update's.
    return platform::trimText(read("UPDATE_KEY")) == platform::trimText(level) &&
           platform::trimText(read("UPDATE_ZIP")) == platform::trimText(archive);
}

bool HistoryTable::RegisterUpdateRecord(std::string_view level, std::string_view archive,
                                        std::string_view type) {
    if (m_data == nullptr) return false;
    const bool found = seekUpdate(level, archive);
    if (found && type != "U") return true;
    if (!found && K4(m_engine.library(), d4appendBlank, m_data) != 0) {
        m_engine.checkError("d4appendBlank TABLEUPL");
        return false;
    }
    write("ACT_FLAG", "T");
    write("UPDATE_KEY", level);
    write("UPDATE_ZIP", archive);
    write("TYPE", type);
    write("CREATE_BY", platform::formatDateTime(m_clock.now(), platform::kDisplayPattern));
    finishWrite();
    return true;
}

bool HistoryTable::CompleteUpdateRecord(std::string_view level, std::string_view archive,
                                        std::string_view result, std::string_view outcome,
                                        std::string_view report) {
    if (!seekUpdate(level, archive)) return false;
    const platform::DateTime now = m_clock.now();
    write("UPDATE_ON", platform::formatDateTime(now, platform::kCompactPattern));
    write("UPDATE_BY", platform::formatDateTime(now, platform::kDisplayPattern));
    write("RESULT", result);
    write("DESC_TEXT", outcome);
    write("DESC_MEMO", report);
    finishWrite();
    return true;
}

bool HistoryTable::ImportInstallerResult(const std::string& agentFolder,
                                         const std::function<std::string()>& installedAgentLevel) {
    const std::string resFile = platform::joinPath(agentFolder, "UPDATELOG.RES");
    const std::string txtFile = platform::joinPath(agentFolder, "UPDATELOG.TXT");
    if (!platform::fileExists(resFile)) return false;
    const std::string res = platform::readFile(resFile).value_or("");
    const std::string letter = res.empty() ? "F" : res.substr(0, 1);
    const std::string report = platform::readFile(txtFile).value_or("");
    const std::string level(platform::trimText(
        platform::readFile(platform::joinPath(agentFolder, "UPDATE.VER")).value_or("")));
    // Without a level the seek would take the first record of any update.
    if (level.empty()) return false;
    std::string outcome;
    if (letter == "S") outcome = "INSTALL OF UPDATE COMPLETED WITHOUT ANY ERRORS";
    if (letter == "F") outcome = "INSTALL OF UPDATE FAILED DUE TO AN ERROR";
    if (OpenHistoryTable() == nullptr) return false;
    const bool completed = CompleteUpdateRecord(level, "", letter, outcome, report);
    CloseHistoryTable();
    if (completed && installedAgentLevel && installedAgentLevel() == level) {
        platform::deleteFile(resFile);
        platform::deleteFile(txtFile);
    }
    return completed;
}

std::optional<std::string> HistoryTable::ReadUpdateReport(std::string_view itemKey) {
    if (OpenHistoryTable() == nullptr) return std::nullopt;
    std::optional<std::string> report;
    if (selectTag("UPDATE")) {
        const std::string key(itemKey);
        if (K4(m_engine.library(), d4seek, m_data, key.c_str()) == 0 &&
            platform::trimRightText(read("UPDATE_KEY") + read("UPDATE_ZIP")) ==
                platform::trimRightText(itemKey)) {
            report = read("DESC_MEMO");
        }
    }
    CloseHistoryTable();
    return report;
}

std::string historyTypeText(std::string_view type) {
    if (type == "G") return "Tavrel App.";
    if (type == "T") return "TableUpdate";
    if (type == "U") return "Update App.";
    return std::string(type);
}

std::string historyResultText(std::string_view result) {
    if (result == "S") return "Completed";
    if (result == "F") return "Failed";
    return std::string(result);
}

}  // namespace tavrel::history
