// Where an index file's bytes live. The engine supplies a store over its own
// file handle (with its locking); tests and the fuzzer use the in-memory store
// here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrel::kes04::cdx {

class PageStore {
  public:
    virtual ~PageStore() = default;
    // Reads `count` bytes at `offset`. False when they are not all there or
    // the read fails.
    virtual bool read(uint64_t offset, uint8_t* out, size_t count) = 0;
    // Writes `count` bytes at `offset`, growing the file as needed.
    virtual bool write(uint64_t offset, const uint8_t* data, size_t count) = 0;
    // Current size in bytes.
    virtual uint64_t size() = 0;
    // Cuts or extends the file to `size` bytes.
    virtual bool truncate(uint64_t size) = 0;
    // Puts written bytes on disk (or at least into the operating system).
    virtual bool flush() { return true; }
};

// A store in memory, for tests and fuzzing.
class MemoryPageStore final : public PageStore {
  public:
    MemoryPageStore() = default;
    explicit MemoryPageStore(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    bool read(uint64_t offset, uint8_t* out, size_t count) override;
    bool write(uint64_t offset, const uint8_t* data, size_t count) override;
    uint64_t size() override { return m_bytes.size(); }
    bool truncate(uint64_t size) override;
    std::vector<uint8_t>& bytes() { return m_bytes; }

  private:
    std::vector<uint8_t> m_bytes;
};

}  // namespace tavrel::kes04::cdx
