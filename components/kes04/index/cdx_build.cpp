// Rebuilding an index file from the records: keys sorted in memory, leaves
// packed full, interior levels built bottom-up, the whole file written anew.

#include <algorithm>
#include <cstring>

#include "components/kes04/index/cdx_index.h"
#include "components/kes04/index/key_encoding.h"
#include "components/kes04/index/packed_tree.h"

namespace tavrel::kes04::cdx {

namespace {

struct TagKeys {
    uint32_t keyLength = 0;
    std::vector<uint8_t> keys;  // keyLength bytes per entry
    std::vector<uint32_t> records;
};

std::vector<uint32_t> sortedOrder(const TagKeys& t) {
    return cdx::sortedOrder(t.keys.data(), t.records.data(), t.records.size(), t.keyLength);
}

// Builds a tree bottom-up, either as file bytes appended to `out` or as new
// pages of a node cache.
class TreeWriter {
  public:
    TreeWriter(std::vector<uint8_t>& out, uint32_t keyLength, uint8_t pad)
        : m_out(&out), m_kl(keyLength), m_pad(pad) {}
    TreeWriter(NodeCache& cache, uint32_t keyLength, uint8_t pad)
        : m_cache(&cache), m_kl(keyLength), m_pad(pad) {}

    // Writes the tree of the entries in `order`; returns the root offset, or
    // kNoPage when the cache could not take a new page.
    uint32_t write(const TagKeys& t, const std::vector<uint32_t>& order) {
        std::vector<Node> level = packLeaves(t, order);
        bool leaves = true;
        for (;;) {
            const size_t count = level.size();
            std::vector<uint32_t> offsets(count);
            std::vector<Node*> targets(count, nullptr);
            if (m_out) {
                const uint32_t base = uint32_t(m_out->size());
                m_out->resize(m_out->size() + count * kPageSize);
                for (size_t i = 0; i < count; ++i) offsets[i] = uint32_t(base + i * kPageSize);
            } else {
                for (size_t i = 0; i < count; ++i) {
                    targets[i] = m_cache->create(m_kl, m_pad, &offsets[i]);
                    if (!targets[i]) return kNoPage;
                }
            }
            for (size_t i = 0; i < count; ++i) {
                Node& nd = level[i];
                nd.leaf = leaves;
                nd.root = count == 1;
                nd.left = i == 0 ? kNoPage : offsets[i - 1];
                nd.right = i + 1 == count ? kNoPage : offsets[i + 1];
            }
            // Parents: children spread evenly over as few interior nodes as fit.
            std::vector<Node> parents;
            if (count > 1) {
                const size_t cap = interiorCapacity(m_kl);
                const size_t groups = (count + cap - 1) / cap;
                size_t child = 0;
                for (size_t g = 0; g < groups; ++g) {
                    const size_t take = count / groups + (g < count % groups ? 1 : 0);
                    Node p;
                    p.leaf = false;
                    for (size_t k = 0; k < take; ++k, ++child) {
                        const Node& c = level[child];
                        const uint8_t* lk = c.lastKey(m_kl);
                        p.keys.insert(p.keys.end(), lk, lk + m_kl);
                        p.records.push_back(c.records.back());
                        p.children.push_back(offsets[child]);
                    }
                    parents.push_back(std::move(p));
                }
            }
            for (size_t i = 0; i < count; ++i) {
                if (m_out)
                    encodeNode(level[i], m_kl, m_pad, m_out->data() + offsets[i]);
                else
                    *targets[i] = std::move(level[i]);
            }
            if (count == 1) return offsets[0];
            level = std::move(parents);
            leaves = false;
        }
    }

  private:
    std::vector<Node> packLeaves(const TagKeys& t, const std::vector<uint32_t>& order) {
        std::vector<Node> leaves;
        uint32_t maxRecord = 0;
        for (uint32_t r : t.records) maxRecord = std::max(maxRecord, r);
        LeafPacker packer(m_kl, m_pad, maxRecord);
        Node full;
        for (uint32_t idx : order)
            if (packer.add(t.keys.data() + size_t(idx) * m_kl, t.records[idx], full))
                leaves.push_back(std::move(full));
        leaves.push_back(std::move(packer.leaf()));
        return leaves;
    }

    std::vector<uint8_t>* m_out = nullptr;
    NodeCache* m_cache = nullptr;
    uint32_t m_kl;
    uint8_t m_pad;
};

}  // namespace

CdxStatus CdxIndex::reindex(RecordSource& records) {
    for (auto& t : m_tags) {
        // The records hold every appended key; a rebuild needs no batch and
        // no runs (their pages go with the old file).
        t->m_pendingKeys.clear();
        t->m_pendingRecords.clear();
        t->m_pendingMaxRecord = 0;
        t->m_runs.clear();
    }
    for (auto& t : m_tags)
        if (!t->m_writable) {
            m_error = "tag " + t->m_name + " has a collation this engine cannot build";
            return CdxStatus::ReadOnlyTag;
        }
    std::vector<TagKeys> all(m_tags.size());
    const uint32_t expected = records.recordCount();
    for (size_t i = 0; i < m_tags.size(); ++i) {
        all[i].keyLength = m_tags[i]->keyLength();
        all[i].keys.reserve(size_t(expected) * all[i].keyLength);
        all[i].records.reserve(expected);
    }
    std::string key;
    const bool ok = records.forEach([&](const RecordView& rec) {
        for (size_t i = 0; i < m_tags.size(); ++i) {
            if (!m_tags[i]->keyFor(rec, key)) continue;
            all[i].keys.insert(all[i].keys.end(), key.begin(), key.end());
            all[i].records.push_back(rec.recno);
        }
        return true;
    });
    if (!ok) {
        m_error = "cannot read the table's records";
        return CdxStatus::Io;
    }

    std::vector<uint8_t> out(kHeaderSize);
    std::vector<std::pair<std::string, uint32_t>> directory;
    std::vector<TagHeader> headers;
    std::vector<uint32_t> offsets;
    for (size_t i = 0; i < m_tags.size(); ++i) {
        CdxTag& tag = *m_tags[i];
        TagKeys& t = all[i];
        std::vector<uint32_t> order = sortedOrder(t);
        if (tag.m_uniqueness != TagUniqueness::kNone) {
            // Keep the first record of each key; a uniqueness-20 tag refuses.
            std::vector<uint32_t> kept;
            kept.reserve(order.size());
            const uint32_t kl = t.keyLength;
            for (uint32_t idx : order) {
                if (!kept.empty() && std::memcmp(t.keys.data() + size_t(kept.back()) * kl,
                                                 t.keys.data() + size_t(idx) * kl, kl) == 0) {
                    if (tag.m_uniqueness == TagUniqueness::kRefuse) {
                        m_error = "tag " + tag.m_name + ": records " +
                                  std::to_string(t.records[kept.back()]) + " and " +
                                  std::to_string(t.records[idx]) + " have the same key";
                        return CdxStatus::UniqueViolation;
                    }
                    continue;
                }
                kept.push_back(idx);
            }
            order = std::move(kept);
        }
        const uint32_t headerOffset = uint32_t(out.size());
        out.resize(out.size() + kHeaderSize);
        TreeWriter writer(out, t.keyLength, padByte(tag.keyType()));
        TagHeader h = tag.m_header;
        h.root = writer.write(t, order);
        h.freeList = 0;
        encodeTagHeader(h, out.data() + headerOffset);
        headers.push_back(h);
        offsets.push_back(headerOffset);
        std::string dirKey = tag.m_name;
        dirKey.resize(m_dirHeader.keyLength, ' ');
        directory.emplace_back(dirKey, headerOffset);
        std::vector<uint8_t>().swap(t.keys);
    }
    std::sort(directory.begin(), directory.end());
    TagKeys dir;
    dir.keyLength = m_dirHeader.keyLength;
    for (auto& [name, offset] : directory) {
        dir.keys.insert(dir.keys.end(), name.begin(), name.end());
        dir.records.push_back(offset);
    }
    std::vector<uint32_t> dirOrder(directory.size());
    for (size_t i = 0; i < dirOrder.size(); ++i) dirOrder[i] = uint32_t(i);
    TreeWriter dirWriter(out, dir.keyLength, uint8_t(' '));
    TagHeader dh = m_dirHeader;
    dh.root = dirWriter.write(dir, dirOrder);
    dh.freeList = 0;
    dh.counter = m_dirHeader.counter + 1;
    encodeTagHeader(dh, out.data());

    if (!m_store->write(0, out.data(), out.size()) || !m_store->truncate(out.size()) ||
        !m_store->flush()) {
        m_error = "cannot write the rebuilt index";
        return CdxStatus::Io;
    }
    m_cache.clear();
    m_dirHeader = dh;
    m_dirHeaderDirty = false;
    for (size_t i = 0; i < m_tags.size(); ++i) {
        m_tags[i]->m_header = headers[i];
        m_tags[i]->m_headerOffset = offsets[i];
        m_tags[i]->m_headerDirty = false;
        m_tags[i]->m_lostAppends = false;  // the rebuild has every entry
    }
    ++m_generation;
    return CdxStatus::Ok;
}

CdxStatus CdxIndex::mergePending(CdxTag& tag) {
    if (!tag.m_runs.empty()) return mergeRuns(tag);
    if (tag.m_pendingRecords.empty()) return CdxStatus::Ok;
    ++m_generation;
    TagKeys t;
    t.keyLength = tag.keyLength();
    t.keys.swap(tag.m_pendingKeys);
    t.records.swap(tag.m_pendingRecords);
    // The batch's room stays for the next batch.
    auto keepRoom = [&] {
        t.keys.clear();
        t.records.clear();
        tag.m_pendingKeys.swap(t.keys);
        tag.m_pendingRecords.swap(t.records);
        tag.m_pendingMaxRecord = 0;
    };
    const std::vector<uint32_t> order = sortedOrder(t);
    TreePos pos;
    TreeResult r = tag.m_tree->first(pos);
    if (r != TreeResult::Ok) return fromTree(r);
    if (pos.atEnd()) {
        // An empty tag takes the whole batch as freshly packed pages.
        TreeWriter writer(m_cache, t.keyLength, padByte(tag.keyType()));
        const uint32_t root = writer.write(t, order);
        if (root == kNoPage) return fromTree(TreeResult::Corrupt);
        tag.m_header.root = root;
        tag.m_headerDirty = true;
        keepRoom();
        return CdxStatus::Ok;
    }
    // Otherwise insert in key order, so that consecutive inserts meet the same pages.
    for (uint32_t idx : order) {
        r = tag.m_tree->insert(t.keys.data() + size_t(idx) * t.keyLength, t.records[idx]);
        if (r == TreeResult::Corrupt) return fromTree(r);
    }
    keepRoom();
    return CdxStatus::Ok;
}

CdxStatus CdxIndex::mergeAllPending() {
    for (auto& t : m_tags) {
        const CdxStatus s = mergePending(*t);
        if (s != CdxStatus::Ok) return s;
        // After a flush the batch gives its room back.
        std::vector<uint8_t>().swap(t->m_pendingKeys);
        std::vector<uint32_t>().swap(t->m_pendingRecords);
    }
    return CdxStatus::Ok;
}

}  // namespace tavrel::kes04::cdx
