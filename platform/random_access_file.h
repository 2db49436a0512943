// Files read and written at explicit positions, with byte-range locks.
//
// The xBase engine keeps its tables, memo and index files open through this
// class. Reads and writes name their file offset (no shared file position), so
// one object may serve interleaved readers.
//
// Byte-range locks are advisory: they only keep cooperating programs apart.
// They are held per open file object (POSIX "open file description" locks
// where the system has them), so two objects on the same file conflict even in
// one process, and closing one object never drops the locks of another. A lock
// may lie anywhere, also far beyond the end of the file; xBase programs lock
// bytes near 0x40000000 and 0x7FFFFFFE for exactly that reason. Locks go when
// they are unlocked or the object is destroyed.
//
// Every function returns 0 or the platform's error number (errno here); none
// throws. Opens and writes ask the test hook of file_faults.h first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

namespace tavrel::platform {

class RandomAccessFile {
  public:
    enum class OpenMode {
        kRead,            // Existing file, read only.
        kReadWrite,       // Existing file, read and write.
        kCreateNew,       // New file, read and write; EEXIST when it exists.
        kCreateTruncate,  // New or emptied file, read and write.
    };
    enum class LockKind {
        kShared,     // Several holders; needs a file open for reading.
        kExclusive,  // One holder; needs a file open for writing.
    };

    // Opens `path` as given (no case-insensitive lookup). Null with `*error`
    // set on failure.
    static std::unique_ptr<RandomAccessFile> open(const std::filesystem::path& path, OpenMode mode,
                                                  int* error = nullptr);
    ~RandomAccessFile();
    RandomAccessFile(const RandomAccessFile&) = delete;
    RandomAccessFile& operator=(const RandomAccessFile&) = delete;

    // Reads up to `buffer.size()` bytes at `offset`; `*count` receives how many
    // were read (fewer only at the end of the file).
    int readAt(uint64_t offset, std::span<uint8_t> buffer, size_t* count);
    // Reads exactly `buffer.size()` bytes at `offset`; EIO when the file ends first.
    int readExactAt(uint64_t offset, std::span<uint8_t> buffer);
    // Writes all of `bytes` at `offset`, growing the file when needed.
    int writeAt(uint64_t offset, std::span<const uint8_t> bytes);
    // The current size of the file in `*size`.
    int size(uint64_t* size);
    // Sets the file's size (cuts or extends with zero bytes).
    int truncate(uint64_t size);
    // Puts written data on the disk (fdatasync).
    int sync();
    // Asks the system to start writing `length` bytes at `offset` to the disk
    // without waiting for it, so that a later sync() has less left to wait
    // for. Only a hint: nothing is on the disk for sure when it returns.
    void startWriteBack(uint64_t offset, uint64_t length);

    // Takes a lock on `length` bytes at `offset`. Without `wait`, a lock held
    // by someone else gives EAGAIN at once; with `wait` the call blocks until
    // the lock is free (beware of deadlocks: prefer polling with a deadline).
    int lock(uint64_t offset, uint64_t length, LockKind kind, bool wait = false);
    // Releases the locks on `length` bytes at `offset` (none held is not an error).
    int unlock(uint64_t offset, uint64_t length);

    bool writable() const { return m_writable; }

  private:
    RandomAccessFile(int fd, bool writable) : m_fd(fd), m_writable(writable) {}
    int writeAllAt(uint64_t offset, std::span<const uint8_t> bytes);
    int m_fd;
    bool m_writable;
    // The path it was opened with, for the fault hook (file_faults.h); empty
    // when no hook was installed at the open.
    std::filesystem::path m_faultPath;
};

}  // namespace tavrel::platform
