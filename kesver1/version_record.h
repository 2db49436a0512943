// The current-information record and the reading rules behind the exports.
//
// Plain code without Qt. `extractVersionInfo` fills a record from a file's
// version resource; the selector functions answer the GET_ exports from a
// record. The library keeps one process-wide record (`CurrentRecord`).
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "kesver1/version_tree.h"

namespace tavrel::kesver1 {

// Longest text a record field keeps; longer texts are cut.
inline constexpr size_t kMaxTextLength = 259;

// Bits of the selector word `which`. Values are fixed; never renumber.
enum Selector : int32_t {
    kPart1 = 1,            // include part 1 (dotted text only)
    kPart2 = 2,            // include part 2 (dotted text only)
    kPart3 = 4,            // include part 3 (dotted text only)
    kPart4 = 8,            // include part 4 (dotted text only)
    kFileVersion = 16,     // the file version
    kProductVersion = 32,  // the product version, when kFileVersion is clear
};

using VersionParts = std::array<int32_t, 4>;

struct VersionRecord {
    std::string fileName;    // set only by the About File dialog's call
    std::string fileFolder;  // set only by the About File dialog's call
    VersionParts fileVersion{};
    VersionParts productVersion{};
    std::string companyName;
    std::string legalCopyright;
    std::string legalTrademarks;
    std::string fileVersionText;
    std::string productVersionText;
    std::string internalName;
    std::string originalFilename;
    std::string comments;
};

// `text` cut to kMaxTextLength characters.
std::string cutText(std::string text);

// The version tree of the file at `path`, or nullopt when the file cannot be
// read, is not a PE file or has no (or a damaged) version resource.
std::optional<VersionTree> loadVersionTree(const std::filesystem::path& path);

// Fills `record` from `tree`: the fixed versions when the root has them, and the
// string values of the block named by the first translation (or 040904E4).
// Fields that the tree does not answer are left as they are.
void fillRecord(const VersionTree& tree, VersionRecord& record);

// Clears `record`, then reads the file at `path` into it. Returns true when the
// file has a version resource; on false the record stays cleared.
bool extractVersionInfo(const std::filesystem::path& path, VersionRecord& record);

// Part 4 (build number) of the file version (kFileVersion) or product version
// (kProductVersion) of the file at `path`; 0 when neither bit is set, the file
// has no version resource or no fixed information.
int32_t extractBuildNumber(const std::filesystem::path& path, int32_t which);

// The four parts that `which` selects from `record`: the file version when
// kFileVersion is set, else the product version when kProductVersion is set,
// else nullopt.
std::optional<VersionParts> selectParts(const VersionRecord& record, int32_t which);

// The version part as text: decimal, no blanks, no sign.
std::string partText(int32_t part);

// The dotted text of the parts whose bits (kPart1..kPart4) are set in `which`;
// nullopt when `which` selects neither version.
std::optional<std::string> dottedVersion(const VersionRecord& record, int32_t which);

// The path of `fileName` in `folder`: the folder, a separator unless the
// folder is empty or already ends with one, then the name.
std::filesystem::path joinFolder(std::string_view folder, std::string_view fileName);

// The library's one record, shared by all callers. Each call locks, so
// concurrent callers never see a half-written record (they may still see each
// other's results, as the exports are meant for one thread).
class CurrentRecord {
  public:
    static VersionRecord get();
    static void set(VersionRecord record);
    static void clear() { set(VersionRecord{}); }

  private:
    static std::mutex& mutex();
    static VersionRecord& record();
};

}  // namespace tavrel::kesver1
