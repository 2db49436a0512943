// A hook through which tests make file operations fail.
//
// The file functions of files.h that change the file system and the opens and
// writes of RandomAccessFile ask the installed FileFaults before they touch
// anything. With none installed (always, outside tests) that question is one
// relaxed load of a null pointer and the functions behave exactly as
// documented. An installed hook may answer an error number; the function then
// returns that number as if the system had reported it, having done nothing
// (a RandomAccessFile write may first write the part the hook allows, as a
// write cut short by a full disk does).
//
// The hook is process-wide and belongs to this copy of the platform layer: a
// shared library that links its own copy (the engine KES04.DLL) does not see
// it. Installing and removing it is not synchronised with calls in flight:
// install before the code under test runs and remove after it has stopped.
// The test-support plan (platform/tests/fault_plan.h) does both.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>

namespace tavrel::platform {

// The operations that ask the hook. The numbers are only recorded by tests;
// they are kept stable all the same.
enum class FileOperation : int {
    kCopy = 1,        // copyFile: `path` the source, `target` the copy
    kMove = 2,        // moveFile: `path` the source, `target` the new name
    kDelete = 3,      // deleteFile
    kMakeFolder = 4,  // ensureFolder (only when the folder is missing)
    kWriteFile = 5,   // writeFileAtomic, before the new file is written
    kReplace = 6,     // writeFileAtomic, the rename of the written file over `path`
    kOpen = 7,        // RandomAccessFile::open
    kWrite = 8,       // RandomAccessFile::writeAt; `size` the bytes to write
};

// One operation about to run. The paths are those the caller gave (a write
// names the path its file was opened with, or none: see `RandomAccessFile`).
struct FileCall {
    FileOperation operation;
    const std::filesystem::path& path;
    const std::filesystem::path* target = nullptr;  // copy and move only
    std::size_t size = 0;                           // kWrite only
};

// What the operation does instead.
struct FileFault {
    int error = 0;            // 0: it runs as usual; else it fails with this number
    std::size_t written = 0;  // kWrite: bytes written before failing (at most `size`)
};

class FileFaults {
  public:
    virtual ~FileFaults() = default;
    // Called on the caller's thread, before the operation; may itself change
    // the disk (leave a half-made copy). Must not call back into the
    // functions it watches, which would ask it again.
    virtual FileFault before(const FileCall& call) = 0;
};

namespace detail {
inline std::atomic<FileFaults*> g_fileFaults{nullptr};
}

// Installs `faults` (borrowed; it must live until it is removed), or with
// nullptr removes the hook, so that every operation runs for real again.
inline void setFileFaults(FileFaults* faults) {
    detail::g_fileFaults.store(faults, std::memory_order_release);
}

// The installed hook, or nullptr.
inline FileFaults* fileFaults() { return detail::g_fileFaults.load(std::memory_order_relaxed); }

// The error an installed hook gives `call`, or 0 (also without a hook).
inline int injectedFault(FileOperation operation, const std::filesystem::path& path,
                         const std::filesystem::path* target = nullptr) {
    FileFaults* faults = fileFaults();
    if (faults == nullptr) return 0;
    return faults->before(FileCall{operation, path, target}).error;
}

}  // namespace tavrel::platform
