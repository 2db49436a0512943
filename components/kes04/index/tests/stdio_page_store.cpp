#include "components/kes04/index/tests/stdio_page_store.h"

#include <sys/types.h>

#include <algorithm>
#include <system_error>
#include <vector>

namespace tavrel::kes04::cdx {

std::unique_ptr<StdioPageStore> StdioPageStore::open(const std::filesystem::path& path,
                                                     bool create) {
    std::FILE* f = std::fopen(path.c_str(), create ? "w+b" : "r+b");
    if (!f) return nullptr;
    if (fseeko(f, 0, SEEK_END) != 0) {
        std::fclose(f);
        return nullptr;
    }
    const off_t end = ftello(f);
    if (end < 0) {
        std::fclose(f);
        return nullptr;
    }
    return std::unique_ptr<StdioPageStore>(new StdioPageStore(f, path, uint64_t(end)));
}

StdioPageStore::~StdioPageStore() { std::fclose(m_file); }

bool StdioPageStore::read(uint64_t offset, uint8_t* out, size_t count) {
    if (offset > m_size || count > m_size - offset) return false;
    if (fseeko(m_file, off_t(offset), SEEK_SET) != 0) return false;
    return std::fread(out, 1, count, m_file) == count;
}

bool StdioPageStore::write(uint64_t offset, const uint8_t* data, size_t count) {
    if (offset > m_size) {
        // Fill the gap so that the file has no hole of undefined content.
        std::vector<uint8_t> zeros(size_t(offset - m_size), 0);
        if (!write(m_size, zeros.data(), zeros.size())) return false;
    }
    if (fseeko(m_file, off_t(offset), SEEK_SET) != 0) return false;
    if (std::fwrite(data, 1, count, m_file) != count) return false;
    m_size = std::max<uint64_t>(m_size, offset + count);
    return true;
}

bool StdioPageStore::truncate(uint64_t size) {
    if (std::fflush(m_file) != 0) return false;
    std::error_code ec;
    std::filesystem::resize_file(m_path, size, ec);
    if (ec) return false;
    m_size = size;
    return true;
}

bool StdioPageStore::flush() { return std::fflush(m_file) == 0; }

}  // namespace tavrel::kes04::cdx
