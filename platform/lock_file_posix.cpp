#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/lock_file.h"

namespace tavrel::platform {

std::unique_ptr<LockFile> LockFile::acquire(const std::filesystem::path& path, int* error) {
    const std::filesystem::path target = resolvePath(path);
    int fd = ::open(target.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (error) *error = errno;
        return nullptr;
    }
    // flock locks belong to the open file description, so a second open of the
    // same file is refused even inside this process, as an exclusive open is
    // on Windows.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (error) *error = errno;
        ::close(fd);
        return nullptr;
    }
    if (error) *error = 0;
    return std::unique_ptr<LockFile>(new LockFile(fd));
}

LockFile::~LockFile() {
    if (m_fd >= 0) ::close(m_fd);
}

std::filesystem::path runtimeFolder() {
    if (const char* dir = ::getenv("XDG_RUNTIME_DIR"); dir && *dir && folderExists(dir)) {
        return dir;
    }
    std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tavrel-" + std::to_string(::getuid()));
    ::mkdir(folder.c_str(), 0700);
    return folder;
}

std::unique_ptr<LockFile> acquireSingleInstance(const std::string& name,
                                                const std::filesystem::path& folder) {
    const std::filesystem::path base = folder.empty() ? runtimeFolder() : folder;
    return LockFile::acquire(base / (name + ".instance"));
}

}  // namespace tavrel::platform
