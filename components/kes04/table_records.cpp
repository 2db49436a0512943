// Record I/O and the current record: record bytes read and written (in
// exclusive mode through a read cache that keeps changed records until its
// block is replaced or the table is flushed, and a buffer of appends not yet
// written), the record buffer with its memo slots, and the changes made
// through it: field assignments, deletion marks, appends.

#include <algorithm>
#include <cstring>

#include "components/kes04/field_value.h"
#include "components/kes04/table.h"

namespace tavrel::kes04 {

namespace {

constexpr size_t kPendingLimit = 1 << 20;
constexpr size_t kReadCacheBytes = 1 << 16;
constexpr size_t kRandomReadBytes = 4096;  // Exclusive mode: a jump to a far record.
constexpr uint64_t kWriteBackBytes = 4 << 20;

}  // namespace

// ---- record I/O ---------------------------------------------------------

int Table::flushPending() {
    int rc = writeBackCache();
    if (m_pending.empty()) return rc;
    const uint64_t dataEnd =
        m_header.headerLength + uint64_t(m_count) * m_header.layout.recordLength;
    const bool mark = m_eofMarkPending && m_pendingOffset + m_pending.size() == dataEnd;
    if (mark) m_pending.push_back(kEofMark);
    const int written = m_file->writeAt(m_pendingOffset, m_pending);
    m_unsynced = true;
    if (written == 0) startWriteBack(m_pendingOffset, m_pending.size());
    m_pending.clear();
    if (written != 0) return fail(code(EngineCode::kErrWrite), m_path.string() + ": write failed");
    return rc;
}

int Table::writeBackCache() {
    if (m_dirtyFirst == 0) return 0;
    if (int rc = writeMemosFirst(); rc != 0) return rc;
    const uint32_t length = m_header.layout.recordLength;
    const size_t from = size_t(m_dirtyFirst - m_cacheFirst) * length;
    const size_t bytes = size_t(m_dirtyEnd - m_dirtyFirst) * length;
    const uint64_t at = m_header.headerLength + uint64_t(m_dirtyFirst - 1) * length;
    const uint32_t first = m_dirtyFirst;
    m_dirtyFirst = m_dirtyEnd = 0;
    m_unsynced = true;
    if (m_file->writeAt(at, std::span(m_readCache.data() + from, bytes)) != 0) {
        // The file may hold some of the records: read them again from it.
        m_cacheFirst = 0;
        return fail(code(EngineCode::kErrWrite), m_path.string() + ": records from " +
                                                     std::to_string(first) + " cannot be written");
    }
    startWriteBack(at, bytes);
    return 0;
}

void Table::startWriteBack(uint64_t at, uint64_t bytes) {
    // A run over the table (a checksum stamped in every record, a copy that
    // appends them all) writes block after block. Every few megabytes the
    // disk is asked to take them while the run goes on, so that the sync of
    // the flush at its end has less to wait for.
    // Appends go on where the last write ended, or over its end-of-file mark.
    if (at < m_writeBackFrom || at > m_writeBackEnd) m_writeBackFrom = m_writeBackEnd = at;
    m_writeBackEnd = std::max(m_writeBackEnd, at + bytes);
    if (m_writeBackEnd - m_writeBackFrom >= kWriteBackBytes) {
        m_file->startWriteBack(m_writeBackFrom, m_writeBackEnd - m_writeBackFrom);
        m_writeBackFrom = m_writeBackEnd;
    }
}

int Table::readRecordBytes(uint32_t recno, uint8_t* out) {
    const uint32_t length = m_header.layout.recordLength;
    const uint64_t at = m_header.headerLength + uint64_t(recno - 1) * length;
    if (!m_pending.empty() && at + length > m_pendingOffset) {
        int rc = flushPending();
        if (rc != 0) return rc;
    }
    if (cached() && !m_options.readOnly) {
        if (m_cacheFirst == 0 || recno < m_cacheFirst || recno >= m_cacheFirst + m_cacheCount) {
            int rc = writeBackCache();
            if (rc != 0) return rc;
            // Reading on from the cached block (a scan) fetches a large block;
            // a jump elsewhere (a seek) only a few kilobytes around the record.
            const bool scanning =
                (m_cacheFirst != 0 && recno == m_cacheFirst + m_cacheCount) || recno == 1;
            const size_t block = scanning ? kReadCacheBytes : kRandomReadBytes;
            uint32_t wanted =
                std::min<uint32_t>(std::max<size_t>(1, block / length), m_count - recno + 1);
            // Appended records not yet written are not read from the file:
            // it may hold old bytes there (past the count a stopped program
            // left in the header).
            if (!m_pending.empty()) {
                const uint32_t firstPending =
                    uint32_t((m_pendingOffset - m_header.headerLength) / length + 1);
                if (recno < firstPending) wanted = std::min(wanted, firstPending - recno);
            }
            m_readCache.resize(size_t(wanted) * length);
            size_t got = 0;
            if (m_file->readAt(at, m_readCache, &got) != 0 || got < length) {
                m_cacheFirst = 0;
                return fail(
                    code(EngineCode::kErrRead),
                    m_path.string() + ": record " + std::to_string(recno) + " cannot be read");
            }
            m_cacheFirst = recno;
            m_cacheCount = uint32_t(got / length);
        }
        std::memcpy(out, m_readCache.data() + size_t(recno - m_cacheFirst) * length, length);
        return 0;
    }
    if (m_file->readExactAt(at, std::span(out, length)) != 0) {
        return fail(code(EngineCode::kErrRead),
                    m_path.string() + ": record " + std::to_string(recno) + " cannot be read");
    }
    return 0;
}

int Table::writeRecordBytes(uint32_t recno, const uint8_t* bytes) {
    const uint32_t length = m_header.layout.recordLength;
    const uint64_t at = m_header.headerLength + uint64_t(recno - 1) * length;
    if (!m_pending.empty() && at < m_pendingOffset + m_pending.size() &&
        at + length > m_pendingOffset) {
        // A record changed while its append still waits (a checksum stamped
        // right after the append) changes in the buffer and goes with it.
        if (at >= m_pendingOffset && at + length <= m_pendingOffset + m_pending.size()) {
            std::memcpy(m_pending.data() + (at - m_pendingOffset), bytes, length);
            m_unsynced = true;
            return 0;
        }
        int rc = flushPending();
        if (rc != 0) return rc;
    }
    m_unsynced = true;
    if (m_cacheFirst != 0 && recno >= m_cacheFirst && recno < m_cacheFirst + m_cacheCount) {
        std::memcpy(m_readCache.data() + size_t(recno - m_cacheFirst) * length, bytes, length);
        if (cached() && !m_options.readOnly) {
            // Kept in the block and written with it. The records between two
            // changed ones are as the file has them, so the range may span them.
            if (m_dirtyFirst == 0) {
                m_dirtyFirst = recno;
                m_dirtyEnd = recno + 1;
            } else {
                m_dirtyFirst = std::min(m_dirtyFirst, recno);
                m_dirtyEnd = std::max(m_dirtyEnd, recno + 1);
            }
            return 0;
        }
    }
    if (int rc = writeMemosFirst(); rc != 0) return rc;
    if (m_file->writeAt(at, std::span(bytes, length)) != 0) {
        return fail(code(EngineCode::kErrWrite),
                    m_path.string() + ": record " + std::to_string(recno) + " cannot be written");
    }
    return 0;
}

int Table::writeMemosFirst() {
    if (!m_memo || m_memo->writeGathered() == 0) return 0;
    return fail(code(EngineCode::kErrWrite), m_path.string() + ": the memo file cannot be written");
}

int Table::dataFileSize(uint64_t* size) {
    int rc = flushPending();
    if (rc != 0) return rc;
    return m_file->size(size) == 0 ? 0 : code(EngineCode::kErrRead);
}

int Table::readRecord(uint32_t recno, std::vector<uint8_t>& out) {
    if (recno == 0 || recno > recordCount()) return code(EngineCode::kErrEntry);
    out.resize(m_header.layout.recordLength);
    return readRecordBytes(recno, out.data());
}

// ---- current record ------------------------------------------------------

void Table::forgetMemos() {
    for (size_t i : m_memoFields) {
        m_memos[i].loaded = false;
        m_memos[i].changed = false;
    }
}

int Table::loadRecord(uint32_t recno) {
    const size_t length = m_header.layout.recordLength;
    // Sized on the first load; the checks spare a call every record.
    if (m_scratch.size() != length) m_scratch.resize(length);
    int rc = readRecordBytes(recno, m_scratch.data());
    if (rc != 0) return rc;
    // Read aside first: a failed read leaves the current record as it was.
    m_original.swap(m_scratch);
    if (m_record.size() != length) m_record.resize(length);
    std::memcpy(m_record.data(), m_original.data(), length);
    forgetMemos();
    m_recno = recno;
    m_eof = m_bof = false;
    m_changed = false;
    return 0;
}

void Table::setEof() {
    m_record = blankRecord(m_header.layout);
    m_original = m_record;
    forgetMemos();
    m_recno = m_count + 1;
    m_eof = true;
    m_bof = false;
    m_changed = false;
    m_appending = false;
}

int Table::writeMemos() {
    for (size_t i : m_memoFields) {
        MemoSlot& slot = m_memos[i];
        if (!slot.changed) continue;
        const FieldLayout& field = m_header.layout.fields[i];
        if (!m_memo) return fail(code(EngineCode::kErrFieldType), "the table has no memo file");
        uint32_t old = 0;
        if (!memoBlock(field, m_record.data(), &old)) old = 0;
        uint32_t block = 0;
        std::string detail;
        int rc = m_memo->write(old, slot.text, 1, &block, &detail);
        if (rc != 0) return fail(rc, m_path.string() + ": " + detail);
        storeMemoBlock(field, m_record.data(), block);
        slot.changed = false;
    }
    return 0;
}

int Table::writeRecord() { return writeChanges(); }

int Table::writeChanges() {
    if (!m_changed || m_appending) return 0;
    if (m_options.readOnly) return fail(code(EngineCode::kErrReadOnly), "the table is read-only");
    const bool wasLocked =
        std::find(m_lockedRecords.begin(), m_lockedRecords.end(), m_recno) != m_lockedRecords.end();
    int rc = lockRecord(m_recno);
    if (rc != 0) return rc;
    // A record locked before it was read is as the file has it; one locked
    // only now may have been changed by another program since.
    if (shared() && !wasLocked) rc = readRecordBytes(m_recno, m_original.data());
    // The index may refuse the change (a unique key), so it is asked before
    // a memo is written: a new memo that fits goes over the old one's blocks.
    // No key reads a memo field, so the memo pointers written after it are
    // nothing to the index.
    if (rc == 0 && m_index) rc = m_index->recordChanging(m_recno, m_original, m_record);
    if (rc == 0) {
        rc = writeMemos();
        // The record keeps its old bytes; so does the index.
        if (rc != 0 && m_index) m_index->recordChanging(m_recno, m_record, m_original);
    }
    if (rc != 0) {
        // Refused or failed: the file keeps its record, and so does the buffer.
        m_record = m_original;
        forgetMemos();
    } else {
        rc = writeRecordBytes(m_recno, m_record.data());
        if (rc == 0) {
            std::memcpy(m_original.data(), m_record.data(), m_record.size());
            m_headerDirty = true;
        }
    }
    m_changed = false;
    if (!wasLocked && shared()) {
        m_file->unlock(recordLockOffset(m_recno), 1);
        m_lockedRecords.erase(std::remove(m_lockedRecords.begin(), m_lockedRecords.end(), m_recno),
                              m_lockedRecords.end());
    }
    return rc;
}

// ---- changes ---------------------------------------------------------------

int Table::setDeleted(bool deleted) {
    if (m_eof && !m_appending) return fail(code(EngineCode::kErrEntry), "no current record");
    if (m_options.readOnly) return fail(code(EngineCode::kErrReadOnly), "the table is read-only");
    const uint8_t flag = deleted ? '*' : ' ';
    if (m_record[0] != flag) {
        m_record[0] = flag;
        m_changed = true;
    }
    return 0;
}

int Table::blank() {
    if (m_options.readOnly) return fail(code(EngineCode::kErrReadOnly), "the table is read-only");
    if (m_eof && !m_appending) return fail(code(EngineCode::kErrEntry), "no current record");
    // The whole record is blanked, its deletion flag included: a new record
    // must not inherit the mark of the record it was started from.
    m_record = blankRecord(m_header.layout);
    for (MemoSlot& slot : m_memos) slot = MemoSlot{true, false, std::string()};
    m_changed = true;
    return 0;
}

int Table::appendStart(bool useMemoEntries) {
    if (m_options.readOnly) return fail(code(EngineCode::kErrReadOnly), "the table is read-only");
    int rc = writeChanges();
    if (rc != 0) return rc;
    releaseRecordLocks();
    for (size_t i = 0; i < m_memos.size(); ++i) {
        const FieldLayout& field = m_header.layout.fields[i];
        if (!isMemoType(field.type)) continue;
        if (useMemoEntries && !m_eof) {
            const std::string* text = nullptr;
            rc = memoText(i, &text);
            if (rc != 0) return rc;
            m_memos[i].changed = !m_memos[i].text.empty();
        } else {
            m_memos[i] = MemoSlot{true, false, std::string()};
        }
        // The new record gets blocks of its own, never the old record's.
        storeMemoBlock(field, m_record.data(), 0);
    }
    m_appending = true;
    m_eof = m_bof = false;
    m_recno = 0;
    m_changed = true;
    return 0;
}

int Table::append() {
    if (!m_appending) return fail(code(EngineCode::kErrAppend), "append without d4appendStart");
    int rc = writeMemos();
    if (rc != 0) return rc;
    rc = lockHeader();
    if (rc != 0) return rc;
    if (shared()) rc = rereadCount(&m_count);
    const uint32_t length = m_header.layout.recordLength;
    const uint64_t at = m_header.headerLength + uint64_t(m_count) * length;
    if (rc == 0 && (m_count == 0xFFFFFFFFu || at + length > 0xFFFFFFFFull)) {
        rc = fail(code(EngineCode::kErrWrite), "the table has reached its largest size");
    }
    const uint32_t recno = m_count + 1;
    if (rc == 0 && m_index) rc = m_index->recordChanging(recno, {}, m_record);
    if (rc == 0) {
        if (cached()) {
            if (!m_pending.empty() && m_pendingOffset + m_pending.size() != at) rc = flushPending();
            if (m_pending.empty()) m_pendingOffset = at;
            m_pending.insert(m_pending.end(), m_record.begin(), m_record.end());
            m_count = recno;
            m_headerDirty = true;
            if (m_pending.size() >= kPendingLimit) rc = flushPending();
        } else {
            std::vector<uint8_t> bytes = m_record;
            if (m_eofMarkPending) bytes.push_back(kEofMark);
            m_unsynced = true;
            if (m_file->writeAt(at, bytes) != 0) {
                rc = fail(code(EngineCode::kErrWrite), m_path.string() + ": append failed");
            } else {
                m_count = recno;
                rc = writeHeaderCount(true);
            }
        }
    }
    unlockHeader();
    m_appending = false;
    if (rc != 0) {
        setEof();
        return rc;
    }
    m_recno = recno;
    m_original = m_record;
    m_changed = false;
    m_eof = m_bof = false;
    // The record is in the file whatever happens here; the caller must still
    // learn that it is not locked as promised.
    return lockRecord(recno);
}

int Table::appendBlank() {
    int rc = appendStart(false);
    if (rc == 0) rc = blank();
    if (rc == 0) rc = append();
    return rc;
}

int Table::assignText(size_t index, std::string_view text) {
    if (index >= m_header.layout.fields.size()) return code(EngineCode::kErrParameter);
    if (m_options.readOnly) return fail(code(EngineCode::kErrReadOnly), "the table is read-only");
    if (m_eof && !m_appending) return fail(code(EngineCode::kErrEntry), "no current record");
    const FieldLayout& field = m_header.layout.fields[index];
    if (isMemoType(field.type)) {
        if (!m_memo) return fail(code(EngineCode::kErrFieldType), "the table has no memo file");
        m_memos[index] = MemoSlot{true, true, std::string(text)};
        m_changed = true;
        return 0;
    }
    int rc = kes04::assignText(field, m_record.data(), text);
    if (rc != 0) {
        return fail(rc, "field " + field.name + " (" + std::string(1, field.type) +
                            ") cannot hold \"" + std::string(text.substr(0, 40)) + "\"");
    }
    m_memos[index].loaded = false;
    m_changed = true;
    return 0;
}

int Table::assignRaw(size_t index, std::string_view bytes) {
    if (index >= m_header.layout.fields.size()) return code(EngineCode::kErrParameter);
    if (m_options.readOnly) return fail(code(EngineCode::kErrReadOnly), "the table is read-only");
    if (m_eof && !m_appending) return fail(code(EngineCode::kErrEntry), "no current record");
    const FieldLayout& field = m_header.layout.fields[index];
    const size_t n = std::min<size_t>(bytes.size(), field.length);
    std::memcpy(m_record.data() + field.offset, bytes.data(), n);
    std::memset(m_record.data() + field.offset + n, ' ', field.length - n);
    m_memos[index].loaded = false;
    m_changed = true;
    return 0;
}

int Table::memoText(size_t index, const std::string** text) {
    if (index >= m_header.layout.fields.size()) return code(EngineCode::kErrParameter);
    const FieldLayout& field = m_header.layout.fields[index];
    MemoSlot& slot = m_memos[index];
    if (!isMemoType(field.type)) {
        slot.text.assign(reinterpret_cast<const char*>(m_record.data() + field.offset),
                         field.length);
        slot.loaded = true;
        *text = &slot.text;
        return 0;
    }
    if (!slot.loaded) {
        slot.text.clear();
        if (m_memo) {
            uint32_t block = 0;
            if (!memoBlock(field, m_record.data(), &block)) {
                return fail(code(EngineCode::kErrMemoCorrupt),
                            m_path.string() + ": record " + std::to_string(m_recno) + " field " +
                                field.name + " holds no memo block number");
            }
            std::string detail;
            int rc = m_memo->read(block, &slot.text, &detail);
            if (rc != 0) {
                return fail(rc, m_path.string() + ": record " + std::to_string(m_recno) +
                                    " field " + field.name + ": " + detail);
            }
        }
        slot.loaded = true;
    }
    *text = &slot.text;
    return 0;
}

}  // namespace tavrel::kes04
