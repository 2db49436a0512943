// The table's byte-range locks: the access-mode bytes taken at open, the
// header (append) lock and the record locks.

#include <algorithm>

#include "components/kes04/table.h"

namespace tavrel::kes04 {

using platform::RandomAccessFile;

// Byte-range locks on the .DBF (all one byte unless said otherwise). They lie
// beyond any real data, so readers are never blocked; FoxPro-family programs
// that share the table take the same bytes:
//
//   scheme "new" (table has a structural CDX, flag 0x01, or is a Visual
//   FoxPro table 0x30..0x32):
//     header / append lock   0x7FFFFFFE
//     record n               0x7FFFFFFE - n
//   scheme "old" (FoxPro 2.x without structural index):
//     header / append lock   0x40000000
//     record n               0x40000000 + header_length + (n - 1) * record_length
//
// Access modes are kept with two bytes of our own, above the FoxPro ranges
// (these have no meaning to other programs):
//     0x80000000  "open": every open holds it shared; an exclusive
//                 (deny read/write) read-write open holds it exclusively.
//     0x80000001  "write": every read-write open holds it shared; a deny-write
//                 read-write open holds it exclusively.
// A conflicting open fails at once with kErrOpen (nobody waits to open).
// Read-only opens take only the "open" byte, shared, and deny nothing.
namespace {

constexpr uint64_t kNewSchemeBase = 0x7FFFFFFE;
constexpr uint64_t kOldSchemeBase = 0x40000000;
constexpr uint64_t kOpenByte = 0x80000000;
constexpr uint64_t kWriteByte = 0x80000001;

}  // namespace

int Table::takeShareLocks() {
    using Kind = RandomAccessFile::LockKind;
    if (m_options.readOnly) return m_file->lock(kOpenByte, 1, Kind::kShared);
    const Kind open =
        m_options.accessMode == AccessMode::kDenyRW ? Kind::kExclusive : Kind::kShared;
    const Kind write =
        m_options.accessMode == AccessMode::kDenyNone ? Kind::kShared : Kind::kExclusive;
    int rc = m_file->lock(kOpenByte, 1, open);
    if (rc == 0) rc = m_file->lock(kWriteByte, 1, write);
    return rc;
}

uint64_t Table::headerLockOffset() const {
    return m_newLockScheme ? kNewSchemeBase : kOldSchemeBase;
}

uint64_t Table::recordLockOffset(uint32_t recno) const {
    if (m_newLockScheme) return kNewSchemeBase - recno;
    return kOldSchemeBase + m_header.headerLength +
           uint64_t(recno - 1) * m_header.layout.recordLength;
}

int Table::lockRecord(uint32_t recno) {
    if (!shared() || m_options.readOnly) return 0;
    if (std::find(m_lockedRecords.begin(), m_lockedRecords.end(), recno) != m_lockedRecords.end())
        return 0;
    int rc = lockWithin(*m_file, recordLockOffset(recno), 1, m_options.lockWait);
    if (rc != 0) {
        return fail(rc, "record " + std::to_string(recno) + " of " + m_path.string() +
                            " is locked by another program");
    }
    m_lockedRecords.push_back(recno);
    if (m_index) m_index->fileMayHaveChanged();
    return 0;
}

void Table::releaseRecordLocks() {
    for (uint32_t recno : m_lockedRecords) m_file->unlock(recordLockOffset(recno), 1);
    m_lockedRecords.clear();
}

int Table::lockHeader() {
    if (!shared()) return 0;
    int rc = lockWithin(*m_file, headerLockOffset(), 1, m_options.lockWait);
    if (rc != 0) return fail(rc, m_path.string() + ": the append lock is held by another program");
    if (m_index) m_index->fileMayHaveChanged();
    return 0;
}

void Table::unlockHeader() {
    if (shared()) m_file->unlock(headerLockOffset(), 1);
}

int Table::unlock() {
    int rc = writeChanges();
    releaseRecordLocks();
    return rc;
}

}  // namespace tavrel::kes04
