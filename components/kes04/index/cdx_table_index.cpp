#include "components/kes04/index/cdx_table_index.h"

#include "components/kes04/index/key_encoding.h"
#include "components/kes04/memo_file.h"
#include "platform/files.h"

namespace tavrel::kes04::cdx {

using platform::RandomAccessFile;

bool FilePageStore::read(uint64_t offset, uint8_t* out, size_t count) {
    return m_file->readExactAt(offset, std::span<uint8_t>(out, count)) == 0;
}

bool FilePageStore::write(uint64_t offset, const uint8_t* data, size_t count) {
    return m_file->writeAt(offset, std::span<const uint8_t>(data, count)) == 0;
}

uint64_t FilePageStore::size() {
    uint64_t s = 0;
    return m_file->size(&s) == 0 ? s : 0;
}

bool FilePageStore::truncate(uint64_t size) { return m_file->truncate(size) == 0; }

bool FilePageStore::flush() { return true; }  // the table's flush syncs its files

int engineCode(CdxStatus status) {
    switch (status) {
        case CdxStatus::Ok:
            return 0;
        case CdxStatus::Corrupt:
            return code(EngineCode::kErrIndex);
        case CdxStatus::Io:
            return code(EngineCode::kErrWrite);
        case CdxStatus::BadExpression:
            return code(EngineCode::kErrExpression);
        case CdxStatus::BadTagName:
        case CdxStatus::DuplicateTag:
        case CdxStatus::KeyTooLong:
            return code(EngineCode::kErrTagInfo);
        case CdxStatus::UniqueViolation:
            return code(EngineCode::kUnique);
        case CdxStatus::ReadOnlyTag:
            return code(EngineCode::kErrIndex);
    }
    return code(EngineCode::kErrIndex);
}

namespace {

// The table's records for a rebuild or a check, read one by one.
class TableRecords final : public RecordSource {
  public:
    explicit TableRecords(kes04::RecordSource& source) : m_source(source) {}
    uint32_t recordCount() override { return m_source.recordCount(); }
    bool forEach(const std::function<bool(const RecordView&)>& visit) override {
        const uint32_t n = m_source.recordCount();
        std::vector<uint8_t> row;
        for (uint32_t r = 1; r <= n; ++r) {
            if (m_source.readRecord(r, row) != 0) return false;
            if (!visit(RecordView{row, r})) break;
        }
        return true;
    }

  private:
    kes04::RecordSource& m_source;
};

}  // namespace

// The selected tag as a navigation order for the table.
class CdxTableIndex::TagOrder final : public RecordOrder {
  public:
    TagOrder(CdxTableIndex& owner, CdxTag& tag) : m_owner(owner), m_tag(tag) {}

    int top(uint32_t* recno) override { return ends(true, recno); }
    int bottom(uint32_t* recno) override { return ends(false, recno); }

    int skip(uint32_t from, RecordBytes current, int64_t count, uint32_t* recno) override {
        int rc = m_owner.lock(false);
        if (rc != 0) return rc;
        *recno = from;
        CdxIndex& idx = *m_owner.m_index;
        CdxCursor c;
        std::string anchor;
        bool exact = false;
        CdxStatus s = startAt(from, current, c, anchor, exact);
        const bool forward = count >= 0;
        int64_t steps = forward ? count : -count;
        if (s == CdxStatus::Ok && !exact) {
            // The record has no entry: the nearest entry on the way is the first step.
            if (!forward) s = c.valid ? idx.prev(m_tag, c) : idx.last(m_tag, c);
            if (s == CdxStatus::Ok && c.valid && !beyond(c, anchor, from, forward))
                return m_owner.finish(corrupt());
            if (steps > 0) --steps;
            if (s == CdxStatus::Ok && !c.valid) return m_owner.finish(forward ? kEof : kBof);
            if (s == CdxStatus::Ok) remember(c, recno);
        }
        while (s == CdxStatus::Ok && steps > 0) {
            std::string prevKey = c.key;
            const uint32_t prevRecord = c.record;
            s = forward ? idx.next(m_tag, c) : idx.prev(m_tag, c);
            if (s != CdxStatus::Ok) break;
            if (!c.valid) return m_owner.finish(forward ? kEof : kBof);
            // Every step must move on in key order, or a damaged tree could
            // send the walk round for ever.
            if (!beyond(c, prevKey, prevRecord, forward)) return m_owner.finish(corrupt());
            remember(c, recno);
            --steps;
        }
        return m_owner.finish(engineCode(s));
    }

  private:
    static constexpr int kEof = code(EngineCode::kEof);
    static constexpr int kBof = code(EngineCode::kBof);

    // Finds where a skip from record `from` starts. The entry this order last
    // reached comes first: a record whose data no longer matches its key (the
    // table changed behind the index) then goes on from its place in the
    // index instead of jumping back to where its data would sort. Otherwise
    // the record's own entry, else the place its key would have.
    CdxStatus startAt(uint32_t from, RecordBytes current, CdxCursor& c, std::string& anchor,
                      bool& exact) {
        CdxIndex& idx = *m_owner.m_index;
        exact = false;
        if (m_reached && m_lastRecord == from) {
            const CdxStatus s = idx.locate(m_tag, m_lastKey, from, c);
            if (s != CdxStatus::Ok) return s;
            anchor = m_lastKey;
            exact = c.valid && c.record == from && c.key == m_lastKey;
            if (exact) return s;
        }
        std::string key;
        m_tag.keyIgnoringFilter(RecordView{current, from}, key);
        CdxCursor own;
        const CdxStatus s = idx.locate(m_tag, key, from, own);
        if (s != CdxStatus::Ok) return s;
        const bool ownExact = own.valid && own.record == from && own.key == key;
        if (ownExact || !(m_reached && m_lastRecord == from)) {
            c = own;
            anchor = key;
            exact = ownExact;
        }
        return s;
    }

    // True when entry `c` lies strictly past (key, record) in the walk's direction.
    bool beyond(const CdxCursor& c, const std::string& key, uint32_t record, bool forward) const {
        int cmp = c.key.compare(key);
        if (cmp == 0) cmp = c.record < record ? -1 : (c.record > record ? 1 : 0);
        const bool upward = forward != m_tag.descending();
        return upward ? cmp > 0 : cmp < 0;
    }

    void remember(const CdxCursor& c, uint32_t* recno) {
        *recno = c.record;
        m_reached = true;
        m_lastRecord = c.record;
        m_lastKey = c.key;
    }

    int corrupt() {
        m_reached = false;
        return code(EngineCode::kErrIndex);
    }

    int ends(bool top, uint32_t* recno) {
        int rc = m_owner.lock(false);
        if (rc != 0) return rc;
        CdxCursor c;
        const CdxStatus s =
            top ? m_owner.m_index->first(m_tag, c) : m_owner.m_index->last(m_tag, c);
        if (s != CdxStatus::Ok) return m_owner.finish(engineCode(s));
        if (!c.valid) return m_owner.finish(kEof);
        remember(c, recno);
        return m_owner.finish(0);
    }

    CdxTableIndex& m_owner;
    CdxTag& m_tag;
    bool m_reached = false;  // m_lastKey/m_lastRecord hold the entry last moved to
    uint32_t m_lastRecord = 0;
    std::string m_lastKey;
};

CdxTableIndex::~CdxTableIndex() = default;

int CdxTableIndex::factory(const IndexRequest& request, std::unique_ptr<TableIndex>* out) {
    try {
        if (!request.layout || !out) return code(EngineCode::kErrParameterNull);
        std::filesystem::path path = request.tablePath;
        path.replace_extension(".CDX");
        const auto existing = platform::findPath(path);
        const RecordLayout& layout = *request.layout;
        std::unique_ptr<CdxTableIndex> idx(new CdxTableIndex());
        idx->m_records = request.records;
        idx->m_mode = request.accessMode;
        idx->m_readOnly = request.readOnly;
        idx->m_lockWait = request.lockWait;

        if (request.create) {
            for (const TagSpec& def : request.tags) {
                const CdxStatus s = CdxIndex::validateSpec(def, layout);
                if (s != CdxStatus::Ok) return engineCode(s);
            }
            if (request.checkOnly) return 0;
            if (existing && request.safety) return code(EngineCode::kNoCreate);
            int err = 0;
            auto file = RandomAccessFile::open(existing ? *existing : platform::resolvePath(path),
                                               RandomAccessFile::OpenMode::kCreateTruncate, &err);
            if (!file) return code(EngineCode::kErrCreate);
            auto store = std::make_unique<FilePageStore>(std::move(file));
            idx->m_store = store.get();
            CdxStatus s;
            idx->m_index = CdxIndex::create(std::move(store), layout, &s);
            if (!idx->m_index) return engineCode(s);
            for (const TagSpec& def : request.tags) {
                s = idx->m_index->addTag(def);
                if (s != CdxStatus::Ok) return engineCode(s);
            }
            s = idx->m_index->flush();
            if (s != CdxStatus::Ok) return engineCode(s);
        } else {
            if (!existing) return code(EngineCode::kNoOpen);
            int err = 0;
            auto file =
                RandomAccessFile::open(*existing,
                                       request.readOnly ? RandomAccessFile::OpenMode::kRead
                                                        : RandomAccessFile::OpenMode::kReadWrite,
                                       &err);
            if (!file) return code(EngineCode::kErrOpen);
            const bool shared = request.accessMode == AccessMode::kDenyNone;
            if (shared) {
                const int rc = lockWithin(*file, kIndexLockOffset, 1, request.lockWait,
                                          RandomAccessFile::LockKind::kShared);
                if (rc != 0) return rc;
            }
            auto store = std::make_unique<FilePageStore>(std::move(file));
            FilePageStore* raw = store.get();
            CdxStatus s;
            idx->m_index = CdxIndex::open(std::move(store), layout, &s);
            if (!idx->m_index)
                return s == CdxStatus::BadExpression ? engineCode(s) : code(EngineCode::kErrIndex);
            idx->m_store = raw;
            if (shared) raw->file().unlock(kIndexLockOffset, 1);
        }
        idx->m_index->setDeferAppends(request.accessMode != AccessMode::kDenyNone &&
                                      !request.readOnly);
        *out = std::move(idx);
        return 0;
    } catch (...) {
        return code(EngineCode::kErrMemory);
    }
}

int CdxTableIndex::lock(bool forWrite) {
    // Exclusive tables need no locks; a deny-write table still locks so that
    // readers in other processes never see a page half written.
    if (m_mode == AccessMode::kDenyRW || m_locked) return 0;
    const auto kind = forWrite && !m_readOnly ? RandomAccessFile::LockKind::kExclusive
                                              : RandomAccessFile::LockKind::kShared;
    const int rc = lockWithin(m_store->file(), kIndexLockOffset, 1, m_lockWait, kind);
    if (rc != 0) return rc;
    m_locked = true;
    const CdxStatus s = m_index->refresh();
    if (s != CdxStatus::Ok) {
        unlock();
        return engineCode(s);
    }
    return 0;
}

void CdxTableIndex::unlock() {
    if (!m_locked) return;
    m_store->file().unlock(kIndexLockOffset, 1);
    m_locked = false;
}

int CdxTableIndex::finish(int rc) {
    unlock();
    return rc;
}

int CdxTableIndex::recordChanging(uint32_t recno, RecordBytes before, RecordBytes after) {
    if (m_readOnly) return code(EngineCode::kErrReadOnly);
    int rc = lock(true);
    if (rc != 0) return rc;
    CdxStatus s = m_index->applyChange(recno, before, after);
    if (s == CdxStatus::Ok && m_mode == AccessMode::kDenyNone) s = m_index->flush();
    return finish(engineCode(s));
}

int CdxTableIndex::flush() {
    if (m_readOnly) return 0;
    int rc = lock(true);
    if (rc != 0) return rc;
    return finish(engineCode(m_index->flush()));
}

void CdxTableIndex::fileMayHaveChanged() {
    // Shared-mode reads refresh under the index lock anyway; nothing to keep.
}

RecordOrder* CdxTableIndex::selectedOrder() { return m_order.get(); }

void CdxTableIndex::select(CdxTag* tag) {
    m_selected = tag;
    m_order = tag ? std::make_unique<TagOrder>(*this, *tag) : nullptr;
}

int CdxTableIndex::seek(std::string_view text, uint32_t* recno) {
    if (!m_selected) return code(EngineCode::kNoTag);
    int rc = lock(false);
    if (rc != 0) return rc;
    CdxTag& tag = *m_selected;
    CdxCursor c;
    bool found = false;
    const CdxStatus s =
        m_index->seek(tag, seekKeyFromText(text, tag.keyType(), tag.keyLength()), c, found);
    if (s != CdxStatus::Ok) return finish(engineCode(s));
    if (!c.valid) return finish(code(EngineCode::kEof));
    *recno = c.record;
    return finish(found ? 0 : code(EngineCode::kAfter));
}

int CdxTableIndex::seekNext(std::string_view text, uint32_t current, RecordBytes currentBytes,
                            uint32_t* recno) {
    if (!m_selected) return code(EngineCode::kNoTag);
    CdxTag& tag = *m_selected;
    const std::string search = seekKeyFromText(text, tag.keyType(), tag.keyLength());
    std::string key;
    const bool inTag =
        current != 0 && !currentBytes.empty() && tag.keyFor(RecordView{currentBytes, current}, key);
    if (!inTag || key.compare(0, search.size(), search) != 0) return seek(text, recno);
    int rc = lock(false);
    if (rc != 0) return rc;
    CdxCursor c;
    CdxStatus s = m_index->locate(tag, key, current, c);
    if (s == CdxStatus::Ok && c.valid && c.record == current && c.key == key)
        s = m_index->next(tag, c);
    if (s != CdxStatus::Ok) return finish(engineCode(s));
    if (!c.valid) return finish(code(EngineCode::kEof));
    *recno = c.record;
    return finish(c.key.compare(0, search.size(), search) == 0 ? 0 : code(EngineCode::kEntry));
}

int CdxTableIndex::reindex() {
    if (m_readOnly) return code(EngineCode::kErrReadOnly);
    if (!m_records) return code(EngineCode::kErrParameterNull);
    int rc = lock(true);
    if (rc != 0) return rc;
    TableRecords records(*m_records);
    return finish(engineCode(m_index->reindex(records)));
}

int CdxTableIndex::check(std::vector<std::string>& problems) {
    if (!m_records) return code(EngineCode::kErrParameterNull);
    int rc = lock(false);
    if (rc != 0) return rc;
    TableRecords records(*m_records);
    return finish(engineCode(m_index->checkData(records, problems)));
}

}  // namespace tavrel::kes04::cdx
