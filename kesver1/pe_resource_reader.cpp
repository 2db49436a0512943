#include "kesver1/pe_resource_reader.h"

#include <algorithm>
#include <optional>

#include "platform/byte_order.h"

namespace tavrel::kesver1 {

namespace {

using platform::ByteView;

// DOS header: the first 64 bytes of every PE file.
//   0x00  2  "MZ"
//   0x3C  4  file offset of the NT headers (e_lfanew)
constexpr uint16_t kDosMagic = 0x5A4D;
constexpr size_t kDosHeaderSize = 64;
constexpr size_t kDosNtOffset = 0x3C;

// NT headers: signature, COFF file header, optional header.
//   0x00  4  "PE\0\0"
//   0x06  2  number of sections
//   0x14  2  size of the optional header
//   0x18     optional header
constexpr uint32_t kPeSignature = 0x00004550;
constexpr size_t kNtSectionCount = 0x06;
constexpr size_t kNtOptionalSize = 0x14;
constexpr size_t kNtOptionalHeader = 0x18;

// Optional header: the magic selects the layout of the data directories.
//   PE32  (0x10B): 0x5C count of directories, 0x60 directories
//   PE32+ (0x20B): 0x6C count of directories, 0x70 directories
// Each directory is 8 bytes (RVA, size); the resource directory is number 2.
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;

// Section header, 40 bytes each, after the optional header.
//   0x08  4  virtual size
//   0x0C  4  virtual address (RVA)
//   0x10  4  size of raw data in the file
//   0x14  4  file offset of the raw data
constexpr size_t kSectionHeaderSize = 40;

// Resource directory table (16 bytes) followed by its entries (8 bytes each):
//   0x0C  2  number of named entries
//   0x0E  2  number of id entries
// Entry: 0x00 name or id (bit 31 set: name), 0x04 offset (bit 31 set: a
// subdirectory), both offsets relative to the start of the resource directory.
// Data entry (16 bytes): 0x00 RVA of the data, 0x04 its size.
constexpr size_t kDirectoryTableSize = 16;
constexpr size_t kDirectoryEntrySize = 8;
constexpr size_t kDataEntrySize = 16;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint32_t kTypeVersion = 16;  // RT_VERSION
constexpr uint32_t kVersionName = 1;   // VS_VERSION_INFO
constexpr size_t kMaxVersionTree = 0xFFFF;

struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawSize;
    uint32_t rawOffset;
};

class Reader {
  public:
    explicit Reader(const ByteSource& source) : m_source(source) {}
    PeReadResult run();

  private:
    PeReadResult fail(PeError error, uint64_t offset) const { return {error, offset, {}}; }
    bool readSections(uint64_t ntOffset, uint16_t count, uint16_t optionalSize);
    std::optional<uint64_t> fileOffset(uint32_t rva, uint32_t count) const;
    std::optional<ByteView> readAt(uint64_t offset, size_t count);
    // The entry of the directory at `dirRva` matching `id` (any when id is
    // empty): the raw offset field, or nullopt with m_error set.
    std::optional<uint32_t> findEntry(uint32_t dirRva, std::optional<uint32_t> id);
    // The RVA that a directory entry's offset field points at, when it has the
    // expected kind (subdirectory or data entry).
    std::optional<uint32_t> target(uint32_t field, bool subdirectory) const;
    PeReadResult readVersionData();

    const ByteSource& m_source;
    std::vector<Section> m_sections;
    std::vector<std::vector<uint8_t>> m_buffers;
    uint32_t m_resourceRva = 0;
    PeError m_error = PeError::kNone;
    uint64_t m_errorOffset = 0;
};

std::optional<ByteView> Reader::readAt(uint64_t offset, size_t count) {
    auto bytes = m_source.read(offset, count);
    if (!bytes) return std::nullopt;
    m_buffers.push_back(std::move(*bytes));
    return ByteView(m_buffers.back());
}

bool Reader::readSections(uint64_t ntOffset, uint16_t count, uint16_t optionalSize) {
    const uint64_t tableOffset = ntOffset + kNtOptionalHeader + optionalSize;
    const auto table = readAt(tableOffset, size_t{count} * kSectionHeaderSize);
    if (!table) return false;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = i * kSectionHeaderSize;
        m_sections.push_back({*table->le32(at + 0x0C), *table->le32(at + 0x08),
                              *table->le32(at + 0x10), *table->le32(at + 0x14)});
    }
    return true;
}

// The file offset of `count` bytes at `rva`, when one section's file data
// holds all of them. Bytes that exist only in memory (beyond the raw data) are
// not part of the file and are refused.
std::optional<uint64_t> Reader::fileOffset(uint32_t rva, uint32_t count) const {
    for (const Section& s : m_sections) {
        if (rva < s.virtualAddress) continue;
        const uint64_t delta = rva - s.virtualAddress;
        uint64_t limit = s.rawSize;
        if (s.virtualSize != 0) limit = std::min<uint64_t>(limit, s.virtualSize);
        if (delta >= limit) continue;
        if (count > limit - delta) return std::nullopt;
        return uint64_t{s.rawOffset} + delta;
    }
    return std::nullopt;
}

std::optional<uint32_t> Reader::findEntry(uint32_t dirRva, std::optional<uint32_t> id) {
    const auto tableAt = fileOffset(dirRva, kDirectoryTableSize);
    const auto table = tableAt ? readAt(*tableAt, kDirectoryTableSize) : std::nullopt;
    if (!table) {
        m_error = PeError::kBadResourceDirectory;
        m_errorOffset = tableAt.value_or(0);
        return std::nullopt;
    }
    const uint32_t count = uint32_t{*table->le16(0x0C)} + *table->le16(0x0E);
    const uint64_t entriesRva = uint64_t{dirRva} + kDirectoryTableSize;
    const auto entriesAt =
        entriesRva + uint64_t{count} * kDirectoryEntrySize <= 0xFFFFFFFFu
            ? fileOffset(static_cast<uint32_t>(entriesRva), count * kDirectoryEntrySize)
            : std::nullopt;
    const auto entries = entriesAt ? readAt(*entriesAt, count * kDirectoryEntrySize) : std::nullopt;
    if (!entries) {
        m_error = PeError::kBadResourceDirectory;
        m_errorOffset = *tableAt;
        return std::nullopt;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t name = *entries->le32(i * kDirectoryEntrySize);
        if (id && ((name & kHighBit) != 0 || name != *id)) continue;
        return *entries->le32(i * kDirectoryEntrySize + 4);
    }
    m_error = PeError::kNoVersionResource;
    m_errorOffset = *tableAt;
    return std::nullopt;
}

std::optional<uint32_t> Reader::target(uint32_t field, bool subdirectory) const {
    if (((field & kHighBit) != 0) != subdirectory) return std::nullopt;
    const uint64_t rva = uint64_t{m_resourceRva} + (field & ~kHighBit);
    if (rva > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<uint32_t>(rva);
}

// Walks the three levels type -> name -> language and reads the data entry of
// the first language.
PeReadResult Reader::readVersionData() {
    std::optional<uint32_t> directory = m_resourceRva;
    const std::optional<uint32_t> path[] = {kTypeVersion, kVersionName, std::nullopt};
    for (size_t level = 0; level < 3; ++level) {
        const auto field = findEntry(*directory, path[level]);
        if (!field) return fail(m_error, m_errorOffset);
        directory = target(*field, level < 2);
        if (!directory) return fail(PeError::kBadResourceDirectory, m_errorOffset);
    }
    const auto entryAt = fileOffset(*directory, kDataEntrySize);
    const auto entry = entryAt ? readAt(*entryAt, kDataEntrySize) : std::nullopt;
    if (!entry) return fail(PeError::kBadResourceDirectory, entryAt.value_or(0));
    const uint32_t dataRva = *entry->le32(0);
    const uint32_t dataSize = *entry->le32(4);
    const auto dataAt = dataSize != 0 ? fileOffset(dataRva, dataSize) : std::nullopt;
    if (!dataAt || *dataAt + dataSize > m_source.size()) {
        return fail(PeError::kBadResourceData, *entryAt);
    }
    auto bytes = m_source.read(*dataAt, std::min<size_t>(dataSize, kMaxVersionTree));
    if (!bytes) return fail(PeError::kBadResourceData, *dataAt);
    return {PeError::kNone, 0, std::move(*bytes)};
}

PeReadResult Reader::run() {
    const auto dos = readAt(0, kDosHeaderSize);
    if (!dos || *dos->le16(0) != kDosMagic) return fail(PeError::kNotPe, 0);
    const uint64_t nt = *dos->le32(kDosNtOffset);
    const auto fileHeader = readAt(nt, kNtOptionalHeader + 2);
    if (!fileHeader || *fileHeader->le32(0) != kPeSignature) return fail(PeError::kNotPe, nt);
    const uint16_t sectionCount = *fileHeader->le16(kNtSectionCount);
    const uint16_t optionalSize = *fileHeader->le16(kNtOptionalSize);

    const auto optional = readAt(nt + kNtOptionalHeader, optionalSize);
    if (!optional) return fail(PeError::kNotPe, nt + kNtOptionalHeader);
    const auto magic = optional->le16(0);
    size_t countAt = 0;
    if (magic == kMagicPe32) {
        countAt = 0x5C;
    } else if (magic == kMagicPe32Plus) {
        countAt = 0x6C;
    } else {
        return fail(PeError::kBadOptionalHeader, nt + kNtOptionalHeader);
    }
    const auto directoryCount = optional->le32(countAt);
    if (!directoryCount) return fail(PeError::kBadOptionalHeader, nt + kNtOptionalHeader);
    const size_t resourceAt = countAt + 4 + kResourceDirectoryIndex * 8;
    const auto resourceRva = optional->le32(resourceAt);
    const auto resourceSize = optional->le32(resourceAt + 4);
    // A header that ends inside the directory's field holds no usable entry.
    if (*directoryCount <= kResourceDirectoryIndex || !resourceRva || !resourceSize ||
        *resourceRva == 0 || *resourceSize == 0) {
        return fail(PeError::kNoResources, nt + kNtOptionalHeader);
    }
    if (!readSections(nt, sectionCount, optionalSize)) {
        return fail(PeError::kBadSection, nt + kNtOptionalHeader + optionalSize);
    }
    if (!fileOffset(*resourceRva, kDirectoryTableSize)) {
        return fail(PeError::kBadSection, nt + kNtOptionalHeader + resourceAt);
    }
    m_resourceRva = *resourceRva;
    return readVersionData();
}

}  // namespace

PeReadResult readVersionResource(const ByteSource& source) { return Reader(source).run(); }

std::string describe(PeError error) {
    switch (error) {
        case PeError::kNone:
            return "version resource found";
        case PeError::kNotPe:
            return "not a PE file";
        case PeError::kBadOptionalHeader:
            return "unknown or short optional header";
        case PeError::kNoResources:
            return "no resource directory";
        case PeError::kBadSection:
            return "address outside the sections' file data";
        case PeError::kBadResourceDirectory:
            return "damaged resource directory";
        case PeError::kNoVersionResource:
            return "no version resource";
        case PeError::kBadResourceData:
            return "version resource data outside the file";
    }
    return "unknown error";
}

}  // namespace tavrel::kesver1
