// A small PE writer for test fixtures: 32-bit and 64-bit images, EXE or DLL,
// with a resource section that may hold version resources, and the
// VS_VERSIONINFO trees that go into them. Offsets of the written structures are
// returned so tests can damage exactly one of them.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavrel::kesver1::test {

using Version = std::array<uint16_t, 4>;

struct StringValue {
    std::string name;
    std::u16string value;
};

struct StringTable {
    std::string key = "040904E4";
    std::vector<StringValue> values;
};

// What a VS_VERSIONINFO tree holds.
struct VersionSpec {
    // nullopt: the root block has no fixed file information.
    std::optional<Version> fileVersion = Version{1, 0, 6, 1006};
    Version productVersion = {2, 3, 4, 5005};
    std::vector<StringTable> stringTables;
    // Entries (language, code page) of \VarFileInfo\Translation; none: no VarFileInfo.
    std::vector<std::pair<uint16_t, uint16_t>> translations;
};

// The usual tree: translation 0409/04E4 and a string table with every value.
VersionSpec typicalVersion();

// The bytes of a VS_VERSIONINFO tree.
std::vector<uint8_t> buildVersionResource(const VersionSpec& def);

struct PeSpec {
    bool is64 = false;
    bool isDll = false;
    // A resource section is written only when this is true.
    bool hasResources = true;
    // Version resources (name 1), one per language, in this order.
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> versionLanguages;
    // Adds a named resource type and an icon type before the version type.
    bool otherResourceTypes = true;
};

// A PE image and the file offsets of its structures.
struct PeImage {
    std::vector<uint8_t> bytes;
    uint32_t ntOffset = 0;                // "PE\0\0"
    uint32_t optionalOffset = 0;          // optional header
    uint32_t resourceDirectoryField = 0;  // data directory 2 (RVA, size)
    uint32_t sectionTableOffset = 0;
    uint32_t rsrcSectionHeader = 0;  // the .rsrc section header
    uint32_t rootDirectory = 0;      // resource directory root table
    uint32_t versionTypeEntry = 0;   // the RT_VERSION entry in the root
    uint32_t nameDirectory = 0;      // the directory under RT_VERSION
    uint32_t languageDirectory = 0;  // the directory under name 1
    uint32_t firstDataEntry = 0;     // data entry of the first language
    uint32_t firstData = 0;          // the first version resource's bytes
};

PeImage buildPe(const PeSpec& def);

// An image with the typical version resource (language 0409).
PeImage typicalPe(bool is64 = false, bool isDll = false);

// Writes `bytes` to `path`; throws on failure (test code only).
void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Little-endian patches for damaging fixtures.
void put16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value);
void put32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);

// The offset of the UTF-16 key `key` in `bytes` (its first character); throws
// when absent.
size_t findKey(const std::vector<uint8_t>& bytes, const std::string& key);

}  // namespace tavrel::kesver1::test
