#include "components/kes04/index/node_cache.h"

#include <algorithm>
#include <vector>

namespace tavrel::kes04::cdx {

NodeCache::NodeCache(PageStore& store) : m_store(store), m_end(store.size()) {}

NodeCache::Slot& NodeCache::newSlot(uint32_t offset) {
    const size_t i = offset / kPageSize;
    if (i >= m_slots.size()) m_slots.resize(std::max(i + 1, m_slots.size() * 2));
    m_slots[i] = std::make_unique<Slot>();
    ++m_loaded;
    return *m_slots[i];
}

Node* NodeCache::get(uint32_t offset, uint32_t keyLength, uint8_t pad) {
    if (offset % kPageSize == 0) {
        if (Slot* s = slot(offset)) {
            if (s->keyLength != keyLength || s->pad != pad) {
                m_error = "page " + std::to_string(offset) + " belongs to two tags";
                return nullptr;
            }
            return &s->node;
        }
    }
    if (offset % kPageSize != 0 || offset < kHeaderSize || uint64_t(offset) + kPageSize > m_end) {
        m_error = "page offset " + std::to_string(offset) + " outside the file (size " +
                  std::to_string(m_end) + ")";
        return nullptr;
    }
    uint8_t page[kPageSize];
    if (!m_store.read(offset, page, kPageSize)) {
        m_error = "cannot read page " + std::to_string(offset);
        return nullptr;
    }
    Node node;
    std::string why;
    if (!decodeNode(page, keyLength, pad, node, &why)) {
        m_error = "page " + std::to_string(offset) + ": " + why;
        return nullptr;
    }
    Slot& s = newSlot(offset);
    s.node = std::move(node);
    s.keyLength = keyLength;
    s.pad = pad;
    return &s.node;
}

uint32_t NodeCache::allocate(uint32_t bytes) {
    m_end = (m_end + kPageSize - 1) / kPageSize * kPageSize;
    const uint32_t offset = uint32_t(m_end);
    m_end += bytes;
    return offset;
}

uint32_t NodeCache::newPage() {
    if (!m_spare.empty()) {
        PageRange& r = m_spare.front();
        const uint32_t offset = r.offset;
        r.offset += kPageSize;
        if (--r.pages == 0) m_spare.pop_front();
        return offset;
    }
    if (m_end + kPageSize > 0xFFFFFE00u) {
        m_error = "index file too large";
        return kNoPage;
    }
    return allocate(kPageSize);
}

size_t NodeCache::sparePages() const {
    size_t n = 0;
    for (const PageRange& r : m_spare) n += r.pages;
    return n;
}

Node* NodeCache::create(uint32_t keyLength, uint8_t pad, uint32_t* offset) {
    *offset = newPage();
    if (*offset == kNoPage) return nullptr;
    Slot& slot = newSlot(*offset);
    slot.keyLength = keyLength;
    slot.pad = pad;
    slot.dirty = true;
    m_dirty.push_back(*offset / kPageSize);
    return &slot.node;
}

void NodeCache::markDirty(uint32_t offset) {
    Slot* s = slot(offset);
    if (s && !s->dirty) {
        s->dirty = true;
        m_dirty.push_back(offset / kPageSize);
    }
}

bool NodeCache::flush() {
    if (m_dirty.empty()) return true;
    // Runs of neighbouring changed pages go out in one write.
    constexpr size_t kRunPages = 256;
    std::sort(m_dirty.begin(), m_dirty.end());
    std::vector<uint8_t> run;
    uint32_t runStart = 0;
    auto writeRun = [&] {
        if (run.empty()) return true;
        const bool ok = m_store.write(runStart, run.data(), run.size());
        if (!ok) m_error = "cannot write pages at " + std::to_string(runStart);
        run.clear();
        return ok;
    };
    // On a failure every page stays changed; the next flush writes them all.
    for (const uint32_t page : m_dirty) {
        const Slot& slot = *m_slots[page];
        const uint32_t offset = page * uint32_t(kPageSize);
        if (!run.empty() && offset != runStart + run.size() && !writeRun()) return false;
        if (run.empty()) runStart = offset;
        run.resize(run.size() + kPageSize);
        if (!encodeNode(slot.node, slot.keyLength, slot.pad,
                        run.data() + run.size() - kPageSize)) {
            m_error = "node at " + std::to_string(offset) + " does not fit its page";
            return false;
        }
        if (run.size() >= kRunPages * kPageSize && !writeRun()) return false;
    }
    if (!writeRun()) return false;
    for (const uint32_t page : m_dirty) m_slots[page]->dirty = false;
    m_dirty.clear();
    return true;
}

void NodeCache::clear() {
    m_slots.clear();
    m_loaded = 0;
    m_dirty.clear();
    m_spare.clear();
    m_end = m_store.size();
}

void NodeCache::trim(size_t pages) {
    if (m_loaded < pages) return;
    // Changed nodes go out first: in exclusive use nothing else writes them
    // before the end, and long runs of changes would hold every page. A
    // failed write keeps them all changed for the next flush to report.
    if (!m_dirty.empty()) flush();
    for (auto& s : m_slots) {
        if (s && !s->dirty) {
            s.reset();
            --m_loaded;
        }
    }
}

}  // namespace tavrel::kes04::cdx
