// Loading the history list and trimming the table: the walks in DATE_BACK order.
#include <algorithm>
#include <vector>

#include "agent/history/history_table.h"
#include "agent/tables/engine_fields.h"
#include "platform/text_rules.h"

namespace tavrel::history {

using tables::Kes04Library;

namespace {

struct HistoryRow {
    std::string key;
    std::string text;
    std::array<std::string, kUpdateListColumns.size()> fields;
};

// The display text of column `column` for a field's stored text.
std::string columnText(size_t column, const std::string& stored) {
    const std::string_view field = kUpdateListColumns[column].field;
    if (field == "TYPE") return historyTypeText(stored);
    if (field == "RESULT") return historyResultText(stored);
    if (field == "DESC_TEXT") return std::string(platform::trimText(stored));
    return stored;
}

void showRow(UpdateListModel& list, const HistoryRow& row) {
    UpdateListItem* item = list.find(row.key);
    if (item == nullptr) item = &list.add(row.key, row.text);
    item->failed = row.fields[4] == "F";
    for (size_t column = 1; column < kUpdateListColumns.size(); ++column) {
        item->subItems[column - 1] = columnText(column, row.fields[column]);
    }
    item->toolTip = std::string(platform::trimText(row.fields[5]));
}

}  // namespace

void HistoryTable::LoadUpdateList(UpdateListModel& list, bool configured, int keepLastRecords,
                                  const std::function<void()>& trim) {
    if (!m_engine.started() || !configured || OpenHistoryTable() == nullptr) return;
    Kes04Library& library = m_engine.library();
    std::vector<HistoryRow> rows;
    if (selectTag("DATE_BACK")) {
        // Bounded by the record count, whatever the index gives back.
        // Looked up once: a name lookup per field and record would cost more
        // than the walk itself. A field the table lacks reads as empty.
        std::array<FIELD4*, kUpdateListColumns.size()> fields{};
        for (size_t c = 0; c < fields.size(); ++c) {
            fields[c] = tables::findField(m_engine, m_data,
                                          std::string(kUpdateListColumns[c].field).c_str());
        }
        const long limit = K4(library, d4recCountDo, m_data);
        int step = K4(library, d4top, m_data);
        for (long n = 0; step == 0 && n < limit; ++n, step = K4(library, d4skip, m_data, 1L)) {
            if (K4(library, d4deleted, m_data) != 0) continue;
            HistoryRow row;
            for (size_t c = 0; c < fields.size(); ++c) {
                row.fields[c] = tables::memoFieldText(library, fields[c]);
            }
            row.key = row.fields[0] + row.fields[1];
            row.text = row.fields[0];
            rows.push_back(std::move(row));
        }
        if (step < 0) m_engine.checkError("d4skip TABLEUPL");
    }
    if (rows.size() < list.count()) list.clear();
    for (const HistoryRow& row : rows) showRow(list, row);
    list.setTrimEnabled(list.count() > 1);
    CloseHistoryTable();
    if (keepLastRecords >= 0 && list.count() > size_t(keepLastRecords) && trim) trim();
}

int HistoryTable::TrimUpdateLogTable(int keepLastRecords) {
    if (OpenHistoryTable() == nullptr) return -1;
    Kes04Library& library = m_engine.library();
    int marked = 0;
    if (selectTag("DATE_BACK")) {
        // Collect first: marking while walking the tag must not move the walk.
        std::vector<long> completed;
        const long limit = K4(library, d4recCountDo, m_data);
        int step = K4(library, d4top, m_data);
        for (long n = 0; step == 0 && n < limit; ++n, step = K4(library, d4skip, m_data, 1L)) {
            if (K4(library, d4deleted, m_data) != 0) continue;
            if (platform::trimText(read("UPDATE_ON")).empty()) continue;
            completed.push_back(K4(library, d4recNo, m_data));
        }
        for (size_t i = size_t(std::max(keepLastRecords, 0)); i < completed.size(); ++i) {
            if (K4(library, d4goLow, m_data, completed[i], short(1)) != 0) continue;
            if (K4(library, d4delete, m_data) == 0) ++marked;
        }
        finishWrite();
    }
    CloseHistoryTable();
    return marked;
}

}  // namespace tavrel::history
