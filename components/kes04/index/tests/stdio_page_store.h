// A page store over a file opened with C stdio, for tests that want an index
// on disk without the engine's file layer. Offsets stay 64-bit throughout.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>

#include "components/kes04/index/page_store.h"

namespace tavrel::kes04::cdx {

// A store over a file opened with C stdio (exclusive use, no locking).
class StdioPageStore final : public PageStore {
  public:
    // Opens an existing file for reading and writing, or creates it when
    // `create` is set (replacing any file there). Null when it cannot.
    static std::unique_ptr<StdioPageStore> open(const std::filesystem::path& path, bool create);
    ~StdioPageStore() override;
    bool read(uint64_t offset, uint8_t* out, size_t count) override;
    bool write(uint64_t offset, const uint8_t* data, size_t count) override;
    uint64_t size() override { return m_size; }
    bool truncate(uint64_t size) override;
    bool flush() override;

  private:
    StdioPageStore(std::FILE* file, std::filesystem::path path, uint64_t size)
        : m_file(file), m_path(std::move(path)), m_size(size) {}
    std::FILE* m_file;
    std::filesystem::path m_path;
    uint64_t m_size;
};

}  // namespace tavrel::kes04::cdx
