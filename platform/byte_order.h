// Little- and big-endian integer encoding for file formats.
//
// Every on-disk integer of the product's file formats (DBF, FPT, CDX, PE, zip
// entries) is read and written through these functions; no code casts a struct
// onto file bytes. `ByteView` adds bounds: each read says whether the bytes were
// there, so a parser checks before it trusts a value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace tavrel::platform {

inline uint16_t loadLE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t loadLE32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t loadLE64(const uint8_t* p) {
    return uint64_t(loadLE32(p)) | (uint64_t(loadLE32(p + 4)) << 32);
}
inline uint16_t loadBE16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline uint32_t loadBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
inline uint64_t loadBE64(const uint8_t* p) {
    return (uint64_t(loadBE32(p)) << 32) | uint64_t(loadBE32(p + 4));
}

inline void storeLE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void storeLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void storeLE64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void storeBE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void storeBE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (24 - 8 * i));
}
inline void storeBE64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (56 - 8 * i));
}

// A bounded, read-only window on file bytes. Reads past the end give nullopt.
class ByteView {
  public:
    ByteView() = default;
    explicit ByteView(std::span<const uint8_t> bytes) : m_bytes(bytes) {}
    ByteView(const uint8_t* data, size_t size) : m_bytes(data, size) {}

    size_t size() const { return m_bytes.size(); }
    const uint8_t* data() const { return m_bytes.data(); }

    // True when `count` bytes starting at `offset` lie inside the view (overflow-safe).
    bool has(size_t offset, size_t count) const {
        return offset <= m_bytes.size() && count <= m_bytes.size() - offset;
    }
    // The sub-view [offset, offset + count), or nullopt when it does not fit.
    std::optional<ByteView> slice(size_t offset, size_t count) const {
        if (!has(offset, count)) return std::nullopt;
        return ByteView(m_bytes.subspan(offset, count));
    }

    std::optional<uint8_t> u8(size_t offset) const {
        if (!has(offset, 1)) return std::nullopt;
        return m_bytes[offset];
    }
    std::optional<uint16_t> le16(size_t offset) const { return load<uint16_t>(offset, loadLE16); }
    std::optional<uint32_t> le32(size_t offset) const { return load<uint32_t>(offset, loadLE32); }
    std::optional<uint64_t> le64(size_t offset) const { return load<uint64_t>(offset, loadLE64); }
    std::optional<uint16_t> be16(size_t offset) const { return load<uint16_t>(offset, loadBE16); }
    std::optional<uint32_t> be32(size_t offset) const { return load<uint32_t>(offset, loadBE32); }
    std::optional<uint64_t> be64(size_t offset) const { return load<uint64_t>(offset, loadBE64); }

    // The bytes [offset, offset + count) as text, or nullopt when they do not fit.
    std::optional<std::string_view> text(size_t offset, size_t count) const {
        if (!has(offset, count)) return std::nullopt;
        return std::string_view(reinterpret_cast<const char*>(m_bytes.data() + offset), count);
    }

  private:
    template <class T, class F>
    std::optional<T> load(size_t offset, F f) const {
        if (!has(offset, sizeof(T))) return std::nullopt;
        return f(m_bytes.data() + offset);
    }

    std::span<const uint8_t> m_bytes;
};

}  // namespace tavrel::platform
