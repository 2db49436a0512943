// A FoxPro compound index file (.CDX): the tag directory and its tags, kept
// up to date with a table's records, with seeks and ordered walks.
//
// Lifetime: the index owns its page store. Tag pointers stay valid as long as
// the index lives. Changes are cached and reach the store on `flush()`, or
// before when the node cache or a batch of appends outgrows its limit.
// For shared use the caller holds the file's lock around
// `refresh()` ... `applyChange()` ... `flush()`.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "components/kes04/index/cdx_page.h"
#include "components/kes04/index/expression.h"
#include "components/kes04/index/page_store.h"
#include "components/kes04/index/tag_tree.h"

namespace tavrel::kes04::cdx {

enum class CdxStatus : int {
    Ok = 0,
    Corrupt = 1,          // the file breaks the format's rules; the message says where
    Io = 2,               // a read or write of the file failed
    BadExpression = 3,    // a key or filter that cannot be parsed or does not fit the table
    BadTagName = 4,       // empty, too long, or not letters, digits and '_'
    DuplicateTag = 5,     // a tag of that name exists already
    KeyTooLong = 6,       // key above 240 bytes, or expressions too long for the header
    UniqueViolation = 7,  // a uniqueness-20 tag would get a second record with one key
    ReadOnlyTag = 8,      // a tag we cannot keep right (other collation, nullable keys)
};

class CdxTag {
  public:
    const std::string& name() const { return m_name; }
    const std::string& keyExpression() const { return m_header.keyExpr; }
    const std::string& forExpression() const { return m_header.forExpr; }
    TagUniqueness uniqueness() const { return m_uniqueness; }
    bool descending() const { return m_header.descending; }
    uint32_t keyLength() const { return m_header.keyLength; }
    ValueType keyType() const { return m_type; }
    uint32_t headerOffset() const { return m_headerOffset; }
    // False for tags the engine can read but not maintain (see ReadOnlyTag).
    bool writable() const { return m_writable; }

    // The record's key in `key`; false when the filter leaves the record out.
    bool keyFor(const RecordView& record, std::string& key) const;
    // Whether a change from `before` to `after` can change the record's key
    // or its place in the filter; false lets a write skip the tag.
    bool keyInputsDiffer(std::span<const uint8_t> before, std::span<const uint8_t> after) const;
    // The record's key whether or not the filter keeps it.
    void keyIgnoringFilter(const RecordView& record, std::string& key) const;

    // Deferred appends (see CdxIndex::setDeferAppends): bytes of keys and
    // record numbers held in memory for this tag, which stay at or below the
    // index's batch size, and the sorted runs of earlier batches that wait in
    // the file for the merge.
    size_t pendingBytes() const {
        return m_pendingKeys.size() + m_pendingRecords.size() * sizeof(uint32_t);
    }
    size_t spilledRuns() const { return m_runs.size(); }

  private:
    friend class CdxIndex;
    std::string m_name;
    uint32_t m_headerOffset = 0;
    TagHeader m_header;
    bool m_headerDirty = false;
    std::unique_ptr<Expression> m_key;
    std::unique_ptr<Expression> m_filter;
    ValueType m_type = ValueType::Character;
    TagUniqueness m_uniqueness = TagUniqueness::kNone;
    bool m_writable = true;
    std::unique_ptr<TagTree> m_tree;
    // Appended entries not yet in the tree (see CdxIndex::setDeferAppends).
    std::vector<uint8_t> m_pendingKeys;
    std::vector<uint32_t> m_pendingRecords;
    // Earlier batches, each sorted and written as packed leaves on
    // consecutive pages that no tree reaches.
    std::vector<PageRange> m_runs;
    uint32_t m_pendingMaxRecord = 0;  // over the batch and the runs
    // Set when a merge of runs failed halfway: the tree lacks entries until a
    // rebuild, and every flush says so.
    bool m_lostAppends = false;
};

// A place in a tag: the entry (key, record) and, while the index has not
// changed since, where it lies. `valid` false means before the first or past
// the last entry.
struct CdxCursor {
    bool valid = false;
    std::string key;
    uint32_t record = 0;
    TreePos pos;
    uint64_t generation = 0;
};

// All records of the table in record-number order, for a rebuild or a check.
class RecordSource {
  public:
    virtual ~RecordSource() = default;
    virtual uint32_t recordCount() = 0;
    // Calls `visit` for records 1..recordCount() in order; stops early when it
    // returns false. False when a record cannot be read.
    virtual bool forEach(const std::function<bool(const RecordView&)>& visit) = 0;
};

class CdxIndex {
  public:
    // A new, empty index (directory only) in `store`, replacing its content.
    static std::unique_ptr<CdxIndex> create(std::unique_ptr<PageStore> store,
                                            const RecordLayout& layout, CdxStatus* status);
    // Opens the index in `store`: reads the directory and every tag header
    // and parses their expressions against `layout`. Null with `*status` and
    // `*message` set when the file is damaged or a tag does not fit the table.
    static std::unique_ptr<CdxIndex> open(std::unique_ptr<PageStore> store,
                                          const RecordLayout& layout, CdxStatus* status,
                                          std::string* message = nullptr);
    ~CdxIndex();

    // Checks a tag description against the table without changing anything.
    static CdxStatus validateSpec(const TagSpec& def, const RecordLayout& layout,
                                  std::string* message = nullptr);
    // Adds an empty tag. The caller fills it (`reindex`) when the table has
    // records already.
    CdxStatus addTag(const TagSpec& def, std::string* message = nullptr);

    size_t tagCount() const { return m_tags.size(); }
    // Tags in creation order (header offset order).
    CdxTag& tag(size_t i) { return *m_tags[i]; }
    // The tag named `name` (case-insensitive), or null.
    CdxTag* findTag(std::string_view name);

    // Checks that changing record `recno` from `before` (empty for an append)
    // to `after` breaks no uniqueness-20 tag. Changes nothing.
    CdxStatus checkChange(uint32_t recno, std::span<const uint8_t> before,
                          std::span<const uint8_t> after);
    // Checks, then updates every tag for the change.
    CdxStatus applyChange(uint32_t recno, std::span<const uint8_t> before,
                          std::span<const uint8_t> after);

    // With `defer` (exclusive use only) appends to tags without uniqueness
    // collect their entries and merge them in key order at the next flush or
    // the next use of the tag: far fewer page visits for long append runs.
    // A tag's batch holds at most the batch size in memory: a full batch is
    // sorted and written to the end of the file as a run, and the runs and
    // the last batch are merged in one pass at the next flush or use, into a
    // packed tree when the tag's tree is empty, else entry by entry in key
    // order (details in cdx_append.cpp).
    void setDeferAppends(bool defer) { m_deferAppends = defer; }
    static constexpr size_t kAppendBatchBytes = size_t(1) << 20;
    // Sets the batch size per tag, kept between 1 KB and 1 GB; for tests.
    void setAppendBatchBytes(size_t bytes) {
        m_batchBytes = std::clamp<size_t>(bytes, 1024, size_t(1) << 30);
    }

    // Writes cached changes (and bumps the change counter when anything was
    // written). Corrupt, once the rest is written, while a tag lacks entries
    // that a failed merge of appended entries lost; a rebuild ends that.
    CdxStatus flush();
    // Drops cached pages when another process changed the file since we last
    // looked (change counter or size differ). Unflushed changes are lost.
    CdxStatus refresh();
    // Rebuilds the whole file from the records: each tag's keys sorted in
    // memory and written as full leaves, the file compacted.
    CdxStatus reindex(RecordSource& records);

    // Walking a tag in its order (descending tags from their largest key).
    // A result of Ok with `cursor.valid` false means there is no such entry.
    CdxStatus first(CdxTag& tag, CdxCursor& cursor);
    CdxStatus last(CdxTag& tag, CdxCursor& cursor);
    CdxStatus next(CdxTag& tag, CdxCursor& cursor);
    CdxStatus prev(CdxTag& tag, CdxCursor& cursor);
    // Positions on the first entry (in the tag's order) whose key starts with
    // `search` (`found` true), else on the entry that would follow it.
    // Character tags match prefixes; other types compare whole keys.
    CdxStatus seek(CdxTag& tag, std::string_view search, CdxCursor& cursor, bool& found);
    // Positions on the entry (key, recno), or on the one that would follow it.
    CdxStatus locate(CdxTag& tag, std::string_view key, uint32_t recno, CdxCursor& cursor);

    // Structural check of every tree (pages, order, parent keys, siblings,
    // free-space fields). Appends one line per fault; Ok when none.
    CdxStatus check(std::vector<std::string>& problems);
    // Checks every tag against the records: every key present once, in
    // order, filters and uniqueness honoured.
    CdxStatus checkData(RecordSource& records, std::vector<std::string>& problems);

    // Text of the last Corrupt or Io result.
    const std::string& lastError() const { return m_error; }
    uint64_t generation() const { return m_generation; }
    PageStore& store() { return *m_store; }

  private:
    CdxIndex(std::unique_ptr<PageStore> store, const RecordLayout& layout);
    CdxStatus load(std::string* message);
    CdxStatus loadTag(const std::string& name, uint32_t headerOffset, std::unique_ptr<CdxTag>& out,
                      std::string* message);
    CdxStatus writeHeader(uint32_t offset, const TagHeader& header);
    CdxStatus fromTree(TreeResult r);
    void collectTagReads();
    bool tagInputsDiffer(std::span<const uint8_t> before, std::span<const uint8_t> after) const;
    void deferAppend(CdxTag& tag, uint32_t recno, const std::string& key);
    CdxStatus makeRoom(CdxTag& tag);
    CdxStatus spillBatch(CdxTag& tag);
    CdxStatus mergeRuns(CdxTag& tag);
    CdxStatus mergePending(CdxTag& tag);
    CdxStatus mergeAllPending();
    CdxStatus lostAppends();
    CdxStatus readEntry(CdxTag& tag, CdxCursor& cursor);
    bool revalidate(CdxTag& tag, CdxCursor& cursor, bool forward, CdxStatus& status);
    CdxStatus treeNext(CdxTag& tag, CdxCursor& cursor, bool forward);
    CdxStatus checkTree(const std::string& name, TagTree& tree, uint32_t root, bool unique,
                        std::unordered_set<uint32_t>& seen, std::vector<std::string>& problems);

    std::unique_ptr<PageStore> m_store;
    RecordLayout m_layout;
    NodeCache m_cache;
    TagHeader m_dirHeader;
    bool m_dirHeaderDirty = false;
    std::unique_ptr<TagTree> m_dirTree;
    std::vector<std::unique_ptr<CdxTag>> m_tags;
    // The record bytes any tag's key or filter reads, merged, in order.
    std::vector<std::pair<uint32_t, uint32_t>> m_tagReads;
    uint64_t m_generation = 1;
    bool m_deferAppends = false;
    size_t m_batchBytes = kAppendBatchBytes;
    std::string m_error;
};

}  // namespace tavrel::kes04::cdx
