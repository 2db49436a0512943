#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/file_sync.h"

namespace tavrel::platform {

int syncFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    int rc = ::fsync(fd) == 0 ? 0 : errno;
    if (::close(fd) != 0 && rc == 0) rc = errno;
    return rc;
}

int syncFileSystemOf(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    int rc = ::syncfs(fd) == 0 ? 0 : errno;
    // syncfs covers the folder's entries too, but a folder fsync is what
    // every file system documents for new names; it costs little.
    if (rc == 0 && ::fsync(fd) != 0 && errno != EINVAL) rc = errno;
    if (::close(fd) != 0 && rc == 0) rc = errno;
    return rc;
}

}  // namespace tavrel::platform
