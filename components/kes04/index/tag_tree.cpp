#include "components/kes04/index/tag_tree.h"

#include <cstring>

namespace tavrel::kes04::cdx {

namespace {
constexpr size_t kMaxDepth = 32;
constexpr int kMaxEmptyHops = 64;

void copyEntries(const Node& from, size_t begin, size_t end, uint32_t keyLength, Node& to) {
    to.keys.assign(from.keys.begin() + begin * keyLength, from.keys.begin() + end * keyLength);
    to.records.assign(from.records.begin() + begin, from.records.begin() + end);
    if (!from.leaf) to.children.assign(from.children.begin() + begin, from.children.begin() + end);
}

void truncateEntries(Node& node, size_t count, uint32_t keyLength) {
    node.keys.resize(count * keyLength);
    node.records.resize(count);
    if (!node.leaf) node.children.resize(count);
}
}  // namespace

int TagTree::compare(const uint8_t* aKey, uint32_t aRec, const uint8_t* bKey, size_t n,
                     uint32_t bRec) const {
    const int c = std::memcmp(aKey, bKey, n);
    if (c != 0) return c < 0 ? -1 : 1;
    if (n < m_keyLength) return 0;
    return aRec < bRec ? -1 : (aRec > bRec ? 1 : 0);
}

TreeResult TagTree::descend(const uint8_t* key, size_t n, uint32_t record, bool after,
                            std::vector<Step>& path, bool clampToLast) {
    path.clear();
    uint32_t page = m_root;
    for (size_t depth = 0; depth < kMaxDepth; ++depth) {
        Node* nd = node(page);
        if (!nd) return TreeResult::Corrupt;
        // Binary search: first entry that compares >= target (> with `after`).
        size_t lo = 0, hi = nd->count();
        while (lo < hi) {
            const size_t mid = (lo + hi) / 2;
            const int c = compare(nd->key(mid, m_keyLength), nd->records[mid], key, n, record);
            if (c < 0 || (after && c == 0))
                lo = mid + 1;
            else
                hi = mid;
        }
        if (nd->leaf) {
            path.push_back({page, uint32_t(lo), nd});
            return TreeResult::Ok;
        }
        if (nd->count() == 0) {
            m_cache.setError("interior page " + std::to_string(page) + " has no keys");
            return TreeResult::Corrupt;
        }
        if (lo == nd->count()) {
            if (!clampToLast) return TreeResult::Corrupt;
            lo = nd->count() - 1;
        }
        path.push_back({page, uint32_t(lo), nd});
        page = nd->children[lo];
    }
    m_cache.setError("tree deeper than " + std::to_string(kMaxDepth) + " levels (a cycle?)");
    return TreeResult::Corrupt;
}

TreeResult TagTree::insert(const uint8_t* key, uint32_t record) {
    std::vector<Step>& path = m_path;
    TreeResult r = descend(key, m_keyLength, record, false, path, true);
    if (r != TreeResult::Ok) return r;
    const Step at = path.back();
    Node* leaf = at.node;
    if (at.index < leaf->count() && compare(leaf->key(at.index, m_keyLength),
                                            leaf->records[at.index], key, m_keyLength, record) == 0)
        return TreeResult::Exists;
    const bool fits = leafFitsAfterInsert(*leaf, at.index, key, record);
    leaf->keys.insert(leaf->keys.begin() + size_t(at.index) * m_keyLength, key, key + m_keyLength);
    leaf->records.insert(leaf->records.begin() + at.index, record);
    m_cache.markDirty(at.page);
    if (fits) return propagateLastKey(path, path.size() - 1);
    leaf->storedSum = -1;
    return split(path, path.size() - 1, at.index);
}

bool TagTree::leafFitsAfterInsert(Node& leaf, uint32_t at, const uint8_t* key, uint32_t record) {
    // Only the new entry and the one after it change their stored bytes.
    if (leaf.storedSum < 0) measureLeaf(leaf, m_keyLength, m_pad);
    const size_t n = leaf.count();
    const uint8_t* prev = at > 0 ? leaf.key(at - 1, m_keyLength) : nullptr;
    int64_t sum = leaf.storedSum + storedBytes(prev, key, m_keyLength, m_pad);
    if (at < n) {
        const uint8_t* next = leaf.key(at, m_keyLength);
        sum += int64_t(storedBytes(key, next, m_keyLength, m_pad)) -
               int64_t(storedBytes(prev, next, m_keyLength, m_pad));
    }
    leaf.storedSum = int32_t(sum);
    leaf.maxRecord = std::max(leaf.maxRecord, record);
    return uint64_t(n + 1) * leafEntryBytes(leaf.maxRecord, m_keyLength) + uint64_t(sum) <=
           kLeafSpace;
}

TreeResult TagTree::fixNode(std::vector<Step>& path, size_t level, uint32_t insertedAt) {
    Node* nd = path[level].node;
    const bool fits =
        nd->leaf ? leafFits(*nd, m_keyLength, m_pad) : nd->count() <= interiorCapacity(m_keyLength);
    if (fits) return propagateLastKey(path, level);
    return split(path, level, insertedAt);
}

TreeResult TagTree::split(std::vector<Step>& path, size_t level, uint32_t insertedAt) {
    const uint32_t page = path[level].page;
    Node* nd = path[level].node;
    const size_t n = nd->count();
    if (n < 2) {
        m_cache.setError("a single key does not fit page " + std::to_string(page));
        return TreeResult::Corrupt;
    }
    // Appending at the right edge leaves the left page full; otherwise halve.
    size_t s = (insertedAt + 1 == n && nd->right == kNoPage) ? n - 1 : n / 2;
    if (nd->leaf) {
        Node part;
        part.leaf = true;
        auto fitsRange = [&](size_t b, size_t e) {
            copyEntries(*nd, b, e, m_keyLength, part);
            return leafFits(part, m_keyLength, m_pad);
        };
        while (s > 1 && !fitsRange(0, s)) --s;
        while (s < n - 1 && !fitsRange(s, n)) ++s;
        if (!fitsRange(0, s) || !fitsRange(s, n)) {
            m_cache.setError("cannot split page " + std::to_string(page));
            return TreeResult::Corrupt;
        }
    }
    uint32_t newPage;
    Node* nn = m_cache.create(m_keyLength, m_pad, &newPage);
    if (!nn) return TreeResult::Corrupt;
    nn->leaf = nd->leaf;
    nn->root = false;
    copyEntries(*nd, s, n, m_keyLength, *nn);
    truncateEntries(*nd, s, m_keyLength);
    nd->storedSum = -1;
    nn->storedSum = -1;
    nn->left = page;
    nn->right = nd->right;
    if (nd->right != kNoPage) {
        Node* r = node(nd->right);
        if (!r) return TreeResult::Corrupt;
        r->left = newPage;
        m_cache.markDirty(nd->right);
    }
    nd->right = newPage;
    m_cache.markDirty(page);

    if (level == 0) {
        nd->root = false;
        uint32_t rootPage;
        Node* rt = m_cache.create(m_keyLength, m_pad, &rootPage);
        if (!rt) return TreeResult::Corrupt;
        rt->leaf = false;
        rt->root = true;
        for (auto [child, off] : {std::pair{nd, page}, std::pair{nn, newPage}}) {
            const uint8_t* k = child->lastKey(m_keyLength);
            rt->keys.insert(rt->keys.end(), k, k + m_keyLength);
            rt->records.push_back(child->records.back());
            rt->children.push_back(off);
        }
        m_root = rootPage;
        m_headerDirty = true;
        return TreeResult::Ok;
    }
    const Step up = path[level - 1];
    Node* parent = up.node;
    if (up.index >= parent->count()) return TreeResult::Corrupt;
    std::memcpy(parent->keys.data() + size_t(up.index) * m_keyLength, nd->lastKey(m_keyLength),
                m_keyLength);
    parent->records[up.index] = nd->records.back();
    const uint8_t* k = nn->lastKey(m_keyLength);
    parent->keys.insert(parent->keys.begin() + size_t(up.index + 1) * m_keyLength, k,
                        k + m_keyLength);
    parent->records.insert(parent->records.begin() + up.index + 1, nn->records.back());
    parent->children.insert(parent->children.begin() + up.index + 1, newPage);
    m_cache.markDirty(up.page);
    return fixNode(path, level - 1, up.index + 1);
}

TreeResult TagTree::propagateLastKey(std::vector<Step>& path, size_t level) {
    while (level > 0) {
        Node* child = path[level].node;
        if (child->count() == 0) return TreeResult::Ok;
        const Step up = path[level - 1];
        Node* parent = up.node;
        if (up.index >= parent->count()) return TreeResult::Corrupt;
        uint8_t* pk = parent->keys.data() + size_t(up.index) * m_keyLength;
        const uint8_t* ck = child->lastKey(m_keyLength);
        if (std::memcmp(pk, ck, m_keyLength) == 0 &&
            parent->records[up.index] == child->records.back())
            return TreeResult::Ok;
        std::memcpy(pk, ck, m_keyLength);
        parent->records[up.index] = child->records.back();
        m_cache.markDirty(up.page);
        if (up.index + 1 != parent->count()) return TreeResult::Ok;
        --level;
    }
    return TreeResult::Ok;
}

TreeResult TagTree::remove(const uint8_t* key, uint32_t record) {
    std::vector<Step>& path = m_path;
    TreeResult r = descend(key, m_keyLength, record, false, path, true);
    if (r != TreeResult::Ok) return r;
    const Step at = path.back();
    Node* leaf = at.node;
    if (at.index >= leaf->count() ||
        compare(leaf->key(at.index, m_keyLength), leaf->records[at.index], key, m_keyLength,
                record) != 0)
        return TreeResult::NotFound;
    leaf->keys.erase(leaf->keys.begin() + size_t(at.index) * m_keyLength,
                     leaf->keys.begin() + size_t(at.index + 1) * m_keyLength);
    leaf->records.erase(leaf->records.begin() + at.index);
    leaf->storedSum = -1;
    m_cache.markDirty(at.page);
    if (leaf->count() == 0 && path.size() > 1) return removeEmpty(path, path.size() - 1);
    return propagateLastKey(path, path.size() - 1);
}

TreeResult TagTree::removeEmpty(std::vector<Step>& path, size_t level) {
    Node* nd = path[level].node;
    // The page is left unused; pages are never reused.
    if (nd->left != kNoPage) {
        Node* l = node(nd->left);
        if (!l) return TreeResult::Corrupt;
        l->right = nd->right;
        m_cache.markDirty(nd->left);
    }
    if (nd->right != kNoPage) {
        Node* r = node(nd->right);
        if (!r) return TreeResult::Corrupt;
        r->left = nd->left;
        m_cache.markDirty(nd->right);
    }
    const Step up = path[level - 1];
    Node* parent = up.node;
    if (up.index >= parent->count()) return TreeResult::Corrupt;
    parent->keys.erase(parent->keys.begin() + size_t(up.index) * m_keyLength,
                       parent->keys.begin() + size_t(up.index + 1) * m_keyLength);
    parent->records.erase(parent->records.begin() + up.index);
    parent->children.erase(parent->children.begin() + up.index);
    m_cache.markDirty(up.page);
    if (parent->count() == 0) {
        if (level - 1 == 0) {
            parent->leaf = true;
            parent->children.clear();
            parent->storedSum = -1;
            return TreeResult::Ok;
        }
        return removeEmpty(path, level - 1);
    }
    if (up.index == parent->count()) return propagateLastKey(path, level - 1);
    return TreeResult::Ok;
}

bool TagTree::followsInOrder(const Node& from, uint32_t fromIndex, const Node& to,
                             uint32_t toIndex) const {
    return compare(from.key(fromIndex, m_keyLength), from.records[fromIndex],
                   to.key(toIndex, m_keyLength), m_keyLength, to.records[toIndex]) < 0;
}

TreeResult TagTree::next(TreePos& pos) {
    Node* nd = node(pos.page);
    if (!nd || !nd->leaf || pos.index >= nd->count()) return TreeResult::Corrupt;
    if (pos.index + 1 < nd->count()) {
        ++pos.index;
        return TreeResult::Ok;
    }
    uint32_t r = nd->right;
    for (int hops = 0; r != kNoPage; ++hops) {
        Node* rn = node(r);
        if (!rn || !rn->leaf || hops > kMaxEmptyHops) return TreeResult::Corrupt;
        if (rn->count() > 0) {
            if (!followsInOrder(*nd, pos.index, *rn, 0)) {
                m_cache.setError("page " + std::to_string(r) + " is out of order after page " +
                                 std::to_string(pos.page));
                return TreeResult::Corrupt;
            }
            pos = {r, 0};
            return TreeResult::Ok;
        }
        r = rn->right;
    }
    pos = TreePos{};
    return TreeResult::Ok;
}

TreeResult TagTree::prev(TreePos& pos) {
    Node* nd = node(pos.page);
    if (!nd || !nd->leaf || pos.index >= nd->count()) return TreeResult::Corrupt;
    if (pos.index > 0) {
        --pos.index;
        return TreeResult::Ok;
    }
    uint32_t l = nd->left;
    for (int hops = 0; l != kNoPage; ++hops) {
        Node* ln = node(l);
        if (!ln || !ln->leaf || hops > kMaxEmptyHops) return TreeResult::Corrupt;
        if (ln->count() > 0) {
            const uint32_t li = uint32_t(ln->count() - 1);
            if (!followsInOrder(*ln, li, *nd, pos.index)) {
                m_cache.setError("page " + std::to_string(l) + " is out of order before page " +
                                 std::to_string(pos.page));
                return TreeResult::Corrupt;
            }
            pos = {l, li};
            return TreeResult::Ok;
        }
        l = ln->left;
    }
    pos = TreePos{};
    return TreeResult::Ok;
}

TreeResult TagTree::first(TreePos& pos) { return edge(true, pos); }

TreeResult TagTree::last(TreePos& pos) { return edge(false, pos); }

TreeResult TagTree::edge(bool first, TreePos& pos) {
    uint32_t page = m_root;
    for (size_t depth = 0; depth < kMaxDepth; ++depth) {
        Node* nd = node(page);
        if (!nd) return TreeResult::Corrupt;
        if (nd->leaf) {
            if (nd->count() > 0) {
                pos = {page, first ? 0u : uint32_t(nd->count() - 1)};
                return TreeResult::Ok;
            }
            if ((first ? nd->right : nd->left) == kNoPage) {
                pos = TreePos{};
                return TreeResult::Ok;
            }
            return TreeResult::Corrupt;  // an empty leaf with neighbours
        }
        if (nd->count() == 0) return TreeResult::Corrupt;
        page = first ? nd->children.front() : nd->children.back();
    }
    return TreeResult::Corrupt;
}

TreeResult TagTree::seek(const uint8_t* key, size_t n, uint32_t record, bool after, TreePos& pos) {
    std::vector<Step>& path = m_path;
    TreeResult r = descend(key, n, record, after, path, true);
    if (r != TreeResult::Ok) return r;
    const Step at = path.back();
    Node* leaf = at.node;
    if (at.index < leaf->count()) {
        pos = {at.page, at.index};
        return TreeResult::Ok;
    }
    if (leaf->count() == 0) {
        pos = TreePos{};
        return leaf->right == kNoPage ? TreeResult::Ok : TreeResult::Corrupt;
    }
    pos = {at.page, uint32_t(leaf->count() - 1)};
    return next(pos);
}

TreeResult TagTree::entry(const TreePos& pos, std::string& key, uint32_t& record) {
    Node* nd = node(pos.page);
    if (!nd || pos.index >= nd->count()) return TreeResult::Corrupt;
    key.assign(reinterpret_cast<const char*>(nd->key(pos.index, m_keyLength)), m_keyLength);
    record = nd->records[pos.index];
    return TreeResult::Ok;
}

TreeResult TagTree::findKey(const uint8_t* key, bool& found, uint32_t* record) {
    found = false;
    TreePos pos;
    TreeResult r = seek(key, m_keyLength, 0, false, pos);
    if (r != TreeResult::Ok || pos.atEnd()) return r;
    Node* nd = node(pos.page);
    if (!nd) return TreeResult::Corrupt;
    found = std::memcmp(nd->key(pos.index, m_keyLength), key, m_keyLength) == 0;
    if (found && record) *record = nd->records[pos.index];
    return TreeResult::Ok;
}

TreeResult TagTree::makeEmpty() {
    uint32_t page;
    Node* nd = m_cache.create(m_keyLength, m_pad, &page);
    if (!nd) return TreeResult::Corrupt;
    nd->leaf = true;
    nd->root = true;
    m_root = page;
    m_headerDirty = true;
    return TreeResult::Ok;
}

}  // namespace tavrel::kes04::cdx
