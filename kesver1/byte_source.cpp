#include "kesver1/byte_source.h"

#include "platform/files.h"

namespace tavrel::kesver1 {

namespace {

bool fits(uint64_t offset, size_t count, uint64_t size) {
    return offset <= size && count <= size - offset;
}

}  // namespace

std::optional<std::vector<uint8_t>> MemorySource::read(uint64_t offset, size_t count) const {
    if (!fits(offset, count, m_bytes.size())) return std::nullopt;
    const auto first = m_bytes.begin() + static_cast<std::ptrdiff_t>(offset);
    return std::vector<uint8_t>(first, first + static_cast<std::ptrdiff_t>(count));
}

std::unique_ptr<FileSource> FileSource::open(const std::filesystem::path& path) {
    if (path.empty()) return nullptr;
    // Names are matched without regard to case, as on the callers' platform.
    const auto found = platform::findPath(path);
    if (!found || !platform::fileExists(*found)) return nullptr;
    auto file =
        platform::RandomAccessFile::open(*found, platform::RandomAccessFile::OpenMode::kRead);
    uint64_t size = 0;
    if (!file || file->size(&size) != 0) return nullptr;
    return std::unique_ptr<FileSource>(new FileSource(std::move(file), size));
}

std::optional<std::vector<uint8_t>> FileSource::read(uint64_t offset, size_t count) const {
    if (!fits(offset, count, m_size)) return std::nullopt;
    std::vector<uint8_t> bytes(count);
    if (count != 0 && m_file->readExactAt(offset, bytes) != 0) return std::nullopt;
    return bytes;
}

}  // namespace tavrel::kesver1
