#include "components/kes04/index/packed_tree.h"

#include <algorithm>
#include <cstring>

namespace tavrel::kes04::cdx {

namespace {

struct SortItem {
    uint64_t prefix;
    uint32_t index;
};

}  // namespace

std::vector<uint32_t> sortedOrder(const uint8_t* keys, const uint32_t* records, size_t count,
                                  uint32_t keyLength) {
    const uint32_t kl = keyLength;
    std::vector<SortItem> items(count);
    for (size_t i = 0; i < count; ++i) {
        uint8_t buf[8] = {};
        std::memcpy(buf, keys + i * kl, std::min<uint32_t>(8, kl));
        items[i] = {platform::loadBE64(buf), uint32_t(i)};
    }
    std::sort(items.begin(), items.end(), [&](const SortItem& a, const SortItem& b) {
        if (a.prefix != b.prefix) return a.prefix < b.prefix;
        if (kl > 8) {
            const int c = std::memcmp(keys + size_t(a.index) * kl + 8,
                                      keys + size_t(b.index) * kl + 8, kl - 8);
            if (c != 0) return c < 0;
        }
        return records[a.index] < records[b.index];
    });
    std::vector<uint32_t> order(count);
    for (size_t i = 0; i < count; ++i) order[i] = items[i].index;
    return order;
}

LeafPacker::LeafPacker(uint32_t keyLength, uint8_t pad, uint32_t maxRecord)
    : m_keyLength(keyLength), m_pad(pad), m_entryBytes(leafEntryBytes(maxRecord, keyLength)) {}

bool LeafPacker::add(const uint8_t* key, uint32_t record, Node& full) {
    const uint32_t kl = m_keyLength;
    uint32_t trail = 0;
    while (trail < kl && key[kl - 1 - trail] == m_pad) ++trail;
    uint32_t dup = 0;
    if (m_leaf.count() > 0) {
        const uint8_t* p = m_leaf.lastKey(kl);
        const uint32_t cap = kl - std::max(trail, m_prevTrail);
        while (dup < cap && p[dup] == key[dup]) ++dup;
    }
    uint32_t need = m_entryBytes + kl - dup - trail;
    const bool started = m_leaf.count() > 0 && m_used + need > kLeafSpace;
    if (started) {
        std::swap(m_leaf, full);
        m_leaf.keys.clear();
        m_leaf.records.clear();
        m_leaf.children.clear();
        m_used = 0;
        need = m_entryBytes + kl - trail;
    }
    m_leaf.keys.insert(m_leaf.keys.end(), key, key + kl);
    m_leaf.records.push_back(record);
    m_used += need;
    m_prevTrail = trail;
    return started;
}

PackedTreeBuilder::PackedTreeBuilder(PageSink& sink, uint32_t keyLength, uint8_t pad,
                                     uint32_t maxRecord)
    : m_sink(sink),
      m_keyLength(keyLength),
      m_interiorCapacity(interiorCapacity(keyLength)),
      m_packer(keyLength, pad, maxRecord),
      m_levels(1) {}

void PackedTreeBuilder::resetNode(Node& node, bool leaf) {
    node.leaf = leaf;
    node.root = false;
    node.left = node.right = kNoPage;
    node.keys.clear();
    node.records.clear();
    node.children.clear();
}

bool PackedTreeBuilder::add(const uint8_t* key, uint32_t record) {
    if (m_failed) return false;
    const bool started = m_packer.add(key, record, m_full);
    Level& leaves = m_levels[0];
    if (leaves.offset == kNoPage) {
        leaves.offset = m_sink.allocate();
        m_failed = leaves.offset == kNoPage;
    } else if (started) {
        const uint32_t next = m_sink.allocate();
        m_failed = next == kNoPage || !close(0, m_full, next);
    }
    return !m_failed;
}

bool PackedTreeBuilder::close(size_t level, Node& node, uint32_t right) {
    Level& lv = m_levels[level];
    node.leaf = level == 0;
    node.root = false;
    node.left = lv.left;
    node.right = right;
    const uint32_t offset = lv.offset;
    if (!m_sink.put(offset, node)) return false;
    lv.left = offset;
    lv.offset = right;
    lv.closedOne = true;
    // The level above may grow while this node's last entry goes up: copy it.
    uint8_t key[kMaxKeyLength];
    std::memcpy(key, node.lastKey(m_keyLength), m_keyLength);
    const uint32_t record = node.records.back();
    if (level > 0) resetNode(node, false);
    return addToParent(level + 1, key, record, offset);
}

bool PackedTreeBuilder::addToParent(size_t level, const uint8_t* key, uint32_t record,
                                    uint32_t child) {
    if (level == m_levels.size()) {
        m_levels.emplace_back();
        resetNode(m_levels.back().node, false);
        m_levels.back().offset = m_sink.allocate();
        if (m_levels.back().offset == kNoPage) return false;
    }
    if (m_levels[level].node.count() == m_interiorCapacity) {
        const uint32_t next = m_sink.allocate();
        if (next == kNoPage || !close(level, m_levels[level].node, next)) return false;
    }
    Node& parent = m_levels[level].node;
    parent.keys.insert(parent.keys.end(), key, key + m_keyLength);
    parent.records.push_back(record);
    parent.children.push_back(child);
    return true;
}

uint32_t PackedTreeBuilder::finish() {
    if (m_failed) return kNoPage;
    if (m_levels[0].offset == kNoPage) {
        // No entries: a tree of one empty root leaf.
        m_levels[0].offset = m_sink.allocate();
        if (m_levels[0].offset == kNoPage) return kNoPage;
    }
    for (size_t level = 0;; ++level) {
        Level& lv = m_levels[level];
        Node& node = level == 0 ? m_packer.leaf() : lv.node;
        if (!lv.closedOne) {
            // The only node of the highest level: the root.
            node.leaf = level == 0;
            node.root = true;
            node.left = node.right = kNoPage;
            const uint32_t root = lv.offset;
            m_failed = !m_sink.put(root, node);
            return m_failed ? kNoPage : root;
        }
        if (!close(level, node, kNoPage)) {
            m_failed = true;
            return kNoPage;
        }
    }
}

}  // namespace tavrel::kes04::cdx
