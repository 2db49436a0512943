// Building tag trees from entries that arrive in key order: leaves packed as
// full as their compression allows, interior levels on top, the way a rebuild
// lays them out. Shared by the rebuild, the merge of appended entries and the
// sorted runs those entries are spilled into.
#pragma once

#include <cstdint>
#include <vector>

#include "components/kes04/index/cdx_page.h"

namespace tavrel::kes04::cdx {

// The order of `count` entries (`keyLength` key bytes each, back to back, and
// their record numbers) by key bytes, then record number: indexes into them.
std::vector<uint32_t> sortedOrder(const uint8_t* keys, const uint32_t* records, size_t count,
                                  uint32_t keyLength);

// Fills leaves one entry at a time. Every leaf of a tree must be able to
// hold the largest record number of the whole tree, so `maxRecord` is that
// number, not the largest of the leaf.
class LeafPacker {
  public:
    LeafPacker(uint32_t keyLength, uint8_t pad, uint32_t maxRecord);

    // Adds the next entry (entries ascend). When it does not fit the leaf
    // being filled, that leaf is swapped into `full` first, true is returned
    // and the entry starts the next leaf. `full` is scratch the packer
    // overwrites: it need not be empty.
    bool add(const uint8_t* key, uint32_t record, Node& full);
    // The leaf being filled; empty before the first entry.
    Node& leaf() { return m_leaf; }

  private:
    uint32_t m_keyLength;
    uint8_t m_pad;
    uint32_t m_entryBytes;  // table bytes per entry, from the record width
    uint32_t m_used = 0;
    uint32_t m_prevTrail = 0;
    Node m_leaf;
};

// Where a streamed tree's pages go: a file, or spare pages of one.
class PageSink {
  public:
    virtual ~PageSink() = default;
    // The offset for a new page; kNoPage when there is none (file too large).
    virtual uint32_t allocate() = 0;
    // Stores the finished node at an offset that `allocate()` gave. False on
    // a write failure.
    virtual bool put(uint32_t offset, const Node& node) = 0;
};

// Builds a tree from entries in order while holding only one node per level:
// each node goes to the sink as soon as the next one on its level starts.
// Interior nodes are filled to capacity, so the last one of a level may be
// short.
class PackedTreeBuilder {
  public:
    PackedTreeBuilder(PageSink& sink, uint32_t keyLength, uint8_t pad, uint32_t maxRecord);

    // Adds the next entry; entries must ascend by (key, record). False when
    // the sink failed; the builder is then unusable.
    bool add(const uint8_t* key, uint32_t record);
    // Writes the nodes still open and returns the root's offset (an empty
    // root leaf when no entry came), or kNoPage when the sink failed.
    uint32_t finish();

  private:
    struct Level {
        Node node;                  // interior levels only: the packer fills leaves
        uint32_t offset = kNoPage;  // of the open node
        uint32_t left = kNoPage;    // the node before it on this level
        bool closedOne = false;     // whether a node of this level went out already
    };
    // Sends `node`, the open node of `level`, to the sink with `right` as its
    // right sibling and enters it into the level above.
    bool close(size_t level, Node& node, uint32_t right);
    bool addToParent(size_t level, const uint8_t* key, uint32_t record, uint32_t child);
    void resetNode(Node& node, bool leaf);

    PageSink& m_sink;
    uint32_t m_keyLength;
    uint32_t m_interiorCapacity;
    LeafPacker m_packer;
    Node m_full;
    std::vector<Level> m_levels;  // [0] the leaves
    bool m_failed = false;
};

}  // namespace tavrel::kes04::cdx
