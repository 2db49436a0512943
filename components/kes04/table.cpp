#include "components/kes04/table.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "components/kes04/field_value.h"
#include "platform/files.h"

namespace tavrel::kes04 {

using platform::RandomAccessFile;
namespace fs = std::filesystem;

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
constexpr size_t kPendingLimit = 1 << 20;
constexpr size_t kReadCacheBytes = 1 << 16;
constexpr size_t kRandomReadBytes = 4096;  // Exclusive mode: a jump to a far record.

fs::path withDefaultExtension(const fs::path& path, const char* extension) {
    if (path.has_extension()) return path;
    fs::path p = path;
    p += extension;
    return p;
}

fs::path sibling(const fs::path& table, const char* extension) {
    fs::path p = table;
    p.replace_extension(extension);
    return p;
}

bool isDbtVersion(uint8_t version) { return version == 0x83 || version == 0x8B || version == 0xCB; }

}  // namespace

int Table::fail(int rc, std::string detail) {
    if (!detail.empty()) m_detail = std::move(detail);
    return rc;
}

Table::~Table() {
    if (!m_closed) close();
}

int Table::open(const fs::path& path, const TableOptions& options, std::unique_ptr<Table>* out,
                std::string* detail) {
    fs::path wanted = withDefaultExtension(path, ".DBF");
    auto found = platform::findPath(wanted);
    if (!found) {
        *detail = "table " + wanted.string() + " does not exist";
        return code(EngineCode::kNoOpen);
    }
    std::unique_ptr<Table> table(new Table());
    table->m_options = options;
    int rc = table->openFiles(*found, detail);
    if (rc == 0 && (table->m_header.flags & kFlagStructuralIndex) && indexFactory()) {
        rc = table->attachIndex(false, {}, true);
        if (rc != 0) *detail = table->m_detail;
    }
    if (rc != 0) {
        table->m_closed = true;
        return rc;
    }
    *out = std::move(table);
    return 0;
}

int Table::openFiles(const fs::path& path, std::string* detail) {
    m_path = path;
    int error = 0;
    m_file = RandomAccessFile::open(path,
                                    m_options.readOnly ? RandomAccessFile::OpenMode::kRead
                                                       : RandomAccessFile::OpenMode::kReadWrite,
                                    &error);
    if (!m_file) {
        *detail = "cannot open " + path.string() + ": " + platform::errorText(error);
        return code(error == ENOENT ? EngineCode::kNoOpen : EngineCode::kErrOpen);
    }
    if (takeShareLocks() != 0) {
        *detail = path.string() + " is in use by another program in a mode that excludes this open";
        return code(EngineCode::kErrOpen);
    }
    std::vector<uint8_t> bytes(kDbfHeaderSize);
    size_t got = 0;
    if (m_file->readAt(0, bytes, &got) != 0) return code(EngineCode::kErrRead);
    bytes.resize(got);
    int rc = parseFixedHeader(platform::ByteView(bytes.data(), bytes.size()), &m_header, detail);
    if (rc == 0) {
        bytes.resize(m_header.headerLength);
        if (m_file->readAt(0, bytes, &got) != 0) return code(EngineCode::kErrRead);
        rc = parseFieldDescriptors(platform::ByteView(bytes.data(), got), &m_header, detail);
    }
    if (rc == 0) rc = checkDataExtent(detail);
    if (rc != 0) {
        *detail = path.string() + ": " + *detail;
        return rc;
    }
    const bool hasMemo = std::any_of(m_header.layout.fields.begin(), m_header.layout.fields.end(),
                                     [](const FieldLayout& f) { return isMemoType(f.type); });
    if (hasMemo) {
        const bool dbt = isDbtVersion(m_header.version);
        const char* extension = dbt ? ".DBT" : ".FPT";
        auto memoPath = platform::findPath(sibling(path, extension));
        if (!memoPath) {
            *detail = path.string() + ": its memo file " + sibling(path, extension).string() +
                      " is missing";
            return code(EngineCode::kErrOpen);
        }
        const MemoFormat format = !dbt                       ? MemoFormat::kFoxPro
                                  : m_header.version == 0x83 ? MemoFormat::kDbase3
                                                             : MemoFormat::kDbase4;
        rc = MemoFile::open(*memoPath, m_options.readOnly, shared(), m_options.lockWait, &m_memo,
                            detail, format);
        if (rc != 0) return rc;
    }
    m_count = m_diskCount = m_header.recordCount;
    m_record = blankRecord(m_header.layout);
    m_original = m_record;
    m_memos.assign(m_header.layout.fields.size(), MemoSlot{});
    m_recno = 0;
    m_eof = false;
    return 0;
}

int Table::checkDataExtent(std::string* detail) {
    m_newLockScheme =
        (m_header.flags & kFlagStructuralIndex) != 0 || isVisualFoxPro(m_header.version);
    // In shared use another program may be appending right now: look at the
    // count, the size and the end mark together, under a shared hold of the
    // append lock (appenders take it exclusively).
    const bool guard = shared() || m_options.readOnly;
    if (guard && lockWithin(*m_file, headerLockOffset(), 1, m_options.lockWait,
                            RandomAccessFile::LockKind::kShared) != 0) {
        *detail = "the append lock stays taken by another program";
        return code(EngineCode::kErrOpen);
    }
    int rc = guard ? rereadCount(&m_header.recordCount) : 0;
    uint64_t size = 0;
    if (rc == 0 && m_file->size(&size) != 0) rc = code(EngineCode::kErrRead);
    const uint64_t dataEnd =
        m_header.headerLength + uint64_t(m_header.recordCount) * m_header.layout.recordLength;
    if (rc == 0 && dataEnd > size) {
        *detail = "offset 4: record count " + std::to_string(m_header.recordCount) + " needs " +
                  std::to_string(dataEnd) + " bytes, but the file has " + std::to_string(size);
        rc = code(EngineCode::kErrData);
    }
    if (rc == 0) {
        // Whether this file keeps an end-of-file mark after its last record.
        uint8_t mark = 0;
        m_eofMarkPending = size > dataEnd &&
                           m_file->readExactAt(dataEnd, std::span(&mark, 1)) == 0 &&
                           mark == kEofMark;
    }
    if (guard) m_file->unlock(headerLockOffset(), 1);
    return rc;
}

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

int Table::attachIndex(bool create, std::span<const TagSpec> tags, bool safety) {
    IndexFactory factory = indexFactory();
    if (!factory) return fail(code(EngineCode::kErrIndex), "no index support is installed");
    IndexRequest request;
    request.tablePath = m_path;
    request.layout = &m_header.layout;
    request.records = this;
    request.accessMode = m_options.accessMode;
    request.readOnly = m_options.readOnly;
    request.create = create;
    request.tags = tags;
    request.safety = safety;
    request.lockWait = m_options.lockWait;
    std::unique_ptr<TableIndex> index;
    int rc = factory(request, &index);
    if (rc != 0) return fail(rc, m_path.string() + ": its structural index could not be opened");
    m_index = std::move(index);
    return 0;
}

int Table::create(const fs::path& path, std::span<const FieldSpec> fields,
                  std::span<const TagSpec> tags, bool safety, const TableOptions& options,
                  std::unique_ptr<Table>* out, std::string* detail) {
    const fs::path target = platform::resolvePath(withDefaultExtension(path, ".DBF"));
    if (safety && platform::fileExists(target)) {
        *detail = "table " + target.string() + " exists already";
        return code(EngineCode::kNoCreate);
    }
    if (!tags.empty() && !indexFactory()) {
        *detail = "tags were asked for, but no index support is installed";
        return code(EngineCode::kErrIndex);
    }
    RecordLayout layout;
    int rc = layoutForCreate(fields, &layout, detail);
    if (rc != 0) return rc;
    platform::SystemClock system;
    const platform::DateTime now = (options.clock ? options.clock : &system)->now();
    std::vector<uint8_t> bytes =
        buildHeader(layout, tags.empty() ? 0 : kFlagStructuralIndex, now.year, now.month, now.day);
    bytes.push_back(kEofMark);
    int error = 0;
    auto file = RandomAccessFile::open(target, RandomAccessFile::OpenMode::kCreateTruncate, &error);
    if (!file || file->writeAt(0, bytes) != 0) {
        *detail = "cannot create " + target.string() + ": " + platform::errorText(error);
        return code(EngineCode::kNoCreate);
    }
    file.reset();
    const bool hasMemo = layout.version == 0xF5;
    if (hasMemo) {
        std::unique_ptr<MemoFile> memo;
        const fs::path memoPath = platform::resolvePath(sibling(target, ".FPT"));
        rc = MemoFile::create(memoPath, options.memoBlockSize, &memo, detail);
        if (rc != 0) {
            platform::deleteFile(target);
            return rc;
        }
    }
    if (tags.empty()) {
        // A stale structural index of a replaced table must not be taken for ours.
        if (auto old = platform::findPath(sibling(target, ".CDX"))) platform::deleteFile(*old);
    }
    std::unique_ptr<Table> table(new Table());
    table->m_options = options;
    rc = table->openFiles(target, detail);
    if (rc == 0 && !tags.empty()) {
        rc = table->attachIndex(true, tags, safety);
        if (rc != 0) *detail = table->m_detail;
    }
    if (rc != 0) {
        table->m_closed = true;
        table.reset();
        platform::deleteFile(target);
        if (hasMemo) platform::deleteFile(sibling(target, ".FPT"));
        return rc;
    }
    *out = std::move(table);
    return 0;
}

int Table::close() {
    if (m_closed) return 0;
    int rc = m_options.readOnly ? 0 : flush();
    m_index.reset();
    m_memo.reset();
    m_file.reset();
    m_closed = true;
    return rc;
}

// ---- locks -------------------------------------------------------------

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

// ---- record I/O ---------------------------------------------------------

int Table::rereadCount(uint32_t* count) {
    uint8_t bytes[4];
    if (m_file->readExactAt(4, bytes) != 0) return fail(code(EngineCode::kErrRead), "");
    *count = platform::loadLE32(bytes);
    return 0;
}

uint32_t Table::recordCount() {
    if (shared() || m_options.readOnly) {
        uint32_t count = 0;
        if (rereadCount(&count) == 0) m_count = m_diskCount = count;
    }
    return m_count;
}

int Table::flushPending() {
    int rc = writeBackCache();
    if (m_pending.empty()) return rc;
    const uint64_t dataEnd =
        m_header.headerLength + uint64_t(m_count) * m_header.layout.recordLength;
    const bool mark = m_eofMarkPending && m_pendingOffset + m_pending.size() == dataEnd;
    if (mark) m_pending.push_back(kEofMark);
    const int written = m_file->writeAt(m_pendingOffset, m_pending);
    m_pending.clear();
    m_unsynced = true;
    if (written != 0) return fail(code(EngineCode::kErrWrite), m_path.string() + ": write failed");
    return rc;
}

int Table::writeBackCache() {
    if (m_dirtyFirst == 0) return 0;
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
        return fail(code(EngineCode::kErrWrite),
                    m_path.string() + ": records from " + std::to_string(first) +
                        " cannot be written");
    }
    return 0;
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
            const uint32_t wanted =
                std::min<uint32_t>(std::max<size_t>(1, block / length), m_count - recno + 1);
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
    if (m_file->writeAt(at, std::span(bytes, length)) != 0) {
        return fail(code(EngineCode::kErrWrite),
                    m_path.string() + ": record " + std::to_string(recno) + " cannot be written");
    }
    return 0;
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

void Table::stampDate(uint8_t* p) const {
    platform::SystemClock system;
    const platform::DateTime now = (m_options.clock ? m_options.clock : &system)->now();
    p[0] = uint8_t(now.year % 100);
    p[1] = uint8_t(now.month);
    p[2] = uint8_t(now.day);
}

int Table::writeHeaderCount(bool underLock) {
    uint8_t bytes[7];
    if (shared() && !underLock) {
        int rc = lockHeader();
        if (rc != 0) return rc;
    }
    int rc = 0;
    if (shared()) {
        uint32_t count = 0;
        rc = rereadCount(&count);
        if (rc == 0) m_count = std::max(m_count, count);
    }
    if (rc == 0) {
        stampDate(bytes);
        platform::storeLE32(bytes + 3, m_count);
        m_unsynced = true;
        if (m_file->writeAt(1, bytes) != 0) rc = fail(code(EngineCode::kErrWrite), "");
    }
    if (shared() && !underLock) unlockHeader();
    if (rc == 0) {
        m_diskCount = m_count;
        m_headerDirty = false;
    }
    return rc;
}

// ---- current record ------------------------------------------------------

void Table::forgetMemos() {
    for (MemoSlot& slot : m_memos) {
        slot.loaded = false;
        slot.changed = false;
    }
}

int Table::loadRecord(uint32_t recno) {
    m_scratch.resize(m_header.layout.recordLength);
    int rc = readRecordBytes(recno, m_scratch.data());
    if (rc != 0) return rc;
    m_record.assign(m_scratch.begin(), m_scratch.end());
    m_original.assign(m_scratch.begin(), m_scratch.end());
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
    for (size_t i = 0; i < m_memos.size(); ++i) {
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
    if (rc == 0) rc = writeMemos();
    if (rc == 0 && m_index) rc = m_index->recordChanging(m_recno, m_original, m_record);
    if (rc != 0) {
        // Refused or failed: the file keeps its record, and so does the buffer.
        m_record = m_original;
        forgetMemos();
    } else {
        rc = writeRecordBytes(m_recno, m_record.data());
        if (rc == 0) {
            m_original = m_record;
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

// ---- navigation ------------------------------------------------------------

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

int Table::flush() {
    if (m_options.readOnly) return 0;
    int rc = writeChanges();
    int next = flushPending();
    if (rc == 0) rc = next;
    if (m_headerDirty || m_diskCount != m_count) {
        next = writeHeaderCount(false);
        if (rc == 0) rc = next;
    }
    if (m_memo) {
        next = m_memo->sync();
        if (rc == 0) rc = next;
    }
    if (m_index) {
        next = m_index->flush();
        if (rc == 0) rc = next;
    }
    // Only a table that was written needs the (slow) trip to the disk.
    if (m_unsynced) {
        if (m_file->sync() != 0 && rc == 0) rc = code(EngineCode::kErrWrite);
        m_unsynced = false;
    }
    return rc;
}

int Table::unlock() {
    int rc = writeChanges();
    releaseRecordLocks();
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
