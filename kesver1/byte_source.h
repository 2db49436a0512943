// Random-access sources of file bytes for the PE reader.
//
// The reader asks for small pieces (headers, directory entries, one resource)
// rather than the whole file, so a large executable is never loaded whole.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/random_access_file.h"

namespace tavrel::kesver1 {

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Total size in bytes.
    virtual uint64_t size() const = 0;
    // The `count` bytes at `offset`, or nullopt when any of them lies outside
    // the source or cannot be read.
    virtual std::optional<std::vector<uint8_t>> read(uint64_t offset, size_t count) const = 0;
};

// Bytes held in memory; the span must outlive the source.
class MemorySource final : public ByteSource {
  public:
    explicit MemorySource(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    uint64_t size() const override { return m_bytes.size(); }
    std::optional<std::vector<uint8_t>> read(uint64_t offset, size_t count) const override;

  private:
    std::span<const uint8_t> m_bytes;
};

// A file opened for reading. `open` returns null when the file cannot be opened.
class FileSource final : public ByteSource {
  public:
    static std::unique_ptr<FileSource> open(const std::filesystem::path& path);
    uint64_t size() const override { return m_size; }
    std::optional<std::vector<uint8_t>> read(uint64_t offset, size_t count) const override;

  private:
    FileSource(std::unique_ptr<platform::RandomAccessFile> file, uint64_t size)
        : m_file(std::move(file)), m_size(size) {}
    std::unique_ptr<platform::RandomAccessFile> m_file;
    uint64_t m_size;
};

}  // namespace tavrel::kesver1
