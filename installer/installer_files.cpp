#include "installer/installer_files.h"

#include <cerrno>

#include "platform/files.h"

namespace tavrel::installer {

std::vector<std::string> PlatformFileOperations::listFiles(const fs::path& folder) {
    return platform::listFiles(folder);
}

std::optional<std::string> PlatformFileOperations::findFile(const fs::path& folder,
                                                            const std::string& name) {
    // A name that reaches into another folder is never a file of this one.
    if (name.empty() || name.find_first_of("/\\") != std::string::npos) return std::nullopt;
    auto found = platform::findPath(folder / name);
    if (!found || !platform::fileExists(*found)) return std::nullopt;
    return found->filename().string();
}

bool PlatformFileOperations::exists(const fs::path& path) {
    return platform::findPath(path).has_value();
}

int PlatformFileOperations::makeWritable(const fs::path& path) {
    return platform::makeWritable(path);
}

bool PlatformFileOperations::isNormal(const fs::path& path) {
    return platform::fileExists(path) && platform::isWritable(path);
}

int PlatformFileOperations::makeRunnable(const fs::path& path) {
    const auto found = platform::findPath(path);
    if (!found) return ENOENT;
    std::error_code ec;
    const fs::perms perms = fs::status(*found, ec).permissions();
    if (ec) return ec.value();
    fs::perms run = fs::perms::owner_exec;
    if ((perms & fs::perms::group_read) != fs::perms::none) run |= fs::perms::group_exec;
    if ((perms & fs::perms::others_read) != fs::perms::none) run |= fs::perms::others_exec;
    fs::permissions(*found, run, fs::perm_options::add, ec);
    return ec.value();
}

int PlatformFileOperations::copyFile(const fs::path& from, const fs::path& to) {
    return platform::copyFile(from, to, true);
}

int PlatformFileOperations::replaceFile(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    std::optional<fs::perms> kept;
    if (auto target = platform::findPath(to)) {
        const auto status = fs::status(*target, ec);
        if (!ec) kept = status.permissions();
    }
    if (int error = platform::copyFile(from, to, true)) return error;
    if (kept) fs::permissions(platform::resolvePath(to), *kept, fs::perm_options::replace, ec);
    return 0;
}

int PlatformFileOperations::deleteFile(const fs::path& path) { return platform::deleteFile(path); }

int PlatformFileOperations::ensureFolder(const fs::path& path) {
    return platform::ensureFolder(path);
}

std::optional<std::string> PlatformFileOperations::readOrCreate(const fs::path& path) {
    if (!platform::findPath(path)) {
        if (platform::overwriteFileStart(path, "") != 0) return std::nullopt;
    }
    return platform::readFile(path);
}

int PlatformFileOperations::writeFile(const fs::path& path, const std::string& content) {
    return platform::writeFileAtomic(platform::resolvePath(path), content);
}

}  // namespace tavrel::installer
