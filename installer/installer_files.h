// The file operations of the installer.
//
// The installer replaces the agent's files one at a time and must notice every
// failure; this interface gathers the few operations it needs so that tests
// can make a chosen operation fail on real files. `PlatformFileOperations` is
// the real implementation over the platform layer.
//
// Names inside the agent folder are matched without regard to case. Functions
// returning int give 0 on success or the platform's error number.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tavrel::installer {

namespace fs = std::filesystem;

class FileOperations {
  public:
    virtual ~FileOperations() = default;

    // Names of the ordinary files directly inside `folder`, in listing order
    // (sorted); empty when the folder is missing.
    virtual std::vector<std::string> listFiles(const fs::path& folder) = 0;
    // The name, as stored, of the ordinary file `name` in `folder` (any case),
    // or nullopt when there is none.
    virtual std::optional<std::string> findFile(const fs::path& folder,
                                                const std::string& name) = 0;
    // True when the entry exists, so that its attributes can be read.
    virtual bool exists(const fs::path& path) = 0;
    // Gives the file "normal" attributes (writable by its owner).
    virtual int makeWritable(const fs::path& path) = 0;
    // True when the file carries nothing but "normal" attributes.
    virtual bool isNormal(const fs::path& path) = 0;
    // Lets the file be started as a program by whoever may read it: a program
    // downloaded as a plain file could not be started otherwise.
    virtual int makeRunnable(const fs::path& path) = 0;
    // Copies `from` over `to`, replacing an existing file; `to` gets the
    // permissions of `from`.
    virtual int copyFile(const fs::path& from, const fs::path& to) = 0;
    // Copies `from` over the existing file `to` and keeps the permissions that
    // `to` had: a replaced program stays executable even when its new version
    // arrived as a plain downloaded file.
    virtual int replaceFile(const fs::path& from, const fs::path& to) = 0;
    virtual int deleteFile(const fs::path& path) = 0;
    virtual int ensureFolder(const fs::path& path) = 0;
    // The content of the file; a missing file is first created empty. nullopt
    // when it can be neither created nor read.
    virtual std::optional<std::string> readOrCreate(const fs::path& path) = 0;
    // Creates or truncates the file and writes `content` into it.
    virtual int writeFile(const fs::path& path, const std::string& content) = 0;
};

class PlatformFileOperations : public FileOperations {
  public:
    std::vector<std::string> listFiles(const fs::path& folder) override;
    std::optional<std::string> findFile(const fs::path& folder, const std::string& name) override;
    bool exists(const fs::path& path) override;
    int makeWritable(const fs::path& path) override;
    bool isNormal(const fs::path& path) override;
    int makeRunnable(const fs::path& path) override;
    int copyFile(const fs::path& from, const fs::path& to) override;
    int replaceFile(const fs::path& from, const fs::path& to) override;
    int deleteFile(const fs::path& path) override;
    int ensureFolder(const fs::path& path) override;
    std::optional<std::string> readOrCreate(const fs::path& path) override;
    int writeFile(const fs::path& path, const std::string& content) override;
};

}  // namespace tavrel::installer
