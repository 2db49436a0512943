// Decoded index nodes kept in memory between operations, written back on
// flush. New pages go to spare pages (those of merged runs of appended
// entries, see cdx_append.cpp) and then at the end of the file; pages that
// trees give up are never reused (a reindex writes a compact file).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "components/kes04/index/cdx_page.h"
#include "components/kes04/index/page_store.h"

namespace tavrel::kes04::cdx {

// A stretch of consecutive pages of the file.
struct PageRange {
    uint32_t offset = 0;
    uint32_t pages = 0;
};

class NodeCache {
  public:
    explicit NodeCache(PageStore& store);

    // The node at `offset`, read and decoded on first use. Null when the
    // offset is not a page of the file or the page is malformed; `error()`
    // then says which and where. The pointer stays valid until `trim()` or
    // `clear()`.
    Node* get(uint32_t offset, uint32_t keyLength, uint8_t pad);
    // A new empty node at a new page (see `newPage`); `*offset` receives its
    // place. Null when the file cannot grow.
    Node* create(uint32_t keyLength, uint8_t pad, uint32_t* offset);
    // Reserves `bytes` (a multiple of 512) at the end of the file.
    uint32_t allocate(uint32_t bytes);
    // A page for new content: a spare one, else one at the end of the file.
    // kNoPage (with `error()` set) when offsets would pass 32 bits.
    uint32_t newPage();
    // Gives pages that nothing refers to any more, and that are not loaded,
    // to `newPage`. Forgotten by `clear()`.
    void addSpare(uint32_t offset, uint32_t pages) { m_spare.push_back({offset, pages}); }
    size_t sparePages() const;
    void markDirty(uint32_t offset);

    // Writes every changed node. False on a write failure or a node that no
    // longer fits its page.
    bool flush();
    // Forgets every node (changes not flushed are lost) and re-reads the file
    // size; used when another process may have changed the file.
    void clear();
    // When the cache has grown past its limit, writes the changed nodes and
    // drops every node it could write (or that was clean). A failed write
    // drops only clean nodes and leaves the error for `flush()`.
    void trim() { trim(kCacheLimit); }
    // The same with a limit of `pages` loaded pages, for passes that go
    // through a tree in order and do not come back.
    void trim(size_t pages);
    // Pages kept decoded before `trim()` sheds them (about 70 MB when full
    // of leaves of 20- to 60-byte keys, as measured by the index benchmark).
    static constexpr size_t kCacheLimit = 65536;

    uint64_t endOfFile() const { return m_end; }
    bool anyDirty() const { return !m_dirty.empty(); }
    const std::string& error() const { return m_error; }
    void setError(std::string text) { m_error = std::move(text); }
    PageStore& store() { return m_store; }

  private:
    struct Slot {
        Node node;
        uint32_t keyLength = 0;
        uint8_t pad = 0;
        bool dirty = false;
    };
    Slot* slot(uint32_t offset) {
        const size_t i = offset / kPageSize;
        return i < m_slots.size() ? m_slots[i].get() : nullptr;
    }
    Slot& newSlot(uint32_t offset);

    PageStore& m_store;
    // Loaded pages by page number (offset / 512); null where not loaded.
    std::vector<std::unique_ptr<Slot>> m_slots;
    size_t m_loaded = 0;
    uint64_t m_end = 0;
    // Page numbers of the changed nodes, each once (its slot's `dirty` flag
    // says whether it is listed), so that a flush costs what was changed,
    // not what is loaded.
    std::vector<uint32_t> m_dirty;
    std::deque<PageRange> m_spare;  // oldest first
    std::string m_error;
};

}  // namespace tavrel::kes04::cdx
