// Moving through a table: top, bottom, skip and go, in the selected tag's
// order when the index has one, else in the physical order.

#include "components/kes04/table.h"

namespace tavrel::kes04 {

int Table::top() { return goToEnd(true); }

int Table::bottom() { return goToEnd(false); }

int Table::goToEnd(bool first) {
    int rc = writeChanges();
    if (rc != 0) return rc;
    releaseRecordLocks();
    RecordOrder* order = m_index ? m_index->selectedOrder() : nullptr;
    if (order) {
        if (shared()) m_index->fileMayHaveChanged();
        uint32_t recno = 0;
        rc = first ? order->top(&recno) : order->bottom(&recno);
        if (rc == code(EngineCode::kEof) || rc == code(EngineCode::kBof)) {
            recordCount();
            setEof();
            return code(EngineCode::kEof);
        }
        return rc != 0 ? rc : loadRecord(recno);
    }
    const uint32_t count = recordCount();
    if (count == 0) {
        setEof();
        return code(EngineCode::kEof);
    }
    return loadRecord(first ? 1 : count);
}

int Table::skip(int64_t count) {
    int rc = writeChanges();
    if (rc != 0) return rc;
    releaseRecordLocks();
    if (m_appending) m_appending = false;
    if (m_eof) {
        if (count >= 0) return code(EngineCode::kEof);
        rc = bottom();
        if (rc != 0) return rc == code(EngineCode::kEof) ? code(EngineCode::kBof) : rc;
        count += 1;
        if (count == 0) return 0;
    }
    if (m_recno == 0) {  // No record yet (just opened): start before the first.
        if (count <= 0) return top() == 0 ? code(EngineCode::kBof) : code(EngineCode::kEof);
        rc = top();
        if (rc != 0) return rc;
        count -= 1;
        if (count == 0) return 0;
    }
    RecordOrder* order = m_index ? m_index->selectedOrder() : nullptr;
    if (order) {
        if (shared()) m_index->fileMayHaveChanged();
        uint32_t recno = 0;
        rc = order->skip(m_recno, m_record, count, &recno);
        if (rc == code(EngineCode::kEof)) {
            recordCount();
            setEof();
            return rc;
        }
        if (rc == code(EngineCode::kBof)) {
            int load = loadRecord(recno);
            m_bof = true;
            return load != 0 ? load : rc;
        }
        return rc != 0 ? rc : loadRecord(recno);
    }
    const int64_t target = int64_t(m_recno) + count;
    if (target < 1) {
        if (recordCount() == 0) {
            setEof();
            m_bof = true;
            return code(EngineCode::kBof);
        }
        rc = loadRecord(1);
        m_bof = true;
        return rc != 0 ? rc : code(EngineCode::kBof);
    }
    if (target > int64_t(m_count) && target > int64_t(recordCount())) {
        setEof();
        return code(EngineCode::kEof);
    }
    return loadRecord(uint32_t(target));
}

int Table::go(uint32_t recno, bool forWrite) {
    int rc = writeChanges();
    if (rc != 0) return rc;
    releaseRecordLocks();
    m_appending = false;
    if (recno == 0 || (recno > m_count && recno > recordCount())) {
        setEof();
        return code(EngineCode::kEntry);
    }
    if (shared() && m_index) m_index->fileMayHaveChanged();
    if (forWrite) {
        rc = lockRecord(recno);
        if (rc != 0) return rc;
    }
    return loadRecord(recno);
}

}  // namespace tavrel::kes04
