// The three version files and the agent's process-wide copies of their levels.
//
//   kind  file                                  default       copy
//   1001  application folder + "TAVRELUPD.VER"  "TAVREL0000"  ApplicationLevel
//   1005  agent folder + "TAVRELUPD.VER"        "UPDATE0000"  AgentLevel
//   1009  agent folder + "UPDATE.VER"           "UPDATE0000"  DownloadedAgentLevel
//
// File format: the level is the first ten bytes of the file, one byte per
// character, with no line end. Bytes after the tenth are ignored when reading
// and left untouched when writing; the installer reads and writes the agent
// folder's files the same way.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tavrel::session {

// Which version file. The numbers are the system's kind codes; never renumber.
enum class VersionKind : int {
    Application = 1001,      // the application folder's "TAVRELUPD.VER"
    Agent = 1005,            // the agent folder's "TAVRELUPD.VER"
    DownloadedAgent = 1009,  // the agent folder's "UPDATE.VER"
};

inline constexpr std::string_view kApplicationVersionFile = "TAVRELUPD.VER";
inline constexpr std::string_view kAgentVersionFile = "TAVRELUPD.VER";
inline constexpr std::string_view kDownloadedVersionFile = "UPDATE.VER";
inline constexpr std::string_view kDefaultApplicationLevel = "TAVREL0000";
inline constexpr std::string_view kDefaultAgentLevel = "UPDATE0000";

// The level found at the start of a version file's bytes: the first ten bytes,
// or `defaultLevel` when there are fewer.
std::string levelFromFileBytes(std::string_view bytes, std::string_view defaultLevel);

// The default level of a kind; empty for a value that is not one of the three kinds.
std::string_view defaultLevel(VersionKind kind);

// Holds the three level copies and reads and writes their files. One object per
// process, owned by whoever owns the run state; not copyable across threads
// (the agent has one thread).
//
// Failure policy: a version file that cannot be opened at all (its folder is
// missing, the application folder is not set, access is denied) reads as its
// kind's default level, and the copy takes that default; such a file is not
// created and not written. Nothing throws.
class VersionFiles {
  public:
    // Yields the current application folder (the configured MainPath); asked on
    // every access because the settings dialog may change it. A missing trailing
    // separator is added.
    using FolderSource = std::function<std::string()>;

    // `agentFolder` is the agent's own folder (with or without the trailing
    // separator). Every copy starts as its kind's default level.
    VersionFiles(std::string agentFolder, FolderSource applicationFolder);

    // Reads the file of `kind`, stores its level in the kind's copy and returns it.
    // A missing file is created empty and reads as the default level, as does a
    // file shorter than ten bytes. When the file cannot be opened the default is
    // returned and stored and `*error` (when given) receives the error number;
    // otherwise `*error` is 0. An unknown kind returns empty text and changes nothing.
    std::string ReadVersionFile(VersionKind kind, int* error = nullptr);

    // Writes the kind's copy into its file: surrounding blanks are removed, a
    // value then shorter than ten characters is replaced by the default level,
    // and the first ten characters are written over the first ten bytes of the
    // file (created when missing, never shortened). Returns 0, or the error
    // number when the file cannot be written (EACCES for a read-only file,
    // ENOENT for a missing folder, EINVAL for an unknown kind); the file is then
    // left as it was. The copy itself is not changed.
    int WriteVersionFile(VersionKind kind);

    const std::string& ApplicationLevel() const { return m_applicationLevel; }
    const std::string& AgentLevel() const { return m_agentLevel; }
    const std::string& DownloadedAgentLevel() const { return m_downloadedAgentLevel; }

    // The copy of `kind` (empty text for an unknown kind), and setting it (an
    // unknown kind is ignored). Setting does not write the file.
    const std::string& level(VersionKind kind) const;
    void setLevel(VersionKind kind, std::string level);

    // The file that `kind` reads and writes, with an existing file whose name
    // differs only in case taken as that file; nullopt for an unknown kind or
    // when the application folder is not set.
    std::optional<std::filesystem::path> filePath(VersionKind kind) const;

  private:
    const std::string* copyOf(VersionKind kind) const;
    std::string* copyOf(VersionKind kind);

    std::string m_agentFolder;
    FolderSource m_applicationFolder;
    std::string m_applicationLevel;
    std::string m_agentLevel;
    std::string m_downloadedAgentLevel;
};

}  // namespace tavrel::session
