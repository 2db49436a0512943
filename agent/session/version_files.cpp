#include "agent/session/version_files.h"

#include <cerrno>
#include <utility>

#include "agent/session/update_level.h"
#include "platform/files.h"
#include "platform/text_rules.h"

namespace tavrel::session {
namespace {

const std::string kNoLevel;

}  // namespace

std::string levelFromFileBytes(std::string_view bytes, std::string_view defaultLevel) {
    if (bytes.size() < kLevelLength) return std::string(defaultLevel);
    return std::string(bytes.substr(0, kLevelLength));
}

std::string_view defaultLevel(VersionKind kind) {
    switch (kind) {
        case VersionKind::Application:
            return kDefaultApplicationLevel;
        case VersionKind::Agent:
        case VersionKind::DownloadedAgent:
            return kDefaultAgentLevel;
    }
    return {};
}

VersionFiles::VersionFiles(std::string agentFolder, FolderSource applicationFolder)
    : m_agentFolder(platform::withTrailingSeparator(agentFolder)),
      m_applicationFolder(std::move(applicationFolder)),
      m_applicationLevel(kDefaultApplicationLevel),
      m_agentLevel(kDefaultAgentLevel),
      m_downloadedAgentLevel(kDefaultAgentLevel) {}

const std::string* VersionFiles::copyOf(VersionKind kind) const {
    switch (kind) {
        case VersionKind::Application:
            return &m_applicationLevel;
        case VersionKind::Agent:
            return &m_agentLevel;
        case VersionKind::DownloadedAgent:
            return &m_downloadedAgentLevel;
    }
    return nullptr;
}

std::string* VersionFiles::copyOf(VersionKind kind) {
    return const_cast<std::string*>(std::as_const(*this).copyOf(kind));
}

const std::string& VersionFiles::level(VersionKind kind) const {
    const std::string* copy = copyOf(kind);
    return copy ? *copy : kNoLevel;
}

void VersionFiles::setLevel(VersionKind kind, std::string level) {
    if (std::string* copy = copyOf(kind)) *copy = std::move(level);
}

std::optional<std::filesystem::path> VersionFiles::filePath(VersionKind kind) const {
    std::string folder;
    std::string_view name;
    switch (kind) {
        case VersionKind::Application:
            folder = m_applicationFolder ? m_applicationFolder() : std::string();
            name = kApplicationVersionFile;
            break;
        case VersionKind::Agent:
            folder = m_agentFolder;
            name = kAgentVersionFile;
            break;
        case VersionKind::DownloadedAgent:
            folder = m_agentFolder;
            name = kDownloadedVersionFile;
            break;
        default:
            return std::nullopt;
    }
    // An unset folder must not turn into the root or the current folder.
    if (folder.empty()) return std::nullopt;
    return platform::resolvePath(platform::withTrailingSeparator(folder) + std::string(name));
}

std::string VersionFiles::ReadVersionFile(VersionKind kind, int* error) {
    std::string* copy = copyOf(kind);
    int rc = 0;
    if (!copy) {
        rc = EINVAL;
    } else {
        std::optional<std::string> bytes;
        if (auto path = filePath(kind)) {
            // Reading leaves a missing file behind empty, as opening it for
            // read and write always has; the installer expects the file to exist.
            if (!platform::fileExists(*path)) rc = platform::overwriteFileStart(*path, {});
            if (rc == 0) bytes = platform::readFile(*path, &rc);
        } else {
            rc = ENOENT;
        }
        *copy = levelFromFileBytes(bytes.value_or(std::string()), defaultLevel(kind));
    }
    if (error) *error = rc;
    return copy ? *copy : std::string();
}

int VersionFiles::WriteVersionFile(VersionKind kind) {
    const std::string* copy = copyOf(kind);
    if (!copy) return EINVAL;
    auto path = filePath(kind);
    if (!path) return ENOENT;

    std::string_view value = platform::trimCharsText(*copy, " ");
    if (value.size() < kLevelLength) value = defaultLevel(kind);
    value = value.substr(0, kLevelLength);

    // A read-only version file stays as it is, on every platform.
    if (platform::fileExists(*path) && !platform::isWritable(*path)) return EACCES;
    return platform::overwriteFileStart(*path, value);
}

}  // namespace tavrel::session
