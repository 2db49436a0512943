// Exclusive lock files and the single-instance check.
//
// A lock is held on an open file for as long as the object lives. While it is
// held, every other attempt to take it fails at once, from this process or any
// other (flock on an open file description; a second open of the same file in
// the same process is refused too).
#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace tavrel::platform {

class LockFile {
  public:
    // Opens (creating when missing) and locks `path` without waiting. Returns
    // null and sets `*error` to the error number (EWOULDBLOCK when someone else
    // holds it) on failure.
    static std::unique_ptr<LockFile> acquire(const std::filesystem::path& path,
                                             int* error = nullptr);
    ~LockFile();
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

  private:
    explicit LockFile(int fd) : m_fd(fd) {}
    int m_fd;
};

// The folder for per-user run-time files ($XDG_RUNTIME_DIR, or a private
// folder under the temporary folder).
std::filesystem::path runtimeFolder();

// Holds the instance lock of program `name` in `folder` (default: the
// runtime folder). Null when another running instance already holds it.
std::unique_ptr<LockFile> acquireSingleInstance(const std::string& name,
                                                const std::filesystem::path& folder = {});

}  // namespace tavrel::platform
