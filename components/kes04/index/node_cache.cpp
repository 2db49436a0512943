#include "components/kes04/index/node_cache.h"

#include <algorithm>
#include <vector>

namespace tavrel::kes04::cdx {

namespace {
constexpr size_t kCacheLimit = 200000;
}

NodeCache::NodeCache(PageStore& store) : m_store(store), m_end(store.size()) {}

Node* NodeCache::get(uint32_t offset, uint32_t keyLength, uint8_t pad) {
    auto it = m_slots.find(offset);
    if (it != m_slots.end()) {
        if (it->second.keyLength != keyLength || it->second.pad != pad) {
            m_error = "page " + std::to_string(offset) + " belongs to two tags";
            return nullptr;
        }
        return &it->second.node;
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
    Slot slot;
    std::string why;
    if (!decodeNode(page, keyLength, pad, slot.node, &why)) {
        m_error = "page " + std::to_string(offset) + ": " + why;
        return nullptr;
    }
    slot.keyLength = keyLength;
    slot.pad = pad;
    return &m_slots.emplace(offset, std::move(slot)).first->second.node;
}

uint32_t NodeCache::allocate(uint32_t bytes) {
    m_end = (m_end + kPageSize - 1) / kPageSize * kPageSize;
    const uint32_t offset = uint32_t(m_end);
    m_end += bytes;
    return offset;
}

Node* NodeCache::create(uint32_t keyLength, uint8_t pad, uint32_t* offset) {
    if (m_end + kPageSize > 0xFFFFFE00u) {
        m_error = "index file too large";
        return nullptr;
    }
    *offset = allocate(kPageSize);
    Slot& slot = m_slots[*offset];
    slot.keyLength = keyLength;
    slot.pad = pad;
    slot.dirty = true;
    ++m_dirtyCount;
    return &slot.node;
}

void NodeCache::markDirty(uint32_t offset) {
    auto it = m_slots.find(offset);
    if (it != m_slots.end() && !it->second.dirty) {
        it->second.dirty = true;
        ++m_dirtyCount;
    }
}

bool NodeCache::flush() {
    if (m_dirtyCount == 0) return true;
    std::vector<uint32_t> offsets;
    offsets.reserve(m_dirtyCount);
    for (auto& [offset, slot] : m_slots)
        if (slot.dirty) offsets.push_back(offset);
    std::sort(offsets.begin(), offsets.end());
    uint8_t page[kPageSize];
    for (uint32_t offset : offsets) {
        Slot& slot = m_slots[offset];
        if (!encodeNode(slot.node, slot.keyLength, slot.pad, page)) {
            m_error = "node at " + std::to_string(offset) + " does not fit its page";
            return false;
        }
        if (!m_store.write(offset, page, kPageSize)) {
            m_error = "cannot write page " + std::to_string(offset);
            return false;
        }
        slot.dirty = false;
        --m_dirtyCount;
    }
    return true;
}

void NodeCache::clear() {
    m_slots.clear();
    m_dirtyCount = 0;
    m_end = m_store.size();
}

void NodeCache::trim() {
    if (m_slots.size() < kCacheLimit) return;
    for (auto it = m_slots.begin(); it != m_slots.end();) {
        if (it->second.dirty)
            ++it;
        else
            it = m_slots.erase(it);
    }
}

}  // namespace tavrel::kes04::cdx
