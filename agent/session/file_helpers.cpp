#include "agent/session/file_helpers.h"

#include <cerrno>

#include "platform/crash_point.h"
#include "platform/files.h"
#include "platform/process.h"

namespace tavrel::session {
namespace {

namespace fs = platform::fs;

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The path with every backslash written as the platform's separator.
std::string platformPath(std::string_view path) {
    std::string out(path);
    for (char& c : out) {
        if (isSeparator(c)) c = platform::kPathSeparator;
    }
    return out;
}

bool isBareDrive(std::string_view path) { return path.size() == 2 && path[1] == ':'; }

}  // namespace

int EnsureFolder(std::string_view folder, bool create) {
    if (folder.empty()) return 0;
    fs::path path(platformPath(folder));
    if (path.is_relative()) path = platform::currentFolder() / path;
    if (platform::folderExists(path)) return 1;
    if (!create) return 0;
    // Each missing folder from the top down, so a crash between two leaves a
    // shorter path behind, never a file in the way.
    fs::path current = path.root_path();
    for (const fs::path& part : path.relative_path()) {
        if (part.empty()) continue;
        current /= part;
        if (platform::folderExists(current)) continue;
        platform::crashPoint("make folder " + current.string());
        platform::ensureFolder(current);
    }
    return platform::folderExists(path) ? 1 : 0;
}

bool CopyOrMoveFile(std::string_view source, std::string_view target, bool overwrite,
                    bool deleteSource) {
    const fs::path from(platformPath(source));
    const fs::path to(platformPath(target));
    if (platform::fileExists(from) && (overwrite || !platform::fileExists(to))) {
        platform::crashPoint("copy " + from.string() + " to " + to.string());
        // A copy that broke off may leave part of the file, or the old one,
        // at the target: that is no copy.
        if (platform::copyFile(from, to, overwrite) != 0) return false;
        if (deleteSource) {
            platform::crashPoint("delete " + from.string());
            platform::deleteFile(from);
        }
    }
    return platform::fileExists(to);
}

bool DeleteFileIfExists(std::string_view path, bool force) {
    const fs::path file(platformPath(path));
    if (!platform::fileExists(file)) return false;
    if (force && !platform::isWritable(file)) platform::makeWritable(file);
    platform::crashPoint("delete " + file.string());
    platform::deleteFile(file);
    return platform::fileExists(file);
}

std::string FixTrailingBackslash(std::string_view path, TrailingSeparator mode) {
    std::string out(path);
    if (mode == TrailingSeparator::kAdd) {
        if (!out.empty() && !isSeparator(out.back())) out += platform::kPathSeparator;
        return out;
    }
    if (mode != TrailingSeparator::kRemove) return out;
    while (out.size() > 1 && isSeparator(out.back())) out.pop_back();
    if (isBareDrive(out)) out += platform::kPathSeparator;
    return out;
}

std::string JoinPath(std::string_view base, std::string_view part1, std::string_view part2,
                     std::string_view part3) {
    std::string out(base);
    for (std::string_view part : {part1, part2, part3}) {
        while (!part.empty() && isSeparator(part.front())) part.remove_prefix(1);
        if (part.empty()) continue;
        if (!out.empty() && !isSeparator(out.back())) out += platform::kPathSeparator;
        out += part;
    }
    return out;
}

int CopyFolderOver(std::string_view source, std::string_view target) {
    const std::string from = platformPath(source);
    const std::string to = platformPath(target);
    if (!platform::folderExists(from)) return ENOENT;
    if (EnsureFolder(to, true) != 1) return ENOTDIR;
    int firstError = 0;
    for (const std::string& name : platform::listFiles(from)) {
        platform::crashPoint("copy " + JoinPath(from, name) + " to " + JoinPath(to, name));
        const int rc = platform::copyFile(JoinPath(from, name), JoinPath(to, name), true);
        if (rc != 0 && firstError == 0) firstError = rc;
    }
    for (const std::string& name : platform::listFolders(from)) {
        const int rc = CopyFolderOver(JoinPath(from, name), JoinPath(to, name));
        if (rc != 0 && firstError == 0) firstError = rc;
    }
    return firstError;
}

}  // namespace tavrel::session
