// Opening, creating and closing a table, its flush, and the record count and
// date in the file header. Locks are in table_locks.cpp, record reads and
// writes in table_records.cpp, moves in table_navigation.cpp.

#include "components/kes04/table.h"

#include <algorithm>
#include <cerrno>

#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::kes04 {

using platform::RandomAccessFile;
namespace fs = std::filesystem;

namespace {

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
    m_header.layout.alias = platform::upperText(path.stem().string());
    m_count = m_diskCount = m_header.recordCount;
    m_record = blankRecord(m_header.layout);
    m_original = m_record;
    m_memos.assign(m_header.layout.fields.size(), MemoSlot{});
    m_memoFields.clear();
    for (size_t i = 0; i < m_header.layout.fields.size(); ++i) {
        if (isMemoType(m_header.layout.fields[i].type)) m_memoFields.push_back(i);
    }
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
    if (!tags.empty()) {
        // Tags that cannot be made are refused before anything is written: a
        // table being replaced stays as it was.
        layout.alias = platform::upperText(target.stem().string());
        IndexRequest check;
        check.tablePath = target;
        check.layout = &layout;
        check.create = true;
        check.tags = tags;
        check.safety = safety;
        check.checkOnly = true;
        std::unique_ptr<TableIndex> none;
        rc = indexFactory()(check, &none);
        if (rc != 0) {
            *detail = "the tags asked for cannot be made on " + target.string();
            return rc;
        }
    }
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

// ---- header ------------------------------------------------------------

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

// ---- flush -------------------------------------------------------------

int Table::flush() {
    if (m_options.readOnly) return 0;
    int rc = writeChanges();
    // The memos first: the records and the count that make them part of the
    // table follow.
    if (m_memo) {
        const int next = m_memo->sync();
        if (rc == 0) rc = next;
    }
    int next = flushPending();
    if (rc == 0) rc = next;
    if (m_headerDirty || m_diskCount != m_count) {
        next = writeHeaderCount(false);
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

}  // namespace tavrel::kes04
