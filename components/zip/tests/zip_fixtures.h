// Helpers for the zip tests: a private sandbox folder, archives made by the
// `zip` program, and archives written byte by byte for the defects that no
// zip program makes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/tests/temp_folder.h"

namespace tavrel::zip::test {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, deleted with the object.
class Sandbox {
  public:
    const fs::path& root() const { return m_folder.path(); }
    fs::path path(const std::string& relative) const { return m_folder / relative; }
    // Writes a file (making its folders) and returns its path.
    fs::path write(const std::string& relative, const std::string& content) const;

  private:
    platform::testing::TempFolder m_folder;
};

using platform::testing::readBytes;
// Every regular file and link below `folder`, as sorted relative paths.
std::vector<std::string> filesBelow(const fs::path& folder);
// Runs a shell command in `folder`; its exit status.
int runIn(const fs::path& folder, const std::string& command);
// Sets a file's modification time to `seconds` since the epoch.
void setTime(const fs::path& path, int64_t seconds);
int64_t timeOf(const fs::path& path);

// One entry of a hand-made archive.
struct RawEntry {
    std::string name;
    std::string data;
    bool deflate = false;
    std::optional<uint32_t> crc = std::nullopt;  // Stored CRC instead of the real one.
    std::optional<uint32_t> declaredSize =
        std::nullopt;          // Stored uncompressed size instead of the real one.
    uint8_t madeBySystem = 0;  // 0 DOS/FAT, 3 Unix.
    uint32_t externalAttributes = 0;
};

// A complete archive: local headers with data, central directory, end record.
std::string makeArchive(const std::vector<RawEntry>& entries);

}  // namespace tavrel::zip::test
