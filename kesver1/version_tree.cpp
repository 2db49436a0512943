#include "kesver1/version_tree.h"

#include <algorithm>

#include "kesver1/ansi_text.h"

namespace tavrel::kesver1 {

namespace {

using platform::ByteView;

// Every block of the tree has this layout; blocks start on 4-byte boundaries
// counted from the start of the resource, and a block's children fill the rest
// of its length.
//   0x00  2  wLength: bytes of the block including its children
//   0x02  2  wValueLength: bytes of a binary value, characters of a text value
//   0x04  2  wType: 1 text, 0 binary
//   0x06     szKey: UTF-16 key, zero-terminated
//            padding to 4 bytes, the value, padding to 4 bytes, the children
// The root block's key is "VS_VERSION_INFO" and its value the 52-byte fixed
// file information:
//   0x00  4  signature 0xFEEF04BD
//   0x08  4  file version, most significant word
//   0x0C  4  file version, least significant word
//   0x10  4  product version, most significant word
//   0x14  4  product version, least significant word
constexpr size_t kBlockHeader = 6;
constexpr uint16_t kTypeText = 1;
constexpr size_t kFixedInfoSize = 52;
constexpr std::string_view kRootKey = "VS_VERSION_INFO";

size_t align4(size_t offset) { return (offset + 3) & ~size_t{3}; }

struct Block {
    size_t keyBegin = 0;
    size_t keyEnd = 0;  // the terminating zero character
    size_t valueBegin = 0;
    size_t valueEnd = 0;
    size_t childrenBegin = 0;
    size_t end = 0;
    bool isText = false;
};

// The block at `offset`, which must end at or before `limit`.
std::optional<Block> parseBlock(ByteView all, size_t offset, size_t limit) {
    const auto length = all.le16(offset);
    if (!length || *length < kBlockHeader || offset + *length > limit) return std::nullopt;
    Block block;
    block.end = offset + *length;
    const uint16_t valueLength = *all.le16(offset + 2);
    block.isText = *all.le16(offset + 4) == kTypeText;
    block.keyBegin = offset + kBlockHeader;
    size_t at = block.keyBegin;
    while (at + 2 <= block.end && *all.le16(at) != 0) at += 2;
    if (at + 2 > block.end) return std::nullopt;  // key without its terminator
    block.keyEnd = at;
    block.valueBegin = std::min(align4(at + 2), block.end);
    const size_t declared = block.isText ? size_t{valueLength} * 2 : valueLength;
    // A text value is read up to its zero character, as callers of the
    // platform's query do, so a wrong declared length does not hide it.
    block.valueEnd = block.isText ? block.end : std::min(block.valueBegin + declared, block.end);
    block.childrenBegin = std::min(align4(block.valueBegin + declared), block.end);
    return block;
}

bool keyEquals(ByteView all, const Block& block, std::string_view name) {
    if (block.keyEnd - block.keyBegin != name.size() * 2) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const uint16_t c = *all.le16(block.keyBegin + 2 * i);
        const auto fold = [](uint32_t ch) { return ch >= 'a' && ch <= 'z' ? ch - 32 : ch; };
        if (fold(c) != fold(static_cast<unsigned char>(name[i]))) return false;
    }
    return true;
}

std::optional<Block> findChild(ByteView all, const Block& parent, std::string_view name) {
    size_t at = parent.childrenBegin;
    while (at + kBlockHeader <= parent.end) {
        const auto child = parseBlock(all, at, parent.end);
        if (!child) return std::nullopt;  // damaged: nothing after it can be trusted
        if (keyEquals(all, *child, name)) return child;
        at = align4(child->end);
    }
    return std::nullopt;
}

}  // namespace

VersionTree::VersionTree(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {
    const ByteView all(m_bytes);
    const auto root = parseBlock(all, 0, all.size());
    m_valid = root && keyEquals(all, *root, kRootKey);
}

std::optional<VersionValue> VersionTree::query(std::string_view path) const {
    if (!m_valid) return std::nullopt;
    const ByteView all(m_bytes);
    auto block = parseBlock(all, 0, all.size());
    while (!path.empty()) {
        const size_t separator = path.find('\\');
        const std::string_view name = path.substr(0, separator);
        path =
            separator == std::string_view::npos ? std::string_view() : path.substr(separator + 1);
        if (name.empty()) continue;
        block = findChild(all, *block, name);
        if (!block) return std::nullopt;
    }
    return VersionValue{*all.slice(block->valueBegin, block->valueEnd - block->valueBegin),
                        block->isText};
}

std::optional<FixedVersion> VersionTree::fixedVersion() const {
    const auto root = query("\\");
    if (!root || root->bytes.size() < kFixedInfoSize) return std::nullopt;
    const ByteView& v = root->bytes;
    return FixedVersion{*v.le32(0x08), *v.le32(0x0C), *v.le32(0x10), *v.le32(0x14)};
}

std::optional<Translation> VersionTree::firstTranslation() const {
    const auto table = query("\\VarFileInfo\\Translation");
    if (!table || table->bytes.size() < 4) return std::nullopt;
    return Translation{*table->bytes.le16(0), *table->bytes.le16(2)};
}

std::optional<std::string> VersionTree::text(std::string_view path) const {
    const auto value = query(path);
    if (!value) return std::nullopt;
    return utf16ToAnsi(value->bytes);
}

}  // namespace tavrel::kesver1
