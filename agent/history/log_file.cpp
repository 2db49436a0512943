#include "agent/history/log_file.h"

#include <cerrno>
#include <string>

#include "platform/files.h"

namespace tavrel::history {

std::optional<std::filesystem::path> logFilePath(std::string_view folder, std::string_view name) {
    if (folder.empty()) return std::nullopt;
    return platform::resolvePath(platform::joinPath(folder, name));
}

int replaceLogFile(const std::filesystem::path& path, std::string_view content) {
    // Renaming over a file would go round its read-only mark; honour it, as an
    // open for writing does on every platform.
    if (platform::fileExists(path) && !platform::isWritable(path)) return EACCES;
    return platform::writeFileAtomic(path, content);
}

}  // namespace tavrel::history
