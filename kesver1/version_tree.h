// The VS_VERSIONINFO tree inside a version resource, and its queries.
//
// Plain code without Qt. Answers the questions that the platform's
// VerQueryValue answers for this library: the root block's fixed file
// information ("\"), the translation table ("\VarFileInfo\Translation") and
// string values ("\StringFileInfo\040904E4\CompanyName"), with keys matched
// without regard to case. Damaged blocks are never followed outside the bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_order.h"

namespace tavrel::kesver1 {

// One block's value: its bytes (cut to the block's end) and whether the block
// declares it as text (UTF-16) or binary.
struct VersionValue {
    platform::ByteView bytes;
    bool isText = false;
};

// The fixed file information's version numbers, as stored (two 32-bit words each).
struct FixedVersion {
    uint32_t fileMs = 0;
    uint32_t fileLs = 0;
    uint32_t productMs = 0;
    uint32_t productLs = 0;
};

// The first entry of the translation table.
struct Translation {
    uint16_t language = 0;
    uint16_t codePage = 0;
};

class VersionTree {
  public:
    // Takes the resource bytes. `isValid` tells whether the root block is a
    // well-formed "VS_VERSION_INFO" block; a tree that is not valid answers no
    // query.
    explicit VersionTree(std::vector<uint8_t> bytes);

    bool isValid() const { return m_valid; }

    // The value of the block at `path`: components separated by "\", the root
    // being "\". nullopt when a component is missing or a block on the way is damaged.
    std::optional<VersionValue> query(std::string_view path) const;

    // The root block's fixed file information; nullopt when the root value is
    // shorter than the 52-byte structure.
    std::optional<FixedVersion> fixedVersion() const;
    // The first translation entry; nullopt when the table is missing or empty.
    std::optional<Translation> firstTranslation() const;
    // A text value converted to single-byte text (see ansi_text.h), up to its
    // first zero character; nullopt when the block does not exist.
    std::optional<std::string> text(std::string_view path) const;

  private:
    std::vector<uint8_t> m_bytes;
    bool m_valid = false;
};

}  // namespace tavrel::kesver1
