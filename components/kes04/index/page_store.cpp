#include "components/kes04/index/page_store.h"

#include <cstring>

namespace tavrel::kes04::cdx {

bool MemoryPageStore::read(uint64_t offset, uint8_t* out, size_t count) {
    if (offset > m_bytes.size() || count > m_bytes.size() - offset) return false;
    if (count) std::memcpy(out, m_bytes.data() + offset, count);
    return true;
}

bool MemoryPageStore::write(uint64_t offset, const uint8_t* data, size_t count) {
    if (offset + count > (uint64_t(1) << 32)) return false;
    if (offset + count > m_bytes.size()) m_bytes.resize(offset + count);
    if (count) std::memcpy(m_bytes.data() + offset, data, count);
    return true;
}

bool MemoryPageStore::truncate(uint64_t size) {
    if (size > (uint64_t(1) << 32)) return false;
    m_bytes.resize(size);
    return true;
}

}  // namespace tavrel::kes04::cdx
