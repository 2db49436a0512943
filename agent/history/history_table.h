// The update history table TABLEUPL.DBF in the application folder.
//
// Every update the agent handles leaves one record: registered when the
// update starts (RegisterUpdateRecord), completed with its result and report
// when it ends (CompleteUpdateRecord). The agent never creates the table; when
// it is missing or cannot be opened every operation does nothing. Every write
// ends with a flush and an unlock, because the business application may have
// the table open too; the table is never kept open between operations.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "agent/history/update_list_model.h"
#include "agent/tables/database_engine.h"
#include "platform/clock.h"

namespace tavrel::history {

class HistoryTable {
  public:
    // `engine` and `clock` are borrowed and must outlive this object.
    HistoryTable(tables::DatabaseEngine& engine, const platform::Clock& clock,
                 std::string applicationFolder);
    ~HistoryTable() { CloseHistoryTable(); }
    HistoryTable(const HistoryTable&) = delete;
    HistoryTable& operator=(const HistoryTable&) = delete;

    // Opens TABLEUPL.DBF, closing a handle still open first. The handle, or
    // null when the engine is not started or the table cannot be opened.
    DATA4* OpenHistoryTable();
    void CloseHistoryTable();

    // On the open table: adds the record of (level, archive) when there is
    // none; an agent update ("U") found again is registered anew. False when
    // no table is open or the record could not be written.
    bool RegisterUpdateRecord(std::string_view level, std::string_view archive,
                              std::string_view type);
    // On the open table: completes the record of (level, archive) with the
    // result letter, outcome line and report. False when there is no such record.
    bool CompleteUpdateRecord(std::string_view level, std::string_view archive,
                              std::string_view result, std::string_view outcome,
                              std::string_view report);

    // Completes the agent update's record from the installer's result files
    // in `agentFolder`; deletes them when the installed agent level
    // (`installedAgentLevel`) equals the level in UPDATE.VER. True when a
    // record was completed.
    bool ImportInstallerResult(const std::string& agentFolder,
                               const std::function<std::string()>& installedAgentLevel);

    // The DESC_MEMO text of the record whose UPDATE key is `itemKey`, or nullopt.
    std::optional<std::string> ReadUpdateReport(std::string_view itemKey);

    // Fills `list` from the records not marked deleted, in DATE_BACK order,
    // refreshing items already listed in place. Does nothing unless the
    // engine runs, `configured` holds and the table opens. When the list then
    // holds more than `keepLastRecords` items, calls `trim` (may be empty).
    void LoadUpdateList(UpdateListModel& list, bool configured, int keepLastRecords,
                        const std::function<void()>& trim);

    // "Trim Update Log Table": marks deleted every completed record after the
    // newest `keepLastRecords` completed ones in DATE_BACK order. Records not
    // completed yet are kept; nothing is packed. The number of records marked,
    // or -1 when the table cannot be opened.
    int TrimUpdateLogTable(int keepLastRecords);

    std::string tablePath() const;

  private:
    // Seeks (level + archive) on tag UPDATE and accepts only the record whose
    // trimmed UPDATE_KEY and UPDATE_ZIP are those asked for.
    bool seekUpdate(std::string_view level, std::string_view archive);
    std::string read(const char* field);
    void write(const char* field, std::string_view text);
    bool selectTag(const char* name);
    void finishWrite();

    tables::DatabaseEngine& m_engine;
    const platform::Clock& m_clock;
    std::string m_applicationFolder;
    DATA4* m_data = nullptr;
};

// The display text of a TYPE / RESULT letter; other letters as stored.
std::string historyTypeText(std::string_view type);
std::string historyResultText(std::string_view result);

}  // namespace tavrel::history
