#include "kesver1/tests/pe_writer.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>

#include "platform/byte_order.h"

namespace tavrel::kesver1::test {

namespace {

constexpr uint32_t kNtOffset = 0x80;
constexpr uint32_t kHeadersSize = 0x400;
constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kTextRva = 0x1000;
constexpr uint32_t kRsrcRva = 0x2000;
constexpr uint32_t kHigh = 0x80000000u;

using Bytes = std::vector<uint8_t>;

void pad4(Bytes& b) {
    while (b.size() % 4) b.push_back(0);
}

void append16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void append32(Bytes& b, uint32_t v) {
    append16(b, uint16_t(v));
    append16(b, uint16_t(v >> 16));
}

void appendUtf16(Bytes& b, std::u16string_view text) {
    for (char16_t c : text) append16(b, c);
    append16(b, 0);
}

std::u16string widen(std::string_view text) { return std::u16string(text.begin(), text.end()); }

Bytes block(std::string_view key, const Bytes& value, uint16_t valueLength, bool text,
            const std::vector<Bytes>& children) {
    Bytes b(6, 0);
    appendUtf16(b, widen(key));
    pad4(b);
    b.insert(b.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        pad4(b);
        b.insert(b.end(), child.begin(), child.end());
    }
    put16(b, 0, uint16_t(b.size()));
    put16(b, 2, valueLength);
    put16(b, 4, text ? 1 : 0);
    return b;
}

Bytes textBlock(std::string_view key, std::u16string_view value) {
    Bytes v;
    appendUtf16(v, value);
    return block(key, v, uint16_t(value.size() + 1), true, {});
}

Bytes fixedInfo(const Version& file, const Version& product) {
    Bytes b;
    append32(b, 0xFEEF04BD);
    append32(b, 0x00010000);
    append32(b, uint32_t(file[0]) << 16 | file[1]);
    append32(b, uint32_t(file[2]) << 16 | file[3]);
    append32(b, uint32_t(product[0]) << 16 | product[1]);
    append32(b, uint32_t(product[2]) << 16 | product[3]);
    append32(b, 0x3F);        // flags mask
    append32(b, 0);           // flags
    append32(b, 0x00040004);  // VOS_NT_WINDOWS32
    append32(b, 1);           // VFT_APP
    append32(b, 0);
    append32(b, 0);
    append32(b, 0);
    return b;
}

void putDirectory(Bytes& b, size_t at, uint16_t named, uint16_t ids) {
    put16(b, at + 12, named);
    put16(b, at + 14, ids);
}

void putEntry(Bytes& b, size_t at, uint32_t name, uint32_t offset) {
    put32(b, at, name);
    put32(b, at + 4, offset);
}

struct ResourceSection {
    Bytes bytes;
    uint32_t versionTypeEntry = 0, nameDirectory = 0, languageDirectory = 0;
    uint32_t firstDataEntry = 0, firstData = 0;
};

ResourceSection buildResources(const PeSpec& def) {
    ResourceSection r;
    const bool hasVersion = !def.versionLanguages.empty();
    const uint16_t named = def.otherResourceTypes ? 1 : 0;
    const uint16_t ids = (def.otherResourceTypes ? 1 : 0) + (hasVersion ? 1 : 0);
    Bytes& b = r.bytes;
    b.assign(16 + 8 * (named + ids), 0);
    putDirectory(b, 0, named, ids);
    const uint32_t emptyDirectory = uint32_t(b.size());
    b.resize(b.size() + 16, 0);
    const uint32_t typeName = uint32_t(b.size());
    append16(b, 6);
    for (char c : std::string("MYDATA")) append16(b, uint16_t(c));
    pad4(b);
    size_t entry = 16;
    if (def.otherResourceTypes) {
        putEntry(b, entry, kHigh | typeName, kHigh | emptyDirectory);
        putEntry(b, entry + 8, 3, kHigh | emptyDirectory);  // RT_ICON
        entry += 16;
    }
    if (!hasVersion) return r;
    r.versionTypeEntry = uint32_t(entry);
    r.nameDirectory = uint32_t(b.size());
    putEntry(b, entry, 16, kHigh | r.nameDirectory);
    b.resize(b.size() + 24, 0);
    putDirectory(b, r.nameDirectory, 0, 1);
    r.languageDirectory = uint32_t(b.size());
    putEntry(b, r.nameDirectory + 16, 1, kHigh | r.languageDirectory);
    const size_t languages = def.versionLanguages.size();
    b.resize(b.size() + 16 + 8 * languages, 0);
    putDirectory(b, r.languageDirectory, 0, uint16_t(languages));
    r.firstDataEntry = uint32_t(b.size());
    b.resize(b.size() + 16 * languages, 0);
    for (size_t i = 0; i < languages; ++i) {
        const uint32_t dataEntry = r.firstDataEntry + uint32_t(16 * i);
        putEntry(b, r.languageDirectory + 16 + 8 * i, def.versionLanguages[i].first, dataEntry);
        pad4(b);
        const Bytes& data = def.versionLanguages[i].second;
        if (i == 0) r.firstData = uint32_t(b.size());
        put32(b, dataEntry, kRsrcRva + uint32_t(b.size()));
        put32(b, dataEntry + 4, uint32_t(data.size()));
        b.insert(b.end(), data.begin(), data.end());
    }
    return r;
}

void writeSection(Bytes& b, size_t at, const char* name, uint32_t virtualSize, uint32_t rva,
                  uint32_t rawSize, uint32_t rawOffset, uint32_t flags) {
    for (size_t i = 0; name[i] && i < 8; ++i) b[at + i] = uint8_t(name[i]);
    put32(b, at + 8, virtualSize);
    put32(b, at + 12, rva);
    put32(b, at + 16, rawSize);
    put32(b, at + 20, rawOffset);
    put32(b, at + 36, flags);
}

uint32_t alignUp(uint32_t v, uint32_t a) { return (v + a - 1) / a * a; }

void writeHeaders(PeImage& image, const PeSpec& def, uint32_t rsrcSize, uint32_t imageSize) {
    Bytes& b = image.bytes;
    put16(b, 0, 0x5A4D);
    put32(b, 0x3C, kNtOffset);
    image.ntOffset = kNtOffset;
    put32(b, kNtOffset, 0x00004550);
    const uint16_t optionalSize = def.is64 ? 240 : 224;
    const uint16_t sections = def.hasResources ? 2 : 1;
    put16(b, kNtOffset + 4, def.is64 ? 0x8664 : 0x014C);
    put16(b, kNtOffset + 6, sections);
    put16(b, kNtOffset + 20, optionalSize);
    uint16_t characteristics = def.is64 ? 0x0022 : 0x0102;
    if (def.isDll) characteristics |= 0x2000;
    put16(b, kNtOffset + 22, characteristics);
    const uint32_t opt = kNtOffset + 24;
    image.optionalOffset = opt;
    put16(b, opt, def.is64 ? 0x20B : 0x10B);
    put32(b, opt + 16, kTextRva);  // entry point
    put32(b, opt + 32, 0x1000);    // section alignment
    put32(b, opt + 36, kFileAlignment);
    put16(b, opt + 40, 6);  // operating system version 6.0
    put16(b, opt + 48, 6);  // subsystem version 6.0
    put32(b, opt + 56, imageSize);
    put32(b, opt + 60, kHeadersSize);
    put16(b, opt + 68, 2);  // Windows GUI
    const uint32_t directories = def.is64 ? opt + 108 : opt + 92;
    put32(b, directories, 16);
    image.resourceDirectoryField = directories + 4 + 2 * 8;
    if (def.hasResources) {
        put32(b, image.resourceDirectoryField, kRsrcRva);
        put32(b, image.resourceDirectoryField + 4, rsrcSize);
    }
    image.sectionTableOffset = opt + optionalSize;
    writeSection(b, image.sectionTableOffset, ".text", 0x10, kTextRva, kFileAlignment, kHeadersSize,
                 0x60000020);
    if (def.hasResources) {
        image.rsrcSectionHeader = image.sectionTableOffset + 40;
        writeSection(b, image.rsrcSectionHeader, ".rsrc", rsrcSize, kRsrcRva,
                     alignUp(rsrcSize, kFileAlignment), kHeadersSize + kFileAlignment, 0x40000040);
    }
}

}  // namespace

VersionSpec typicalVersion() {
    VersionSpec def;
    def.translations = {{0x0409, 0x04E4}};
    def.stringTables = {{"040904E4",
                         {{"Comments", u"Reads the version resources of files"},
                          {"CompanyName", u"Tavrel Software Ltd"},
                          {"FileDescription", u"Version information library"},
                          {"FileVersion", u"1.0.6.1006"},
                          {"InternalName", u"KESVER1"},
                          {"LegalCopyright", u"Copyright \u00A9 Tavrel 2026"},
                          {"LegalTrademarks", u"Tavrel\u2122 is a trade mark"},
                          {"OriginalFilename", u"KESVER1.DLL"},
                          {"ProductName", u"Tavrel Update"},
                          {"ProductVersion", u"2.3.4.5005"},
                          {"PrivateBuild", u"private"},
                          {"SpecialBuild", u"special"}}}};
    return def;
}

std::vector<uint8_t> buildVersionResource(const VersionSpec& def) {
    std::vector<Bytes> children;
    if (!def.stringTables.empty()) {
        std::vector<Bytes> tables;
        for (const StringTable& table : def.stringTables) {
            std::vector<Bytes> strings;
            for (const StringValue& s : table.values) strings.push_back(textBlock(s.name, s.value));
            tables.push_back(block(table.key, {}, 0, true, strings));
        }
        children.push_back(block("StringFileInfo", {}, 0, true, tables));
    }
    if (!def.translations.empty()) {
        Bytes value;
        for (const auto& [language, codePage] : def.translations) {
            append16(value, language);
            append16(value, codePage);
        }
        children.push_back(block("VarFileInfo", {}, 0, true,
                                 {block("Translation", value, uint16_t(value.size()), false, {})}));
    }
    if (def.fileVersion) {
        return block("VS_VERSION_INFO", fixedInfo(*def.fileVersion, def.productVersion), 52, false,
                     children);
    }
    return block("VS_VERSION_INFO", {}, 0, false, children);
}

PeImage buildPe(const PeSpec& def) {
    PeImage image;
    ResourceSection rsrc;
    if (def.hasResources) rsrc = buildResources(def);
    const auto rsrcSize = uint32_t(rsrc.bytes.size());
    const uint32_t rsrcRaw = kHeadersSize + kFileAlignment;
    const uint32_t fileSize = def.hasResources ? rsrcRaw + alignUp(rsrcSize, kFileAlignment)
                                               : kHeadersSize + kFileAlignment;
    image.bytes.assign(fileSize, 0);
    writeHeaders(image, def, rsrcSize, kRsrcRva + alignUp(rsrcSize, 0x1000));
    image.bytes[kHeadersSize] = 0xC3;  // ret
    if (def.hasResources) {
        std::copy(rsrc.bytes.begin(), rsrc.bytes.end(), image.bytes.begin() + rsrcRaw);
        image.rootDirectory = rsrcRaw;
        const auto at = [&](uint32_t offset) { return offset ? rsrcRaw + offset : 0; };
        image.versionTypeEntry = at(rsrc.versionTypeEntry);
        image.nameDirectory = at(rsrc.nameDirectory);
        image.languageDirectory = at(rsrc.languageDirectory);
        image.firstDataEntry = at(rsrc.firstDataEntry);
        image.firstData = at(rsrc.firstData);
    }
    return image;
}

PeImage typicalPe(bool is64, bool isDll) {
    PeSpec def;
    def.is64 = is64;
    def.isDll = isDll;
    def.versionLanguages = {{0x0409, buildVersionResource(typicalVersion())}};
    return buildPe(def);
}

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void put16(std::vector<uint8_t>& bytes, size_t offset, uint16_t value) {
    platform::storeLE16(bytes.data() + offset, value);
}

void put32(std::vector<uint8_t>& bytes, size_t offset, uint32_t value) {
    platform::storeLE32(bytes.data() + offset, value);
}

size_t findKey(const std::vector<uint8_t>& bytes, const std::string& key) {
    Bytes pattern;
    for (char c : key) append16(pattern, uint16_t(c));
    append16(pattern, 0);
    const auto it = std::search(bytes.begin(), bytes.end(), pattern.begin(), pattern.end());
    if (it == bytes.end()) throw std::runtime_error("key not found: " + key);
    return size_t(it - bytes.begin());
}

}  // namespace tavrel::kesver1::test
