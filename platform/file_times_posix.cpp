#include <sys/stat.h>
#include <sys/time.h>

#include <cerrno>

#include "platform/file_times.h"

namespace tavrel::platform {

std::optional<int64_t> fileModifiedTime(const std::filesystem::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return int64_t(st.st_mtime);
}

int setFileModifiedTime(const std::filesystem::path& path, int64_t seconds) {
    struct timeval times[2]{};
    times[0].tv_sec = time_t(seconds);
    times[1].tv_sec = time_t(seconds);
    if (::utimes(path.c_str(), times) != 0) return errno;
    return 0;
}

}  // namespace tavrel::platform
