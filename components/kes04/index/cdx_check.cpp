// The index checker: page structure of every tree, then every tag against
// the table's records.

#include <algorithm>
#include <cstring>
#include <map>

#include "components/kes04/index/cdx_index.h"
#include "components/kes04/index/key_encoding.h"

namespace tavrel::kes04::cdx {

namespace {

constexpr size_t kMaxProblemsPerTree = 20;
constexpr size_t kMaxCheckDepth = 32;

// Walks one tree as it stands in the file (after a flush), not as cached.
struct TreeWalk {
    PageStore& store;
    uint32_t kl;
    uint8_t pad;
    const std::string& name;
    std::unordered_set<uint32_t>& seen;
    std::vector<std::string>& problems;
    size_t reported = 0;
    int leafDepth = -1;
    std::vector<uint32_t> leaves;

    bool load(uint32_t page, Node& out) {
        if (page % kPageSize != 0 || page < kHeaderSize ||
            uint64_t(page) + kPageSize > store.size()) {
            problem("page offset " + std::to_string(page) + " outside the file");
            return false;
        }
        uint8_t bytes[kPageSize];
        std::string why;
        if (!store.read(page, bytes, kPageSize)) {
            problem("cannot read page " + std::to_string(page));
            return false;
        }
        if (!decodeNode(bytes, kl, pad, out, &why)) {
            problem("page " + std::to_string(page) + ": " + why);
            return false;
        }
        return true;
    }

    void problem(const std::string& text) {
        if (reported++ < kMaxProblemsPerTree) problems.push_back(name + ": " + text);
    }

    int compare(const Node& a, size_t i, const uint8_t* key, uint32_t rec) const {
        const int c = std::memcmp(a.key(i, kl), key, kl);
        if (c != 0) return c;
        return a.records[i] < rec ? -1 : (a.records[i] > rec ? 1 : 0);
    }

    void visit(uint32_t page, size_t depth, bool isRoot, const uint8_t* expectKey,
               uint32_t expectRec) {
        const std::string where = "page " + std::to_string(page);
        if (depth > kMaxCheckDepth) return problem("tree deeper than 32 levels");
        if (!seen.insert(page).second)
            return problem(where + " is reached twice (a cycle or shared page)");
        Node node;
        if (!load(page, node)) return;
        Node* nd = &node;
        if (nd->root != isRoot)
            problem(where +
                    (isRoot ? " is the root but lacks the root mark" : " carries a root mark"));
        for (size_t i = 1; i < nd->count(); ++i)
            if (compare(*nd, i - 1, nd->key(i, kl), nd->records[i]) >= 0)
                problem(where + " entry " + std::to_string(i) + " is out of order");
        if (expectKey && nd->count() > 0 &&
            compare(*nd, nd->count() - 1, expectKey, expectRec) != 0)
            problem(where + " last key differs from its parent's entry");
        if (nd->leaf) {
            if (leafDepth < 0) leafDepth = int(depth);
            if (leafDepth != int(depth)) problem(where + " is a leaf at another depth");
            if (nd->storedFree != kLeafSpace - nd->usedBytes)
                problem(where + " free-space field " + std::to_string(nd->storedFree) +
                        ", expected " + std::to_string(kLeafSpace - nd->usedBytes));
            if (nd->count() == 0 && !isRoot) problem(where + " is an empty leaf");
            leaves.push_back(page);
            return;
        }
        if (nd->count() == 0) return problem(where + " is an interior page without keys");
        const std::vector<uint8_t>& keys = nd->keys;
        const std::vector<uint32_t>& records = nd->records;
        const std::vector<uint32_t>& children = nd->children;
        for (size_t i = 0; i < children.size() && reported < kMaxProblemsPerTree; ++i)
            visit(children[i], depth + 1, false, keys.data() + i * kl, records[i]);
    }

    void checkChain(bool unique) {
        Node current, following;
        for (size_t i = 0; i < leaves.size(); ++i) {
            if (i == 0 && !load(leaves[0], current)) return;
            Node* nd = &current;
            const uint32_t left = i == 0 ? kNoPage : leaves[i - 1];
            const uint32_t right = i + 1 == leaves.size() ? kNoPage : leaves[i + 1];
            const std::string where = "leaf " + std::to_string(leaves[i]);
            if (nd->left != left) problem(where + " has a wrong left sibling");
            if (nd->right != right) problem(where + " has a wrong right sibling");
            if (unique)
                for (size_t k = 1; k < nd->count(); ++k)
                    if (std::memcmp(nd->key(k - 1, kl), nd->key(k, kl), kl) == 0)
                        problem(where + " holds a key twice in a unique tag");
            if (i + 1 < leaves.size()) {
                if (!load(leaves[i + 1], following)) return;
                Node* nx = &following;
                if (nd->count() && nx->count()) {
                    const int c = std::memcmp(nd->lastKey(kl), nx->key(0, kl), kl);
                    if (c > 0 || (c == 0 && (unique || nd->records.back() >= nx->records[0])))
                        problem(where + " and the next leaf are out of order");
                }
                std::swap(current, following);
            }
        }
    }
};

}  // namespace

CdxStatus CdxIndex::checkTree(const std::string& name, TagTree& tree, uint32_t root, bool unique,
                              std::unordered_set<uint32_t>& seen,
                              std::vector<std::string>& problems) {
    TreeWalk walk{*m_store, tree.keyLength(), tree.pad(), name, seen, problems, 0, -1, {}};
    walk.visit(root, 0, true, nullptr, 0);
    if (walk.reported == 0) walk.checkChain(unique);
    return walk.reported == 0 ? CdxStatus::Ok : CdxStatus::Corrupt;
}

CdxStatus CdxIndex::check(std::vector<std::string>& problems) {
    const CdxStatus flushed = flush();
    if (flushed != CdxStatus::Ok) {
        problems.push_back(m_error);
        return flushed;
    }
    std::unordered_set<uint32_t> seen;
    CdxStatus result = CdxStatus::Ok;
    if (checkTree("tag directory", *m_dirTree, m_dirHeader.root, true, seen, problems) !=
        CdxStatus::Ok)
        result = CdxStatus::Corrupt;
    for (auto& t : m_tags) {
        if (!t->m_writable) continue;  // keys of other collations: order not checkable here
        if (checkTree("tag " + t->m_name, *t->m_tree, t->m_header.root,
                      t->m_uniqueness != TagUniqueness::kNone, seen, problems) != CdxStatus::Ok)
            result = CdxStatus::Corrupt;
        if (t->m_header.keyExpr.size() + t->m_header.forExpr.size() + 2 > kPageSize) {
            problems.push_back("tag " + t->m_name + ": expressions overflow the header");
            result = CdxStatus::Corrupt;
        }
    }
    return result;
}

CdxStatus CdxIndex::checkData(RecordSource& records, std::vector<std::string>& problems) {
    CdxStatus result = check(problems);
    if (result != CdxStatus::Ok) return result;
    using Entry = std::pair<std::string, uint32_t>;
    std::vector<std::vector<Entry>> expected(m_tags.size());
    std::string key;
    const bool ok = records.forEach([&](const RecordView& rec) {
        for (size_t i = 0; i < m_tags.size(); ++i)
            if (m_tags[i]->m_writable && m_tags[i]->keyFor(rec, key))
                expected[i].emplace_back(key, rec.recno);
        return true;
    });
    if (!ok) {
        problems.push_back("cannot read the table's records");
        return CdxStatus::Io;
    }
    for (size_t i = 0; i < m_tags.size(); ++i) {
        CdxTag& tag = *m_tags[i];
        if (!tag.m_writable) continue;
        const std::string label = "tag " + tag.m_name + ": ";
        auto text = [&](const Entry& e) {
            return "key \"" + keyToText(e.first, tag.keyType()) + "\" record " +
                   std::to_string(e.second);
        };
        std::vector<Entry> actual;
        TreePos pos;
        TreeResult r = tag.m_tree->first(pos);
        while (r == TreeResult::Ok && !pos.atEnd()) {
            Entry e;
            r = tag.m_tree->entry(pos, e.first, e.second);
            if (r != TreeResult::Ok) break;
            actual.push_back(std::move(e));
            r = tag.m_tree->next(pos);
        }
        if (r != TreeResult::Ok) {
            problems.push_back(label + m_cache.error());
            result = CdxStatus::Corrupt;
            continue;
        }
        std::vector<Entry>& want = expected[i];
        std::sort(want.begin(), want.end());
        size_t reported = 0;
        auto problem = [&](const std::string& s) {
            if (reported++ < kMaxProblemsPerTree) problems.push_back(label + s);
            result = CdxStatus::Corrupt;
        };
        if (tag.m_uniqueness == TagUniqueness::kRefuse)
            for (size_t k = 1; k < want.size(); ++k)
                if (want[k].first == want[k - 1].first)
                    problem("records " + std::to_string(want[k - 1].second) + " and " +
                            std::to_string(want[k].second) + " share a key in a unique tag");
        if (tag.m_uniqueness == TagUniqueness::kContinue) {
            // Only the first record of a key is kept, and a key's holder may
            // since have changed: every entry must still be right.
            for (const Entry& e : actual)
                if (!std::binary_search(want.begin(), want.end(), e))
                    problem("entry " + text(e) + " does not match the record");
            continue;
        }
        std::vector<Entry> missing, extra;
        std::set_difference(want.begin(), want.end(), actual.begin(), actual.end(),
                            std::back_inserter(missing));
        std::set_difference(actual.begin(), actual.end(), want.begin(), want.end(),
                            std::back_inserter(extra));
        for (const Entry& e : missing) problem("missing entry " + text(e));
        for (const Entry& e : extra) problem("entry " + text(e) + " does not match the record");
    }
    return result;
}

}  // namespace tavrel::kes04::cdx
