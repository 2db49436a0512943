#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "platform/file_faults.h"
#include "platform/random_access_file.h"

namespace tavrel::platform {

namespace {

// Open-file-description locks (Linux) conflict between two descriptors of one
// process and survive the closing of another descriptor of the same file;
// classic process-wide fcntl locks do neither, so they are only the fallback.
#ifdef F_OFD_SETLK
constexpr int kSetLock = F_OFD_SETLK;
constexpr int kSetLockWait = F_OFD_SETLKW;
#else
constexpr int kSetLock = F_SETLK;
constexpr int kSetLockWait = F_SETLKW;
#endif

int setLock(int fd, short type, uint64_t offset, uint64_t length, bool wait) {
    if (offset > uint64_t(LLONG_MAX) || length > uint64_t(LLONG_MAX) - offset) return EINVAL;
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = off_t(offset);
    fl.l_len = off_t(length);
    fl.l_pid = 0;
    for (;;) {
        if (::fcntl(fd, wait ? kSetLockWait : kSetLock, &fl) == 0) return 0;
        if (errno == EINTR) continue;
        return (errno == EACCES || errno == EAGAIN) ? EAGAIN : errno;
    }
}

}  // namespace

std::unique_ptr<RandomAccessFile> RandomAccessFile::open(const std::filesystem::path& path,
                                                         OpenMode mode, int* error) {
    if (const int rc = injectedFault(FileOperation::kOpen, path)) {
        if (error) *error = rc;
        return nullptr;
    }
    int flags = O_CLOEXEC;
    bool writable = true;
    switch (mode) {
        case OpenMode::kRead:
            flags |= O_RDONLY;
            writable = false;
            break;
        case OpenMode::kReadWrite:
            flags |= O_RDWR;
            break;
        case OpenMode::kCreateNew:
            flags |= O_RDWR | O_CREAT | O_EXCL;
            break;
        case OpenMode::kCreateTruncate:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (error) *error = errno;
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        if (error) *error = EISDIR;
        return nullptr;
    }
    if (error) *error = 0;
    std::unique_ptr<RandomAccessFile> file(new RandomAccessFile(fd, writable));
    // The name only serves the fault hook, so it is kept only while one is installed.
    if (fileFaults() != nullptr) file->m_faultPath = path;
    return file;
}

RandomAccessFile::~RandomAccessFile() { ::close(m_fd); }

int RandomAccessFile::readAt(uint64_t offset, std::span<uint8_t> buffer, size_t* count) {
    size_t done = 0;
    while (done < buffer.size()) {
        ssize_t n = ::pread(m_fd, buffer.data() + done, buffer.size() - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            *count = done;
            return errno;
        }
        if (n == 0) break;
        done += size_t(n);
    }
    *count = done;
    return 0;
}

int RandomAccessFile::readExactAt(uint64_t offset, std::span<uint8_t> buffer) {
    size_t count = 0;
    int rc = readAt(offset, buffer, &count);
    if (rc != 0) return rc;
    return count == buffer.size() ? 0 : EIO;
}

int RandomAccessFile::writeAt(uint64_t offset, std::span<const uint8_t> bytes) {
    if (FileFaults* faults = fileFaults()) {
        const FileFault fault =
            faults->before(FileCall{FileOperation::kWrite, m_faultPath, nullptr, bytes.size()});
        if (fault.error != 0) {
            // A write cut short leaves what got through, as on a full disk.
            const size_t part = std::min(fault.written, bytes.size());
            if (const int rc = writeAllAt(offset, bytes.first(part))) return rc;
            return fault.error;
        }
    }
    return writeAllAt(offset, bytes);
}

int RandomAccessFile::writeAllAt(uint64_t offset, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::pwrite(m_fd, bytes.data() + done, bytes.size() - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += size_t(n);
    }
    return 0;
}

int RandomAccessFile::size(uint64_t* size) {
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) return errno;
    *size = uint64_t(st.st_size);
    return 0;
}

int RandomAccessFile::truncate(uint64_t size) {
    while (::ftruncate(m_fd, off_t(size)) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

int RandomAccessFile::sync() {
    while (::fdatasync(m_fd) != 0) {
        if (errno != EINTR) return errno;
    }
    return 0;
}

void RandomAccessFile::startWriteBack(uint64_t offset, uint64_t length) {
#if defined(__linux__)
    // A file system without it only leaves all the work to the sync.
    (void)::sync_file_range(m_fd, off64_t(offset), off64_t(length), SYNC_FILE_RANGE_WRITE);
#else
    (void)offset;
    (void)length;
#endif
}

int RandomAccessFile::lock(uint64_t offset, uint64_t length, LockKind kind, bool wait) {
    return setLock(m_fd, kind == LockKind::kShared ? F_RDLCK : F_WRLCK, offset, length, wait);
}

int RandomAccessFile::unlock(uint64_t offset, uint64_t length) {
    return setLock(m_fd, F_UNLCK, offset, length, false);
}

}  // namespace tavrel::platform
