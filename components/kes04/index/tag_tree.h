// One B+-tree of a compound index: a tag, or the tag directory.
//
// Entries are (key, record number) pairs ordered by key bytes, then record
// number. Interior entries carry the largest pair of their child. The tree
// lives in a NodeCache; its root offset lives in the tag header that the
// caller owns, and `headerDirty` is set whenever the root moves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "components/kes04/index/node_cache.h"

namespace tavrel::kes04::cdx {

enum class TreeResult : int {
    Ok = 0,
    Corrupt = 1,   // a page could not be read or breaks the tree's rules
    NotFound = 2,  // remove: no such entry
    Exists = 3,    // insert: the exact entry is there already
};

// A place in the leaf level. `page == kNoPage` is the end of the tree.
struct TreePos {
    uint32_t page = kNoPage;
    uint32_t index = 0;
    bool atEnd() const { return page == kNoPage; }
};

class TagTree {
  public:
    TagTree(NodeCache& cache, uint32_t keyLength, uint8_t pad, uint32_t& root, bool& headerDirty)
        : m_cache(cache),
          m_keyLength(keyLength),
          m_pad(pad),
          m_root(root),
          m_headerDirty(headerDirty) {}

    TreeResult insert(const uint8_t* key, uint32_t record);
    TreeResult remove(const uint8_t* key, uint32_t record);

    // The first entry whose first `n` key bytes compare >= `key` (> with
    // `after`); when n is the whole key length the record number breaks ties.
    TreeResult seek(const uint8_t* key, size_t n, uint32_t record, bool after, TreePos& pos);
    TreeResult first(TreePos& pos);
    TreeResult last(TreePos& pos);
    // Moves to the next / previous entry; the end is an atEnd() position.
    // Refuses (Corrupt) to move to a neighbour whose entries do not follow in
    // order, so damaged sibling links never loop.
    TreeResult next(TreePos& pos);
    TreeResult prev(TreePos& pos);
    // The entry at `pos` (which must not be at the end).
    TreeResult entry(const TreePos& pos, std::string& key, uint32_t& record);
    // True when an entry with exactly this key exists; its record in *record.
    TreeResult findKey(const uint8_t* key, bool& found, uint32_t* record = nullptr);

    // Replaces the tree by an empty root leaf at a new page.
    TreeResult makeEmpty();

    uint32_t keyLength() const { return m_keyLength; }
    uint8_t pad() const { return m_pad; }

  private:
    // The first (or last) entry in key order; an empty tree gives the end position.
    TreeResult edge(bool first, TreePos& pos);
    struct Step {
        uint32_t page;
        uint32_t index;
        Node* node;
    };
    Node* node(uint32_t page) { return m_cache.get(page, m_keyLength, m_pad); }
    int compare(const uint8_t* aKey, uint32_t aRec, const uint8_t* bKey, size_t n,
                uint32_t bRec) const;
    TreeResult descend(const uint8_t* key, size_t n, uint32_t record, bool after,
                       std::vector<Step>& path, bool clampToLast);
    TreeResult fixNode(std::vector<Step>& path, size_t level, uint32_t insertedAt);
    bool leafFitsAfterInsert(Node& leaf, uint32_t at, const uint8_t* key, uint32_t record);
    TreeResult propagateLastKey(std::vector<Step>& path, size_t level);
    TreeResult removeEmpty(std::vector<Step>& path, size_t level);
    TreeResult split(std::vector<Step>& path, size_t level, uint32_t insertedAt);
    bool followsInOrder(const Node& from, uint32_t fromIndex, const Node& to,
                        uint32_t toIndex) const;

    NodeCache& m_cache;
    uint32_t m_keyLength;
    uint8_t m_pad;
    uint32_t& m_root;
    bool& m_headerDirty;
    std::vector<Step> m_path;  // reused between calls
};

}  // namespace tavrel::kes04::cdx
