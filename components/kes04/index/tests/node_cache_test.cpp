// The node cache within its limit: changed nodes written out by a trim, and
// kept when that write fails.
#include "components/kes04/index/node_cache.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tavrel::kes04::cdx {
namespace {

constexpr uint32_t kKeyLength = 8;

// A store in memory whose writes fail while `failWrites` is set.
class RefusingStore final : public PageStore {
  public:
    bool failWrites = false;
    bool read(uint64_t offset, uint8_t* out, size_t count) override {
        return m_bytes.read(offset, out, count);
    }
    bool write(uint64_t offset, const uint8_t* data, size_t count) override {
        return !failWrites && m_bytes.write(offset, data, count);
    }
    uint64_t size() override { return m_bytes.size(); }
    bool truncate(uint64_t size) override { return m_bytes.truncate(size); }

  private:
    MemoryPageStore m_bytes;
};

class NodeCacheTest : public ::testing::Test {
  protected:
    RefusingStore store;
    NodeCache cache{store};
    std::vector<uint32_t> pages;

    void SetUp() override { cache.allocate(kHeaderSize); }
    // New leaves, each holding the one key "page<i>".
    void createLeaves(int count) {
        for (int i = 0; i < count; ++i) {
            uint32_t offset;
            Node* n = cache.create(kKeyLength, ' ', &offset);
            ASSERT_NE(n, nullptr);
            n->root = true;
            const std::string key = keyOf(i);
            n->keys.assign(key.begin(), key.end());
            n->records.push_back(uint32_t(i + 1));
            pages.push_back(offset);
        }
    }
    static std::string keyOf(int i) {
        std::string k = "page" + std::to_string(i);
        k.resize(kKeyLength, ' ');
        return k;
    }
    void expectLeaves() {
        for (size_t i = 0; i < pages.size(); ++i) {
            Node* n = cache.get(pages[i], kKeyLength, ' ');
            ASSERT_NE(n, nullptr) << cache.error();
            ASSERT_EQ(n->count(), 1u);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(n->key(0, kKeyLength)), kKeyLength),
                      keyOf(int(i)));
            EXPECT_EQ(n->records[0], uint32_t(i + 1));
        }
    }
};

TEST_F(NodeCacheTest, TrimPastTheLimitWritesChangedNodesAndDropsThem) {
    createLeaves(300);
    cache.trim(1000);  // below the limit: nothing happens
    EXPECT_TRUE(cache.anyDirty());
    EXPECT_LT(store.size(), uint64_t(kHeaderSize) + 300 * kPageSize);
    cache.trim(200);
    EXPECT_FALSE(cache.anyDirty());
    EXPECT_EQ(store.size(), uint64_t(kHeaderSize) + 300 * kPageSize);
    expectLeaves();  // read back from the store
}

TEST_F(NodeCacheTest, TrimWhoseWriteFailsKeepsEveryChangedNode) {
    createLeaves(300);
    store.failWrites = true;
    cache.trim(200);
    EXPECT_TRUE(cache.anyDirty());
    EXPECT_FALSE(cache.error().empty());
    expectLeaves();  // still in memory
    store.failWrites = false;
    ASSERT_TRUE(cache.flush()) << cache.error();
    cache.clear();
    expectLeaves();
}

TEST_F(NodeCacheTest, NewPagesTakeSparePagesFirst) {
    createLeaves(4);
    ASSERT_TRUE(cache.flush());
    const uint32_t spareAt = cache.allocate(2 * kPageSize);
    cache.addSpare(spareAt, 2);
    EXPECT_EQ(cache.sparePages(), 2u);
    const uint64_t end = cache.endOfFile();
    EXPECT_EQ(cache.newPage(), spareAt);
    EXPECT_EQ(cache.newPage(), spareAt + kPageSize);
    EXPECT_EQ(cache.sparePages(), 0u);
    EXPECT_EQ(cache.endOfFile(), end);
    EXPECT_EQ(cache.newPage(), end);  // then the end of the file
    cache.addSpare(cache.allocate(kPageSize), 1);
    cache.clear();  // spare pages are forgotten with the cache
    EXPECT_EQ(cache.sparePages(), 0u);
}

}  // namespace
}  // namespace tavrel::kes04::cdx
