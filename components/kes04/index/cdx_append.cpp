// Deferred appends (exclusive use): each tag's batch of appended entries in
// memory, sorted runs written to the file when a batch fills, and the merge
// of the runs into the tag's tree.
//
// A spilled run is a batch in key order, packed into leaves as a tree's
// leaves are, on consecutive pages at the end of the file. Invariant: no tree
// and no other run reaches those pages. The merge reads all runs of a tag and
// its last batch side by side, a few pages of each at a time, and hands the
// entries on in key order: to a packed build when the tree is empty, else to
// the tree's inserts, which then meet the pages in order as one batch of the
// whole run would. A page of a run is spare as soon as it is read, and new
// tree pages take spare pages first, so the file ends little larger than the
// tree (pages left over stay unused, as pages of removed leaves do).

#include <algorithm>
#include <cstring>

#include "components/kes04/index/cdx_index.h"
#include "components/kes04/index/key_encoding.h"
#include "components/kes04/index/packed_tree.h"

namespace tavrel::kes04::cdx {

namespace {

constexpr uint32_t kLargestEnd = 0xFFFFFE00u;         // offsets are 32 bits
constexpr uint32_t kWritePages = 128;                 // pages gathered into one write
constexpr uint32_t kReadPages = 8;                    // pages of a run read at a time
constexpr size_t kLargestReserve = size_t(64) << 20;  // batches above grow as they fill
constexpr size_t kTrimEvery = 1024;                   // inserts of a merge between cache trims
// Pages a merge into a tree with entries keeps decoded: its inserts go
// through the tree in key order and seldom come back to a page.
constexpr size_t kMergeCachePages = 4096;

// Encodes nodes and writes them, neighbours gathered into one write.
class PageWriter {
  public:
    PageWriter(PageStore& store, uint32_t keyLength, uint8_t pad, std::string& error)
        : m_store(store), m_keyLength(keyLength), m_pad(pad), m_error(error) {}

    bool put(uint32_t offset, const Node& node) {
        const bool follows = offset == m_start + m_bytes.size();
        if (!m_bytes.empty() && (!follows || m_bytes.size() >= kWritePages * kPageSize) && !flush())
            return false;
        if (m_bytes.empty()) m_start = offset;
        m_bytes.resize(m_bytes.size() + kPageSize);
        if (!encodeNode(node, m_keyLength, m_pad, m_bytes.data() + m_bytes.size() - kPageSize)) {
            m_error = "node for page " + std::to_string(offset) + " does not fit a page";
            return false;
        }
        return true;
    }
    bool flush() {
        if (m_bytes.empty()) return true;
        const bool ok = m_store.write(m_start, m_bytes.data(), m_bytes.size());
        if (!ok) m_error = "cannot write pages at " + std::to_string(m_start);
        m_bytes.clear();
        return ok;
    }

  private:
    PageStore& m_store;
    uint32_t m_keyLength;
    uint8_t m_pad;
    std::string& m_error;
    uint32_t m_start = 0;
    std::vector<uint8_t> m_bytes;
};

// A new page at the end of the file; kNoPage when offsets would overflow.
uint32_t pageAtEnd(NodeCache& cache, std::string& error) {
    if (cache.endOfFile() + kPageSize > kLargestEnd) {
        error = "index file too large";
        return kNoPage;
    }
    return cache.allocate(kPageSize);
}

// Pages for a tree built by the merge.
class MergeSink final : public PageSink {
  public:
    MergeSink(NodeCache& cache, PageWriter& writer, std::string& error)
        : m_cache(cache), m_writer(writer), m_error(error) {}

    uint32_t allocate() override {
        const uint32_t offset = m_cache.newPage();
        if (offset == kNoPage) m_error = m_cache.error();
        return offset;
    }
    bool put(uint32_t offset, const Node& node) override { return m_writer.put(offset, node); }

  private:
    NodeCache& m_cache;
    PageWriter& m_writer;
    std::string& m_error;
};

// One input of the merge: a spilled run read from the file, or the batch in
// memory in sorted order. `key` and `record` are its current entry.
struct MergeInput {
    const uint8_t* key = nullptr;
    uint32_t record = 0;
    // A run: the pages not read yet and the ones read; `page` is the offset
    // of the current entry's page.
    PageRange unread;
    uint32_t page = 0;
    std::vector<uint8_t> chunk;
    uint32_t chunkPages = 0, chunkNext = 0;
    Node node;
    size_t index = 0;
    // The batch.
    const std::vector<uint8_t>* keys = nullptr;
    const std::vector<uint32_t>* records = nullptr;
    const std::vector<uint32_t>* order = nullptr;
};

class RunMerge {
  public:
    RunMerge(NodeCache& cache, uint32_t keyLength, uint8_t pad, std::string& error)
        : m_cache(cache), m_keyLength(keyLength), m_pad(pad), m_error(error) {}

    // Hands every entry of `inputs` to `take(key, record)` in (key, record)
    // order; stops with `take`'s status when that is not Ok.
    template <class Take>
    CdxStatus run(std::vector<MergeInput>& inputs, const Take& take) {
        std::vector<uint32_t> heap;
        for (uint32_t i = 0; i < inputs.size(); ++i) {
            bool more = false;
            const CdxStatus s = advance(inputs[i], true, more);
            if (s != CdxStatus::Ok) return s;
            if (more) heap.push_back(i);
        }
        auto less = [&](uint32_t a, uint32_t b) {
            const int c = std::memcmp(inputs[a].key, inputs[b].key, m_keyLength);
            return c != 0 ? c < 0 : inputs[a].record < inputs[b].record;
        };
        for (size_t i = heap.size() / 2; i-- > 0;) siftDown(heap, i, less);
        // Each entry must follow the one before: a damaged run shows here.
        uint8_t lastKey[kMaxKeyLength];
        uint32_t lastRecord = 0;
        bool any = false;
        while (!heap.empty()) {
            MergeInput& top = inputs[heap[0]];
            if (any) {
                const int c = std::memcmp(top.key, lastKey, m_keyLength);
                if (c < 0 || (c == 0 && top.record <= lastRecord)) {
                    m_error = "appended entries at " + std::to_string(top.page) + " out of order";
                    return CdxStatus::Corrupt;
                }
            }
            std::memcpy(lastKey, top.key, m_keyLength);
            lastRecord = top.record;
            any = true;
            CdxStatus s = take(top.key, top.record);
            if (s != CdxStatus::Ok) return s;
            bool more = false;
            s = advance(top, false, more);
            if (s != CdxStatus::Ok) return s;
            if (!more) {
                heap[0] = heap.back();
                heap.pop_back();
            }
            if (!heap.empty()) siftDown(heap, 0, less);
        }
        return CdxStatus::Ok;
    }

  private:
    template <class Less>
    static void siftDown(std::vector<uint32_t>& heap, size_t i, const Less& less) {
        const uint32_t v = heap[i];
        for (;;) {
            size_t c = 2 * i + 1;
            if (c >= heap.size()) break;
            if (c + 1 < heap.size() && less(heap[c + 1], heap[c])) ++c;
            if (!less(heap[c], v)) break;
            heap[i] = heap[c];
            i = c;
        }
        heap[i] = v;
    }

    CdxStatus advance(MergeInput& in, bool first, bool& more) {
        const uint32_t kl = m_keyLength;
        if (in.order) {
            if (!first) ++in.index;
            more = in.index < in.order->size();
            if (more) {
                const uint32_t at = (*in.order)[in.index];
                in.key = in.keys->data() + size_t(at) * kl;
                in.record = (*in.records)[at];
            }
            return CdxStatus::Ok;
        }
        if (!first && ++in.index < in.node.count()) {
            in.key = in.node.key(in.index, kl);
            in.record = in.node.records[in.index];
            more = true;
            return CdxStatus::Ok;
        }
        if (in.chunkNext == in.chunkPages) {
            more = in.unread.pages > 0;
            if (!more) return CdxStatus::Ok;
            const uint32_t n = std::min(kReadPages, in.unread.pages);
            in.chunk.resize(size_t(n) * kPageSize);
            if (!m_cache.store().read(in.unread.offset, in.chunk.data(), in.chunk.size())) {
                m_error = "cannot read the appended entries at " + std::to_string(in.unread.offset);
                return CdxStatus::Io;
            }
            // Read means free: new tree pages may take these now.
            m_cache.addSpare(in.unread.offset, n);
            in.unread.offset += n * kPageSize;
            in.unread.pages -= n;
            in.chunkPages = n;
            in.chunkNext = 0;
        }
        in.page = in.unread.offset - (in.chunkPages - in.chunkNext) * kPageSize;
        std::string why;
        if (!decodeNode(in.chunk.data() + size_t(in.chunkNext) * kPageSize, kl, m_pad, in.node,
                        &why) ||
            !in.node.leaf || in.node.count() == 0) {
            m_error = "appended entries at " + std::to_string(in.page) + ": " +
                      (why.empty() ? std::string("not a filled leaf") : why);
            return CdxStatus::Corrupt;
        }
        ++in.chunkNext;
        in.index = 0;
        in.key = in.node.key(0, kl);
        in.record = in.node.records[0];
        more = true;
        return CdxStatus::Ok;
    }

    NodeCache& m_cache;
    uint32_t m_keyLength;
    uint8_t m_pad;
    std::string& m_error;
};

}  // namespace

void CdxIndex::deferAppend(CdxTag& tag, uint32_t recno, const std::string& key) {
    if (tag.m_pendingRecords.capacity() == 0 && m_batchBytes <= kLargestReserve) {
        // Room for a whole batch at once: growth by doubling would overshoot it.
        const size_t entries = m_batchBytes / (tag.keyLength() + sizeof(uint32_t));
        tag.m_pendingKeys.reserve(entries * tag.keyLength());
        tag.m_pendingRecords.reserve(entries);
    }
    tag.m_pendingKeys.insert(tag.m_pendingKeys.end(), key.begin(), key.end());
    tag.m_pendingRecords.push_back(recno);
    tag.m_pendingMaxRecord = std::max(tag.m_pendingMaxRecord, recno);
}

CdxStatus CdxIndex::makeRoom(CdxTag& tag) {
    if (tag.pendingBytes() + tag.keyLength() + sizeof(uint32_t) <= m_batchBytes)
        return CdxStatus::Ok;
    return spillBatch(tag);
}

CdxStatus CdxIndex::spillBatch(CdxTag& tag) {
    const uint32_t kl = tag.keyLength();
    const uint8_t pad = padByte(tag.keyType());
    const std::vector<uint32_t> order = sortedOrder(
        tag.m_pendingKeys.data(), tag.m_pendingRecords.data(), tag.m_pendingRecords.size(), kl);
    LeafPacker packer(kl, pad, tag.m_pendingMaxRecord);
    PageWriter writer(*m_store, kl, pad, m_error);
    PageRange run;
    // Nothing else takes pages meanwhile, so the run's pages follow each other.
    auto putLeaf = [&](Node& leaf) {
        const uint32_t offset = pageAtEnd(m_cache, m_error);
        if (offset == kNoPage) return false;
        if (run.pages++ == 0) run.offset = offset;
        leaf.leaf = true;
        leaf.root = false;
        leaf.left = leaf.right = kNoPage;
        return writer.put(offset, leaf);
    };
    Node full;
    for (const uint32_t idx : order)
        if (packer.add(tag.m_pendingKeys.data() + size_t(idx) * kl, tag.m_pendingRecords[idx],
                       full) &&
            !putLeaf(full))
            return CdxStatus::Io;
    // On a failure the batch stays; the pages written are left unused.
    if (!putLeaf(packer.leaf()) || !writer.flush()) return CdxStatus::Io;
    tag.m_runs.push_back(run);
    tag.m_pendingKeys.clear();
    tag.m_pendingRecords.clear();
    return CdxStatus::Ok;
}

CdxStatus CdxIndex::mergeRuns(CdxTag& tag) {
    ++m_generation;
    const uint32_t kl = tag.keyLength();
    const uint8_t pad = padByte(tag.keyType());
    TreePos pos;
    const TreeResult first = tag.m_tree->first(pos);
    if (first != TreeResult::Ok) return fromTree(first);
    const std::vector<uint32_t> order = sortedOrder(
        tag.m_pendingKeys.data(), tag.m_pendingRecords.data(), tag.m_pendingRecords.size(), kl);
    std::vector<MergeInput> inputs(tag.m_runs.size() + 1);
    for (size_t i = 0; i < tag.m_runs.size(); ++i) inputs[i].unread = tag.m_runs[i];
    MergeInput& batch = inputs.back();
    batch.keys = &tag.m_pendingKeys;
    batch.records = &tag.m_pendingRecords;
    batch.order = &order;

    RunMerge merge(m_cache, kl, pad, m_error);
    CdxStatus s;
    uint32_t root = kNoPage;
    if (pos.atEnd()) {
        PageWriter writer(*m_store, kl, pad, m_error);
        MergeSink sink(m_cache, writer, m_error);
        PackedTreeBuilder builder(sink, kl, pad, tag.m_pendingMaxRecord);
        s = merge.run(inputs, [&](const uint8_t* key, uint32_t record) {
            return builder.add(key, record) ? CdxStatus::Ok : CdxStatus::Io;
        });
        if (s == CdxStatus::Ok) root = builder.finish();
        if (s == CdxStatus::Ok && (root == kNoPage || !writer.flush())) s = CdxStatus::Io;
    } else {
        TagTree& tree = *tag.m_tree;
        size_t count = 0;
        s = merge.run(inputs, [&](const uint8_t* key, uint32_t record) {
            // No node is held between inserts, so the cache may shed pages here.
            if (++count % kTrimEvery == 0) m_cache.trim(kMergeCachePages);
            const TreeResult r = tree.insert(key, record);
            return r == TreeResult::Corrupt ? fromTree(r) : CdxStatus::Ok;
        });
    }
    // Either way the runs are gone: their pages may hold new tree pages.
    tag.m_runs.clear();
    tag.m_pendingKeys.clear();
    tag.m_pendingRecords.clear();
    tag.m_pendingMaxRecord = 0;
    if (s != CdxStatus::Ok) {
        tag.m_lostAppends = true;
        m_error = "tag " + tag.m_name + " lost appended entries (" + m_error +
                  "); the index needs a rebuild";
        return s;
    }
    if (root != kNoPage) {
        tag.m_header.root = root;
        tag.m_headerDirty = true;
    }
    return CdxStatus::Ok;
}

}  // namespace tavrel::kes04::cdx
