// The FoxPro memo file (.FPT).
//
// Header (first 512 bytes; integers big-endian):
//
//   offset  size  meaning
//   0       4     next free block number (u32 BE): where the next memo goes
//   4       2     unused (zero; some writers leave junk: ignored)
//   6       2     block size in bytes (u16 BE), 1..65535
//   8       504   unused by FoxPro; other engines keep signatures, free lists
//                 and longer headers here: never written by us
//
// Block b lies at file offset b * block_size. A memo is one block header and
// its data, over ceil((8 + length) / block_size) consecutive blocks:
//
//   0       4     block type (u32 BE): 0 picture, 1 text, 2 object
//   4       4     data length in bytes (u32 BE), header excluded
//   8       n     the data, raw bytes
//
// Invariant we keep: nothing past "next free" belongs to a memo, and the file
// ends on a block boundary. We never assume where the first block lies (it
// follows the header, whose size other engines choose): existing files are
// read by their pointers and extended from max(next free, end of file).
//
// dBASE memo files (.DBT, tables 0x83 and 0x8B) are read and extended the
// same way, with their own layouts (integers little-endian):
//   dBASE III: offset 0 next free block (u32); blocks of 512 bytes; a memo is
//              its text ended by 0x1A 0x1A.
//   dBASE IV:  offset 0 next free block (u32), offset 20 block size (u16, 0 =
//              512); a memo starts with FF FF 08 00 and its length (u32, the
//              8 header bytes included), then the text.
// dBASE memos are always written into new blocks.
//
// Locking: allocation (reading and advancing "next free") happens under an
// exclusive lock on byte 0x40000000 of the memo file (the byte CodeBase takes),
// in shared mode only.
//
// Exclusive use (nobody else writes the file): reads go through a read-ahead
// block, new memos gather at the end of the file and go out together (about
// 1 MB at a time), and "next free" reaches the header when the file is
// flushed, as the record count of an exclusive table does.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/random_access_file.h"

namespace tavrel::kes04 {

inline constexpr uint64_t kMemoLockOffset = 0x40000000;
inline constexpr uint32_t kMemoHeaderSize = 512;
inline constexpr uint16_t kDefaultMemoBlockSize = 64;

enum class MemoFormat {
    kFoxPro,  // .FPT
    kDbase3,  // .DBT of dBASE III
    kDbase4,  // .DBT of dBASE IV
};

class MemoFile {
  public:
    // Opens an existing memo file. Returns 0, or kNoOpen/kErrOpen (missing,
    // no access), kErrData (header cut off or block size 0) with `*detail`.
    static int open(const std::filesystem::path& path, bool readOnly, bool shared,
                    std::chrono::milliseconds lockWait, std::unique_ptr<MemoFile>* out,
                    std::string* detail, MemoFormat format = MemoFormat::kFoxPro);
    // Creates a new, empty memo file (header only), replacing any old file.
    static int create(const std::filesystem::path& path, uint16_t blockSize,
                      std::unique_ptr<MemoFile>* out, std::string* detail);

    // Reads the memo at `block` (0 = no memo: empty text). Returns 0, or
    // kErrMemoCorrupt with `*detail` when the pointer or length leads outside
    // the file, or kErrRead.
    int read(uint32_t block, std::string* text, std::string* detail);

    // Stores `text` as a memo of `type` (1 = text). It goes over the memo's
    // old blocks (`oldBlock`, 0 = none) when it fits in them, else into new
    // blocks at the end; the old blocks are then left as they are. Empty text
    // stores nothing and gives block 0. Returns 0 with `*block` set, or
    // kErrWrite / kErrLock (r4locked as kLocked) / kErrMemoCorrupt.
    int write(uint32_t oldBlock, std::string_view text, uint32_t type, uint32_t* block,
              std::string* detail);

    // Writes the memos gathered so far (exclusive use), without a trip to the
    // disk. A table calls it before a record that may point at them reaches
    // its file.
    int writeGathered() { return writePending(); }
    // Puts written data on disk.
    int sync();

    uint32_t blockSize() const { return m_blockSize; }
    // The header's "next free block", read from the file now. Returns 0 or kErrRead.
    int nextFreeBlock(uint32_t* next);
    // The memo file's size in bytes. Returns 0 or kErrRead.
    int fileSize(uint64_t* size);

    // Writes what waits (best effort; sync() reports failures).
    ~MemoFile();
    MemoFile(const MemoFile&) = delete;
    MemoFile& operator=(const MemoFile&) = delete;

  private:
    MemoFile(std::unique_ptr<platform::RandomAccessFile> file, bool shared,
             std::chrono::milliseconds wait)
        : m_file(std::move(file)), m_shared(shared), m_lockWait(wait) {}
    bool exclusive() const { return !m_shared; }
    // Exactly `out.size()` bytes at `at`; kErrRead when the file has fewer.
    int readBytes(uint64_t at, std::span<uint8_t> out);
    int writeBytes(uint64_t at, std::span<const uint8_t> bytes);
    // Writes the gathered memos and the header's "next free" (exclusive use).
    int writePending();
    int currentSize(uint64_t* size);
    int readHeader(std::string* detail);
    int allocate(uint32_t blocks, uint32_t* first, std::string* detail);
    int writeMemo(uint32_t block, std::string_view text, uint32_t type);
    int readDbase3(uint64_t at, uint64_t size, std::string* text);
    uint64_t totalBytes(size_t textLength) const;

    std::unique_ptr<platform::RandomAccessFile> m_file;
    bool m_shared;
    std::chrono::milliseconds m_lockWait;
    MemoFormat m_format = MemoFormat::kFoxPro;
    uint32_t m_blockSize = kDefaultMemoBlockSize;
    uint32_t m_nextFree = 0;
    bool m_unsynced = false;  // Written since the last sync.

    // Exclusive use only.
    uint64_t m_size = 0;           // The file's size, waiting memos included.
    std::vector<uint8_t> m_tail;   // New memos not yet written; they end at m_size.
    uint64_t m_tailAt = 0;
    std::vector<uint8_t> m_ahead;  // Bytes read ahead from m_aheadAt.
    uint64_t m_aheadAt = 0;
    bool m_headerChanged = false;  // "next free" not yet in the header.
};

// Takes a lock (exclusive unless told), trying again until `wait` has passed. Returns 0,
// or kLocked when someone else still holds it, kErrLock on other failures.
int lockWithin(
    platform::RandomAccessFile& file, uint64_t offset, uint64_t length,
    std::chrono::milliseconds wait,
    platform::RandomAccessFile::LockKind kind = platform::RandomAccessFile::LockKind::kExclusive);

}  // namespace tavrel::kes04
