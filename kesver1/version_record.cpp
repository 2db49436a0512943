#include "kesver1/version_record.h"

#include <cstdio>

#include "kesver1/byte_source.h"
#include "kesver1/pe_resource_reader.h"
#include "platform/files.h"

namespace tavrel::kesver1 {

namespace {

constexpr std::string_view kDefaultStringBlock = "\\StringFileInfo\\040904E4\\";

std::string stringBlock(const VersionTree& tree) {
    const auto translation = tree.firstTranslation();
    if (!translation) return std::string(kDefaultStringBlock);
    char digits[9];
    std::snprintf(digits, sizeof digits, "%04X%04X", translation->language, translation->codePage);
    return "\\StringFileInfo\\" + std::string(digits) + "\\";
}

// The value names queried, in order, with the field each kept one goes to.
// FileDescription, ProductName, PrivateBuild and SpecialBuild are queried but
// not kept.
struct ValueName {
    std::string_view name;
    std::string VersionRecord::*field;
};
constexpr ValueName kValueNames[] = {
    {"Comments", &VersionRecord::comments},
    {"CompanyName", &VersionRecord::companyName},
    {"FileDescription", nullptr},
    {"FileVersion", &VersionRecord::fileVersionText},
    {"InternalName", &VersionRecord::internalName},
    {"LegalCopyright", &VersionRecord::legalCopyright},
    {"LegalTrademarks", &VersionRecord::legalTrademarks},
    {"OriginalFilename", &VersionRecord::originalFilename},
    {"ProductName", nullptr},
    {"ProductVersion", &VersionRecord::productVersionText},
    {"PrivateBuild", nullptr},
    {"SpecialBuild", nullptr},
};

VersionParts split(uint32_t ms, uint32_t ls) {
    return {static_cast<int32_t>(ms >> 16), static_cast<int32_t>(ms & 0xFFFF),
            static_cast<int32_t>(ls >> 16), static_cast<int32_t>(ls & 0xFFFF)};
}

}  // namespace

std::string cutText(std::string text) {
    if (text.size() > kMaxTextLength) text.resize(kMaxTextLength);
    return text;
}

std::optional<VersionTree> loadVersionTree(const std::filesystem::path& path) {
    const auto source = FileSource::open(path);
    if (!source) return std::nullopt;
    auto resource = readVersionResource(*source);
    if (resource.error != PeError::kNone) return std::nullopt;
    VersionTree tree(std::move(resource.bytes));
    if (!tree.isValid()) return std::nullopt;
    return tree;
}

void fillRecord(const VersionTree& tree, VersionRecord& record) {
    if (const auto fixed = tree.fixedVersion()) {
        record.fileVersion = split(fixed->fileMs, fixed->fileLs);
        record.productVersion = split(fixed->productMs, fixed->productLs);
    }
    const std::string block = stringBlock(tree);
    for (const ValueName& value : kValueNames) {
        const auto text = tree.text(block + std::string(value.name));
        if (text && value.field) record.*value.field = cutText(*text);
    }
}

bool extractVersionInfo(const std::filesystem::path& path, VersionRecord& record) {
    record = VersionRecord{};
    const auto tree = loadVersionTree(path);
    if (!tree) return false;
    fillRecord(*tree, record);
    return true;
}

int32_t extractBuildNumber(const std::filesystem::path& path, int32_t which) {
    if ((which & (kFileVersion | kProductVersion)) == 0) return 0;
    const auto tree = loadVersionTree(path);
    const auto fixed = tree ? tree->fixedVersion() : std::nullopt;
    if (!fixed) return 0;
    const uint32_t ls = (which & kFileVersion) ? fixed->fileLs : fixed->productLs;
    return static_cast<int32_t>(ls & 0xFFFF);
}

std::optional<VersionParts> selectParts(const VersionRecord& record, int32_t which) {
    if (which & kFileVersion) return record.fileVersion;
    if (which & kProductVersion) return record.productVersion;
    return std::nullopt;
}

std::string partText(int32_t part) { return std::to_string(part); }

std::optional<std::string> dottedVersion(const VersionRecord& record, int32_t which) {
    const auto parts = selectParts(record, which);
    if (!parts) return std::nullopt;
    std::string text;
    const int32_t bits[] = {kPart1, kPart2, kPart3, kPart4};
    for (size_t i = 0; i < 4; ++i) {
        if ((which & bits[i]) == 0) continue;
        if (!text.empty()) text += '.';
        text += partText((*parts)[i]);
    }
    return text;
}

std::filesystem::path joinFolder(std::string_view folder, std::string_view fileName) {
    std::string path(folder);
    if (!path.empty() && path.back() != platform::kPathSeparator) path += platform::kPathSeparator;
    path += fileName;
    return std::filesystem::path(path);
}

VersionRecord CurrentRecord::get() {
    std::lock_guard lock(mutex());
    return record();
}

void CurrentRecord::set(VersionRecord value) {
    std::lock_guard lock(mutex());
    record() = std::move(value);
}

std::mutex& CurrentRecord::mutex() {
    static std::mutex instance;
    return instance;
}

VersionRecord& CurrentRecord::record() {
    static VersionRecord instance;
    return instance;
}

}  // namespace tavrel::kesver1
