#include "agent/history/log_file.h"

#include <string>

#include "platform/files.h"

namespace tavrel::history {

std::optional<std::filesystem::path> logFilePath(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::nullopt;
    return platform::resolvePath(platform::joinPath(folder, name));
}

int replaceLogFile(const std::filesystem::path& path, std::string_view content) {
    // The platform's replacement refuses a read-only file and keeps links.
    return platform::writeFileAtomic(path, content);
}

}  // namespace tavrel::history
