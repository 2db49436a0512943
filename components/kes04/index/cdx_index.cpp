#include "components/kes04/index/cdx_index.h"

#include <algorithm>
#include <cstring>

#include "components/kes04/index/key_encoding.h"
#include "platform/text_rules.h"

namespace tavrel::kes04::cdx {

namespace {

constexpr size_t kMaxTags = 4096;

bool validName(std::string_view name) {
    using platform::isAlphaAscii;
    using platform::isDigitAscii;
    if (name.empty() || name.size() > 10) return false;
    if (!(isAlphaAscii(name[0]) || name[0] == '_')) return false;
    for (char c : name)
        if (!(isAlphaAscii(c) || isDigitAscii(c) || c == '_')) return false;
    return true;
}

bool isMachineCollation(const std::string& name) { return name.empty() || name == "MACHINE"; }

// Parses the key and filter of a tag and works out its key type and width.
CdxStatus parseTagExpressions(const std::string& keyText, const std::string& forText,
                              const RecordLayout& layout, std::unique_ptr<Expression>& key,
                              std::unique_ptr<Expression>& filter, uint32_t& width,
                              std::string* message) {
    ExprError err;
    std::string why;
    key = Expression::parse(keyText, layout, &err, &why);
    if (!key) {
        if (message) *message = "key expression \"" + keyText + "\": " + why;
        return CdxStatus::BadExpression;
    }
    filter.reset();
    if (!forText.empty()) {
        filter = Expression::parse(forText, layout, &err, &why);
        if (!filter) {
            if (message) *message = "filter expression \"" + forText + "\": " + why;
            return CdxStatus::BadExpression;
        }
        if (filter->type() != ValueType::Logical) {
            if (message) *message = "filter expression \"" + forText + "\" is not logical";
            return CdxStatus::BadExpression;
        }
    }
    width = key->width();
    if (width == 0) {
        if (message) *message = "key expression \"" + keyText + "\" gives an empty key";
        return CdxStatus::BadExpression;
    }
    if (width > kMaxKeyLength) {
        if (message) *message = "key of " + std::to_string(width) + " bytes (240 at most)";
        return CdxStatus::KeyTooLong;
    }
    return CdxStatus::Ok;
}

}  // namespace

bool CdxTag::keyInputsDiffer(std::span<const uint8_t> before,
                             std::span<const uint8_t> after) const {
    return before.empty() || after.empty() || m_key->inputsDiffer(before, after) ||
           (m_filter && m_filter->inputsDiffer(before, after));
}

bool CdxTag::keyFor(const RecordView& record, std::string& key) const {
    if (m_filter && !m_filter->isTrue(record)) return false;
    keyIgnoringFilter(record, key);
    return true;
}

void CdxTag::keyIgnoringFilter(const RecordView& record, std::string& key) const {
    const Value v = m_key->evaluate(record);
    if (m_type == ValueType::Numeric && m_header.keyLength == 4) {
        // An integer field alone keys as a 4-byte big-endian integer with the
        // sign bit flipped.
        const double d = std::clamp(v.number, -2147483648.0, 2147483647.0);
        key.resize(4);
        platform::storeBE32(reinterpret_cast<uint8_t*>(key.data()),
                            uint32_t(int32_t(d)) ^ 0x80000000u);
        return;
    }
    key.resize(m_header.keyLength);
    encodeKey(v, m_header.keyLength, reinterpret_cast<uint8_t*>(key.data()));
}

CdxIndex::CdxIndex(std::unique_ptr<PageStore> store, const RecordLayout& layout)
    : m_store(std::move(store)), m_layout(layout), m_cache(*m_store) {}

CdxIndex::~CdxIndex() = default;

std::unique_ptr<CdxIndex> CdxIndex::create(std::unique_ptr<PageStore> store,
                                           const RecordLayout& layout, CdxStatus* status) {
    std::unique_ptr<CdxIndex> idx(new CdxIndex(std::move(store), layout));
    auto result = [&](CdxStatus s) {
        if (status) *status = s;
        return s == CdxStatus::Ok ? std::move(idx) : nullptr;
    };
    if (!idx->m_store->truncate(0)) return result(CdxStatus::Io);
    idx->m_cache.clear();
    idx->m_cache.allocate(kHeaderSize);
    idx->m_dirHeader = TagHeader{};
    idx->m_dirHeader.keyLength = 10;
    idx->m_dirHeader.options = kOptCompact | kOptCompound | kOptDirectory;
    idx->m_dirTree = std::make_unique<TagTree>(idx->m_cache, 10, uint8_t(' '),
                                               idx->m_dirHeader.root, idx->m_dirHeaderDirty);
    if (idx->m_dirTree->makeEmpty() != TreeResult::Ok) return result(CdxStatus::Io);
    return result(idx->flush());
}

std::unique_ptr<CdxIndex> CdxIndex::open(std::unique_ptr<PageStore> store,
                                         const RecordLayout& layout, CdxStatus* status,
                                         std::string* message) {
    std::unique_ptr<CdxIndex> idx(new CdxIndex(std::move(store), layout));
    const CdxStatus s = idx->load(message);
    if (status) *status = s;
    return s == CdxStatus::Ok ? std::move(idx) : nullptr;
}

CdxStatus CdxIndex::load(std::string* message) {
    auto corrupt = [&](const std::string& why) {
        m_error = why;
        if (message) *message = why;
        return CdxStatus::Corrupt;
    };
    m_tags.clear();
    m_cache.clear();
    uint8_t header[kHeaderSize];
    if (!m_store->read(0, header, kHeaderSize))
        return corrupt("file shorter than its 1024-byte directory header");
    std::string why;
    if (!decodeTagHeader(platform::ByteView(header, kHeaderSize), m_dirHeader, &why))
        return corrupt("directory header: " + why);
    m_dirTree = std::make_unique<TagTree>(m_cache, m_dirHeader.keyLength, uint8_t(' '),
                                          m_dirHeader.root, m_dirHeaderDirty);
    TreePos pos;
    TreeResult r = m_dirTree->first(pos);
    std::vector<std::pair<std::string, uint32_t>> entries;
    while (r == TreeResult::Ok && !pos.atEnd()) {
        std::string key;
        uint32_t offset;
        r = m_dirTree->entry(pos, key, offset);
        if (r != TreeResult::Ok) break;
        if (entries.size() >= kMaxTags) return corrupt("tag directory holds too many entries");
        entries.emplace_back(std::string(platform::trimPadding(key)), offset);
        r = m_dirTree->next(pos);
    }
    if (r != TreeResult::Ok) return corrupt("tag directory: " + m_cache.error());
    for (auto& [name, offset] : entries) {
        for (const auto& t : m_tags)
            if (t->m_headerOffset == offset || platform::sameTextIgnoringCase(t->m_name, name))
                return corrupt("tag directory lists tag " + name + " twice");
        std::unique_ptr<CdxTag> tag;
        const CdxStatus s = loadTag(name, offset, tag, message);
        if (s != CdxStatus::Ok) return s;
        m_tags.push_back(std::move(tag));
    }
    std::sort(m_tags.begin(), m_tags.end(),
              [](const auto& a, const auto& b) { return a->m_headerOffset < b->m_headerOffset; });
    collectTagReads();
    ++m_generation;
    return CdxStatus::Ok;
}

CdxStatus CdxIndex::loadTag(const std::string& name, uint32_t offset, std::unique_ptr<CdxTag>& out,
                            std::string* message) {
    auto corrupt = [&](const std::string& why) {
        m_error = "tag " + name + ": " + why;
        if (message) *message = m_error;
        return CdxStatus::Corrupt;
    };
    if (name.empty()) return corrupt("empty tag name in the directory");
    if (offset % kPageSize != 0 || offset < kHeaderSize ||
        uint64_t(offset) + kHeaderSize > m_store->size())
        return corrupt("header offset " + std::to_string(offset) + " outside the file");
    uint8_t bytes[kHeaderSize];
    if (!m_store->read(offset, bytes, kHeaderSize)) return corrupt("cannot read its header");
    auto tag = std::make_unique<CdxTag>();
    std::string why;
    if (!decodeTagHeader(platform::ByteView(bytes, kHeaderSize), tag->m_header, &why))
        return corrupt(why);
    tag->m_name = name;
    tag->m_headerOffset = offset;
    uint32_t width;
    const CdxStatus s = parseTagExpressions(tag->m_header.keyExpr, tag->m_header.forExpr, m_layout,
                                            tag->m_key, tag->m_filter, width, &why);
    if (s != CdxStatus::Ok) {
        m_error = "tag " + name + ": " + why;
        if (message) *message = m_error;
        return CdxStatus::BadExpression;
    }
    tag->m_type = tag->m_key->type();
    const uint32_t kl = tag->m_header.keyLength;
    const uint8_t opts = tag->m_header.options;
    const bool nullable = (opts & kOptNullable) != 0;
    const uint32_t dataLength = kl - (nullable ? 1 : 0);
    if ((tag->m_type == ValueType::Numeric && dataLength != 8 && dataLength != 4) ||
        (tag->m_type == ValueType::Date && dataLength != 8) ||
        (tag->m_type == ValueType::Logical && dataLength != 1))
        return corrupt("key length " + std::to_string(kl) + " does not fit its expression");
    tag->m_uniqueness = (opts & kOptCandidate) ? TagUniqueness::kRefuse
                        : (opts & kOptUnique)  ? TagUniqueness::kContinue
                                               : TagUniqueness::kNone;
    tag->m_writable = !nullable && isMachineCollation(tag->m_header.collation);
    tag->m_tree = std::make_unique<TagTree>(m_cache, kl, padByte(tag->m_type), tag->m_header.root,
                                            tag->m_headerDirty);
    out = std::move(tag);
    return CdxStatus::Ok;
}

CdxStatus CdxIndex::validateSpec(const TagSpec& def, const RecordLayout& layout,
                                 std::string* message) {
    if (!validName(def.name)) {
        if (message) *message = "bad tag name \"" + def.name + "\"";
        return CdxStatus::BadTagName;
    }
    if (def.uniqueness != TagUniqueness::kNone && def.uniqueness != TagUniqueness::kRefuse &&
        def.uniqueness != TagUniqueness::kContinue) {
        if (message) *message = "uniqueness must be 0, 20 or 25";
        return CdxStatus::BadExpression;
    }
    if (def.expression.size() + def.filter.size() + 2 > kPageSize) {
        if (message) *message = "key and filter expressions longer than the header holds";
        return CdxStatus::KeyTooLong;
    }
    std::unique_ptr<Expression> key, filter;
    uint32_t width;
    return parseTagExpressions(def.expression, def.filter, layout, key, filter, width, message);
}

CdxStatus CdxIndex::addTag(const TagSpec& def, std::string* message) {
    CdxStatus s = validateSpec(def, m_layout, message);
    if (s != CdxStatus::Ok) return s;
    const std::string name = platform::upperText(def.name);
    if (findTag(name)) {
        if (message) *message = "tag " + name + " exists already";
        return CdxStatus::DuplicateTag;
    }
    if (name.size() > m_dirHeader.keyLength) {
        if (message) *message = "tag name longer than the directory's keys";
        return CdxStatus::BadTagName;
    }
    auto tag = std::make_unique<CdxTag>();
    uint32_t width;
    s = parseTagExpressions(def.expression, def.filter, m_layout, tag->m_key, tag->m_filter, width,
                            message);
    if (s != CdxStatus::Ok) return s;
    tag->m_name = name;
    tag->m_type = tag->m_key->type();
    tag->m_uniqueness = def.uniqueness;
    TagHeader& h = tag->m_header;
    h.keyLength = uint16_t(width);
    h.options = kOptCompact | kOptCompound;
    if (def.uniqueness == TagUniqueness::kRefuse) h.options |= kOptCandidate;
    if (def.uniqueness == TagUniqueness::kContinue) h.options |= kOptUnique;
    if (!def.filter.empty()) h.options |= kOptFor;
    h.descending = def.descending;
    h.keyExpr = def.expression;
    h.forExpr = def.filter;
    tag->m_headerOffset = m_cache.allocate(kHeaderSize);
    tag->m_headerDirty = true;
    tag->m_tree =
        std::make_unique<TagTree>(m_cache, width, padByte(tag->m_type), h.root, tag->m_headerDirty);
    if (tag->m_tree->makeEmpty() != TreeResult::Ok) return fromTree(TreeResult::Corrupt);
    std::string dirKey = name;
    dirKey.resize(m_dirHeader.keyLength, ' ');
    const TreeResult r =
        m_dirTree->insert(reinterpret_cast<const uint8_t*>(dirKey.data()), tag->m_headerOffset);
    if (r != TreeResult::Ok) return fromTree(r);
    m_tags.push_back(std::move(tag));
    collectTagReads();
    ++m_generation;
    return CdxStatus::Ok;
}

void CdxIndex::collectTagReads() {
    std::vector<std::pair<uint32_t, uint32_t>> reads;
    for (const auto& t : m_tags) {
        for (const Expression* e : {t->m_key.get(), t->m_filter.get()}) {
            if (e) reads.insert(reads.end(), e->reads().begin(), e->reads().end());
        }
    }
    std::sort(reads.begin(), reads.end());
    m_tagReads.clear();
    for (const auto& [offset, length] : reads) {
        if (!m_tagReads.empty() &&
            offset <= uint64_t(m_tagReads.back().first) + m_tagReads.back().second) {
            auto& last = m_tagReads.back();
            last.second = std::max<uint32_t>(last.second, offset + length - last.first);
        } else {
            m_tagReads.emplace_back(offset, length);
        }
    }
}

bool CdxIndex::tagInputsDiffer(std::span<const uint8_t> before,
                               std::span<const uint8_t> after) const {
    if (before.empty() || after.empty() || before.size() != after.size()) return true;
    for (const auto& [offset, length] : m_tagReads) {
        if (uint64_t(offset) + length > before.size()) return true;
        if (std::memcmp(before.data() + offset, after.data() + offset, length) != 0) return true;
    }
    return false;
}

CdxTag* CdxIndex::findTag(std::string_view name) {
    for (auto& t : m_tags)
        if (platform::sameTextIgnoringCase(t->m_name, name)) return t.get();
    return nullptr;
}

CdxStatus CdxIndex::fromTree(TreeResult r) {
    if (r == TreeResult::Ok) return CdxStatus::Ok;
    m_error = m_cache.error().empty() ? std::string("index tree damaged") : m_cache.error();
    return CdxStatus::Corrupt;
}

CdxStatus CdxIndex::checkChange(uint32_t recno, std::span<const uint8_t> before,
                                std::span<const uint8_t> after) {
    std::string oldKey, newKey;
    for (auto& t : m_tags) {
        if (!t->m_writable) {
            m_error = "tag " + t->m_name + " cannot be kept up to date (collation " +
                      t->m_header.collation + ")";
            return CdxStatus::ReadOnlyTag;
        }
        if (t->m_uniqueness != TagUniqueness::kRefuse || after.empty()) continue;
        if (!t->keyInputsDiffer(before, after)) continue;
        if (!t->keyFor(RecordView{after, recno}, newKey)) continue;
        if (!before.empty() && t->keyFor(RecordView{before, recno}, oldKey) && oldKey == newKey)
            continue;
        bool found;
        uint32_t holder = 0;
        const TreeResult r =
            t->m_tree->findKey(reinterpret_cast<const uint8_t*>(newKey.data()), found, &holder);
        if (r != TreeResult::Ok) return fromTree(r);
        if (found && holder != recno) {
            m_error = "tag " + t->m_name + " holds that key for record " + std::to_string(holder);
            return CdxStatus::UniqueViolation;
        }
    }
    return CdxStatus::Ok;
}

CdxStatus CdxIndex::applyChange(uint32_t recno, std::span<const uint8_t> before,
                                std::span<const uint8_t> after) {
    // A change no tag reads (a checksum stamped, a memo rewritten) leaves
    // every tag, its cache and the cursors on it as they are; only a tag
    // that cannot be kept up to date still refuses it.
    if (!tagInputsDiffer(before, after)) {
        for (const auto& t : m_tags) {
            if (!t->m_writable) return checkChange(recno, before, after);
        }
        return CdxStatus::Ok;
    }
    CdxStatus s = checkChange(recno, before, after);
    if (s != CdxStatus::Ok) return s;
    m_cache.trim();
    ++m_generation;
    const bool deferred = before.empty() && m_deferAppends;
    if (deferred) {
        // Full batches move on first, so that a failed write leaves this
        // record out of every tag.
        for (auto& t : m_tags) {
            if (t->m_uniqueness != TagUniqueness::kNone) continue;
            s = makeRoom(*t);
            if (s != CdxStatus::Ok) return s;
        }
    }
    std::string oldKey, newKey;
    for (auto& t : m_tags) {
        if (deferred && t->m_uniqueness == TagUniqueness::kNone) {
            if (t->keyFor(RecordView{after, recno}, newKey)) deferAppend(*t, recno, newKey);
            continue;
        }
        if (!t->keyInputsDiffer(before, after)) continue;
        s = mergePending(*t);
        if (s != CdxStatus::Ok) return s;
        const bool oldIn = !before.empty() && t->keyFor(RecordView{before, recno}, oldKey);
        const bool newIn = !after.empty() && t->keyFor(RecordView{after, recno}, newKey);
        if (oldIn == newIn && (!oldIn || oldKey == newKey)) continue;
        TagTree& tree = *t->m_tree;
        if (oldIn) {
            // A missing entry (a unique tag's duplicate) is already as it should be.
            const TreeResult r =
                tree.remove(reinterpret_cast<const uint8_t*>(oldKey.data()), recno);
            if (r == TreeResult::Corrupt) return fromTree(r);
        }
        if (newIn) {
            const auto* k = reinterpret_cast<const uint8_t*>(newKey.data());
            if (t->m_uniqueness == TagUniqueness::kContinue) {
                bool found;
                const TreeResult r = tree.findKey(k, found);
                if (r != TreeResult::Ok) return fromTree(r);
                if (found) continue;
            }
            const TreeResult r = tree.insert(k, recno);
            if (r == TreeResult::Corrupt) return fromTree(r);
        }
    }
    return CdxStatus::Ok;
}

CdxStatus CdxIndex::writeHeader(uint32_t offset, const TagHeader& header) {
    uint8_t bytes[kHeaderSize];
    encodeTagHeader(header, bytes);
    if (!m_store->write(offset, bytes, kHeaderSize)) {
        m_error = "cannot write the header at " + std::to_string(offset);
        return CdxStatus::Io;
    }
    return CdxStatus::Ok;
}

CdxStatus CdxIndex::flush() {
    const CdxStatus merged = mergeAllPending();
    if (merged != CdxStatus::Ok) return merged;
    bool headers = m_dirHeaderDirty;
    for (auto& t : m_tags) headers = headers || t->m_headerDirty;
    if (!m_cache.anyDirty() && !headers) return lostAppends();
    // Headers first, so that the file is never shorter than the pages written.
    for (auto& t : m_tags) {
        if (!t->m_headerDirty) continue;
        const CdxStatus s = writeHeader(t->m_headerOffset, t->m_header);
        if (s != CdxStatus::Ok) return s;
        t->m_headerDirty = false;
    }
    if (!m_cache.flush()) {
        m_error = m_cache.error();
        return CdxStatus::Io;
    }
    ++m_dirHeader.counter;
    const CdxStatus s = writeHeader(0, m_dirHeader);
    if (s != CdxStatus::Ok) return s;
    m_dirHeaderDirty = false;
    if (!m_store->flush()) {
        m_error = "cannot flush the index file";
        return CdxStatus::Io;
    }
    return lostAppends();
}

CdxStatus CdxIndex::lostAppends() {
    for (auto& t : m_tags)
        if (t->m_lostAppends) {
            m_error = "tag " + t->m_name + " lacks appended entries since a failed merge; the " +
                      "index needs a rebuild";
            return CdxStatus::Corrupt;
        }
    return CdxStatus::Ok;
}

CdxStatus CdxIndex::refresh() {
    uint8_t bytes[12];
    if (!m_store->read(0, bytes, sizeof bytes)) {
        m_error = "cannot read the directory header";
        return CdxStatus::Io;
    }
    const uint32_t counter = platform::loadBE32(bytes + 8);
    const uint64_t size = m_store->size();
    auto pages = [](uint64_t bytes) { return (bytes + kPageSize - 1) / kPageSize; };
    // Changed pages not yet written mean a use without a flush at each
    // unlock (deny-write): nobody else writes, and new pages past the end
    // of the file are ours.
    if (counter == m_dirHeader.counter &&
        (m_cache.anyDirty() || pages(size) == pages(m_cache.endOfFile())))
        return CdxStatus::Ok;
    // Another process changed the file: re-read headers, forget cached pages.
    m_cache.clear();
    ++m_generation;
    uint8_t header[kHeaderSize];
    std::string why;
    if (!m_store->read(0, header, kHeaderSize) ||
        !decodeTagHeader(platform::ByteView(header, kHeaderSize), m_dirHeader, &why)) {
        m_error = "directory header: " + why;
        return CdxStatus::Corrupt;
    }
    m_dirHeaderDirty = false;
    for (auto& t : m_tags) {
        if (!m_store->read(t->m_headerOffset, header, kHeaderSize) ||
            !decodeTagHeader(platform::ByteView(header, kHeaderSize), t->m_header, &why)) {
            m_error = "tag " + t->m_name + " header: " + why;
            return CdxStatus::Corrupt;
        }
        t->m_headerDirty = false;
    }
    return CdxStatus::Ok;
}

// ---------------------------------------------------------------------------
// Walking and seeking.

CdxStatus CdxIndex::readEntry(CdxTag& tag, CdxCursor& cursor) {
    cursor.generation = m_generation;
    if (cursor.pos.atEnd()) {
        cursor.valid = false;
        return CdxStatus::Ok;
    }
    const TreeResult r = tag.m_tree->entry(cursor.pos, cursor.key, cursor.record);
    cursor.valid = r == TreeResult::Ok;
    return fromTree(r);
}

CdxStatus CdxIndex::first(CdxTag& tag, CdxCursor& cursor) {
    m_cache.trim();
    if (const CdxStatus s = mergePending(tag); s != CdxStatus::Ok) return s;
    const TreeResult r =
        tag.descending() ? tag.m_tree->last(cursor.pos) : tag.m_tree->first(cursor.pos);
    if (r != TreeResult::Ok) return fromTree(r);
    return readEntry(tag, cursor);
}

CdxStatus CdxIndex::last(CdxTag& tag, CdxCursor& cursor) {
    m_cache.trim();
    if (const CdxStatus s = mergePending(tag); s != CdxStatus::Ok) return s;
    const TreeResult r =
        tag.descending() ? tag.m_tree->first(cursor.pos) : tag.m_tree->last(cursor.pos);
    if (r != TreeResult::Ok) return fromTree(r);
    return readEntry(tag, cursor);
}

CdxStatus CdxIndex::treeNext(CdxTag& tag, CdxCursor& cursor, bool forward) {
    if (!cursor.valid) return CdxStatus::Ok;
    m_cache.trim();
    if (const CdxStatus s = mergePending(tag); s != CdxStatus::Ok) return s;
    TagTree& tree = *tag.m_tree;
    TreeResult r;
    if (cursor.generation != m_generation) {
        // The tree changed since: find the neighbour from the entry's value.
        const auto* k = reinterpret_cast<const uint8_t*>(cursor.key.data());
        const size_t n = std::min<size_t>(cursor.key.size(), tag.keyLength());
        if (forward) {
            r = tree.seek(k, n, cursor.record, true, cursor.pos);
        } else {
            r = tree.seek(k, n, cursor.record, false, cursor.pos);
            if (r == TreeResult::Ok)
                r = cursor.pos.atEnd() ? tree.last(cursor.pos) : tree.prev(cursor.pos);
        }
    } else {
        r = forward ? tree.next(cursor.pos) : tree.prev(cursor.pos);
    }
    if (r != TreeResult::Ok) return fromTree(r);
    return readEntry(tag, cursor);
}

CdxStatus CdxIndex::next(CdxTag& tag, CdxCursor& cursor) {
    return treeNext(tag, cursor, !tag.descending());
}

CdxStatus CdxIndex::prev(CdxTag& tag, CdxCursor& cursor) {
    return treeNext(tag, cursor, tag.descending());
}

CdxStatus CdxIndex::seek(CdxTag& tag, std::string_view search, CdxCursor& cursor, bool& found) {
    m_cache.trim();
    if (const CdxStatus s = mergePending(tag); s != CdxStatus::Ok) return s;
    found = false;
    const size_t n = std::min<size_t>(search.size(), tag.keyLength());
    const auto* k = reinterpret_cast<const uint8_t*>(search.data());
    TagTree& tree = *tag.m_tree;
    TreeResult r;
    if (!tag.descending()) {
        r = tree.seek(k, n, 0, false, cursor.pos);
    } else {
        r = tree.seek(k, n, 0xFFFFFFFFu, true, cursor.pos);
        if (r == TreeResult::Ok)
            r = cursor.pos.atEnd() ? tree.last(cursor.pos) : tree.prev(cursor.pos);
    }
    if (r != TreeResult::Ok) return fromTree(r);
    const CdxStatus s = readEntry(tag, cursor);
    found =
        s == CdxStatus::Ok && cursor.valid && cursor.key.compare(0, n, search.substr(0, n)) == 0;
    return s;
}

CdxStatus CdxIndex::locate(CdxTag& tag, std::string_view key, uint32_t recno, CdxCursor& cursor) {
    m_cache.trim();
    if (const CdxStatus s = mergePending(tag); s != CdxStatus::Ok) return s;
    std::string full(key.substr(0, std::min<size_t>(key.size(), tag.keyLength())));
    full.resize(tag.keyLength(), char(padByte(tag.keyType())));
    const auto* k = reinterpret_cast<const uint8_t*>(full.data());
    TagTree& tree = *tag.m_tree;
    TreeResult r;
    if (!tag.descending()) {
        r = tree.seek(k, full.size(), recno, false, cursor.pos);
    } else {
        r = tree.seek(k, full.size(), recno, true, cursor.pos);
        if (r == TreeResult::Ok)
            r = cursor.pos.atEnd() ? tree.last(cursor.pos) : tree.prev(cursor.pos);
    }
    if (r != TreeResult::Ok) return fromTree(r);
    return readEntry(tag, cursor);
}

}  // namespace tavrel::kes04::cdx
