#include "components/zip/entry_path.h"

#include <vector>

#include "platform/files.h"

namespace tavrel::zip {
namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The non-empty parts of a stored path, "." parts left out.
std::vector<std::string_view> pathParts(std::string_view stored) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= stored.size(); ++i) {
        if (i < stored.size() && !isSeparator(stored[i])) continue;
        std::string_view part = stored.substr(start, i - start);
        if (!part.empty() && part != ".") parts.push_back(part);
        start = i + 1;
    }
    return parts;
}

std::string joinParts(const std::vector<std::string_view>& parts, size_t count, char separator) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) out += separator;
        out += parts[i];
    }
    return out;
}

char foldCase(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

}  // namespace

EntryPath splitEntryPath(std::string_view stored) {
    const std::vector<std::string_view> parts = pathParts(stored);
    const bool folderEntry = !stored.empty() && isSeparator(stored.back());
    EntryPath out;
    if (parts.empty()) return out;
    const size_t folderParts = folderEntry ? parts.size() : parts.size() - 1;
    out.folder = joinParts(parts, folderParts, platform::kPathSeparator);
    if (!folderEntry) out.name = std::string(parts.back());
    return out;
}

bool isUnsafeEntryPath(std::string_view stored) {
    if (stored.empty() || isSeparator(stored.front())) return true;
    // A ":" anywhere is a drive ("C:"), a device or an alternate data stream
    // on Windows; no file this system ships carries one.
    if (stored.find(':') != std::string_view::npos) return true;
    const std::vector<std::string_view> parts = pathParts(stored);
    if (parts.empty()) return true;
    for (std::string_view part : parts) {
        if (part == "..") return true;
    }
    return false;
}

std::string normalEntryPath(std::string_view stored) {
    const std::vector<std::string_view> parts = pathParts(stored);
    return joinParts(parts, parts.size(), '/');
}

bool matchesMask(std::string_view name, std::string_view mask) {
    if (mask == "*.*") return true;
    // Greedy match with one back-tracking point: linear in practice and never
    // worse than name length times mask length.
    size_t n = 0, m = 0, starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || foldCase(mask[m]) == foldCase(name[n]))) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

}  // namespace tavrel::zip
