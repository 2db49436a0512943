#include "components/kes04/memo_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "components/kes04/engine_codes.h"
#include "platform/byte_order.h"
#include "platform/pause.h"

namespace tavrel::kes04 {

using platform::RandomAccessFile;

namespace {

constexpr uint32_t kBlockHeaderSize = 8;
// Exclusive use: how much is read ahead, and how much new memo data waits.
constexpr size_t kReadAheadBytes = 1 << 16;
constexpr size_t kTailBytes = 1 << 20;

uint64_t blocksFor(uint64_t bytes, uint32_t blockSize) {
    return (bytes + blockSize - 1) / blockSize;
}

}  // namespace

int lockWithin(RandomAccessFile& file, uint64_t offset, uint64_t length,
               std::chrono::milliseconds wait, RandomAccessFile::LockKind kind) {
    const auto deadline = platform::monotonicNow() + wait;
    auto pause = std::chrono::microseconds(200);
    for (;;) {
        int rc = file.lock(offset, length, kind, false);
        if (rc == 0) return 0;
        // Some systems report a lock held elsewhere as EACCES.
        if (rc != EAGAIN && rc != EACCES) return code(EngineCode::kErrLock);
        if (platform::monotonicNow() >= deadline) return code(EngineCode::kLocked);
        platform::pauseFor(pause);
        pause = std::min(pause * 2, std::chrono::microseconds(5000));
    }
}

int MemoFile::open(const std::filesystem::path& path, bool readOnly, bool shared,
                   std::chrono::milliseconds lockWait, std::unique_ptr<MemoFile>* out,
                   std::string* detail, MemoFormat format) {
    int error = 0;
    auto file = RandomAccessFile::open(
        path, readOnly ? RandomAccessFile::OpenMode::kRead : RandomAccessFile::OpenMode::kReadWrite,
        &error);
    if (!file) {
        *detail = "cannot open memo file " + path.string();
        return code(error == ENOENT ? EngineCode::kNoOpen : EngineCode::kErrOpen);
    }
    std::unique_ptr<MemoFile> memo(new MemoFile(std::move(file), shared, lockWait));
    memo->m_format = format;
    int rc = memo->readHeader(detail);
    if (rc == 0 && memo->exclusive() && memo->m_file->size(&memo->m_size) != 0) {
        *detail = "cannot read the size of the memo file";
        rc = code(EngineCode::kErrRead);
    }
    if (rc != 0) {
        *detail = path.string() + ": " + *detail;
        return rc;
    }
    *out = std::move(memo);
    return 0;
}

MemoFile::~MemoFile() { writePending(); }

int MemoFile::currentSize(uint64_t* size) {
    if (exclusive()) {
        *size = m_size;
        return 0;
    }
    return m_file->size(size) == 0 ? 0 : code(EngineCode::kErrRead);
}

int MemoFile::readBytes(uint64_t at, std::span<uint8_t> out) {
    if (!exclusive()) return m_file->readExactAt(at, out) == 0 ? 0 : code(EngineCode::kErrRead);
    if (!m_tail.empty() && at + out.size() > m_tailAt) {
        int rc = writePending();
        if (rc != 0) return rc;
    }
    if (at < m_aheadAt || at + out.size() > m_aheadAt + m_ahead.size()) {
        if (out.size() > kReadAheadBytes / 2) {
            return m_file->readExactAt(at, out) == 0 ? 0 : code(EngineCode::kErrRead);
        }
        m_ahead.resize(kReadAheadBytes);
        size_t got = 0;
        if (m_file->readAt(at, m_ahead, &got) != 0) got = 0;
        m_ahead.resize(got);
        m_aheadAt = at;
        if (got < out.size()) return code(EngineCode::kErrRead);
    }
    std::memcpy(out.data(), m_ahead.data() + (at - m_aheadAt), out.size());
    return 0;
}

int MemoFile::writeBytes(uint64_t at, std::span<const uint8_t> bytes) {
    m_unsynced = true;
    if (!exclusive()) return m_file->writeAt(at, bytes) == 0 ? 0 : code(EngineCode::kErrWrite);
    const uint64_t end = at + bytes.size();
    if (at < m_aheadAt + m_ahead.size() && end > m_aheadAt) m_ahead.clear();
    if (at == m_size) {
        // A new memo at the end joins the ones waiting.
        if (m_tail.empty()) m_tailAt = at;
        m_tail.insert(m_tail.end(), bytes.begin(), bytes.end());
        m_size = end;
        return m_tail.size() >= kTailBytes ? writePending() : 0;
    }
    if (!m_tail.empty() && at >= m_tailAt && end <= m_size) {
        std::memcpy(m_tail.data() + (at - m_tailAt), bytes.data(), bytes.size());
        return 0;
    }
    if (!m_tail.empty() && end > m_tailAt) {
        int rc = writePending();
        if (rc != 0) return rc;
    }
    if (m_file->writeAt(at, bytes) != 0) return code(EngineCode::kErrWrite);
    m_size = std::max(m_size, end);
    return 0;
}

int MemoFile::writePending() {
    if (!m_tail.empty()) {
        // Kept on a failure: the next flush tries again.
        if (m_file->writeAt(m_tailAt, m_tail) != 0) return code(EngineCode::kErrWrite);
        m_tail.clear();
    }
    if (m_headerChanged) {
        uint8_t header[4];
        if (m_format == MemoFormat::kFoxPro) {
            platform::storeBE32(header, m_nextFree);
        } else {
            platform::storeLE32(header, m_nextFree);
        }
        if (m_file->writeAt(0, header) != 0) return code(EngineCode::kErrWrite);
        m_headerChanged = false;
    }
    return 0;
}

int MemoFile::create(const std::filesystem::path& path, uint16_t blockSize,
                     std::unique_ptr<MemoFile>* out, std::string* detail) {
    int error = 0;
    auto file = RandomAccessFile::open(path, RandomAccessFile::OpenMode::kCreateTruncate, &error);
    if (!file) {
        *detail = "cannot create memo file " + path.string();
        return code(EngineCode::kErrCreate);
    }
    std::vector<uint8_t> header(kMemoHeaderSize, 0);
    const uint32_t first = uint32_t(blocksFor(kMemoHeaderSize, blockSize));
    platform::storeBE32(header.data(), first);
    platform::storeBE16(header.data() + 6, blockSize);
    // The header fills whole blocks, so the file ends on a block boundary.
    header.resize(size_t(first) * blockSize, 0);
    if (file->writeAt(0, header) != 0) {
        *detail = "cannot write memo file " + path.string();
        return code(EngineCode::kErrWrite);
    }
    std::unique_ptr<MemoFile> memo(new MemoFile(std::move(file), false, {}));
    memo->m_blockSize = blockSize;
    memo->m_nextFree = first;
    *out = std::move(memo);
    return 0;
}

int MemoFile::readHeader(std::string* detail) {
    uint8_t header[22];
    const size_t needed = m_format == MemoFormat::kDbase4 ? 22 : 8;
    if (m_file->readExactAt(0, std::span(header, needed)) != 0) {
        *detail = "memo file shorter than its " + std::to_string(needed) + "-byte header";
        return code(EngineCode::kErrData);
    }
    switch (m_format) {
        case MemoFormat::kFoxPro:
            m_nextFree = platform::loadBE32(header);
            m_blockSize = platform::loadBE16(header + 6);
            break;
        case MemoFormat::kDbase3:
            m_nextFree = platform::loadLE32(header);
            m_blockSize = 512;
            break;
        case MemoFormat::kDbase4:
            m_nextFree = platform::loadLE32(header);
            m_blockSize = platform::loadLE16(header + 20);
            if (m_blockSize == 0) m_blockSize = 512;
            break;
    }
    if (m_blockSize == 0) {
        *detail = "offset 6: memo block size 0";
        return code(EngineCode::kErrData);
    }
    return 0;
}

int MemoFile::read(uint32_t block, std::string* text, std::string* detail) {
    text->clear();
    if (block == 0) return 0;
    uint64_t size = 0;
    if (currentSize(&size) != 0) return code(EngineCode::kErrRead);
    const uint64_t at = uint64_t(block) * m_blockSize;
    if (at < kMemoHeaderSize || at + kBlockHeaderSize > size) {
        *detail = "memo pointer " + std::to_string(block) + " (offset " + std::to_string(at) +
                  ") lies outside the memo file of " + std::to_string(size) + " bytes";
        return code(EngineCode::kErrMemoCorrupt);
    }
    if (m_format == MemoFormat::kDbase3) {
        int rc = writePending();
        return rc != 0 ? rc : readDbase3(at, size, text);
    }
    uint8_t head[kBlockHeaderSize];
    if (int rc = readBytes(at, head); rc != 0) return rc;
    uint32_t length = platform::loadBE32(head + 4);
    if (m_format == MemoFormat::kDbase4) {
        if (platform::loadLE32(head) != 0x0008FFFF || platform::loadLE32(head + 4) < 8) {
            *detail = "memo at block " + std::to_string(block) + " has no dBASE IV block header";
            return code(EngineCode::kErrMemoCorrupt);
        }
        length = platform::loadLE32(head + 4) - kBlockHeaderSize;
    }
    if (length > size - at - kBlockHeaderSize) {
        *detail = "memo at block " + std::to_string(block) + " claims " + std::to_string(length) +
                  " bytes, but the file ends " + std::to_string(size - at - kBlockHeaderSize) +
                  " bytes after its header";
        return code(EngineCode::kErrMemoCorrupt);
    }
    text->resize(length);
    if (length == 0) return 0;
    return readBytes(at + kBlockHeaderSize,
                     std::span(reinterpret_cast<uint8_t*>(text->data()), length));
}

int MemoFile::readDbase3(uint64_t at, uint64_t size, std::string* text) {
    // The text runs to the first 0x1A (dBASE III ends a memo with two).
    std::vector<uint8_t> chunk(4096);
    while (at < size) {
        size_t got = 0;
        if (m_file->readAt(at, chunk, &got) != 0) return code(EngineCode::kErrRead);
        if (got == 0) break;
        auto end = std::find(chunk.begin(), chunk.begin() + std::ptrdiff_t(got), uint8_t(0x1A));
        text->append(chunk.begin(), end);
        if (end != chunk.begin() + std::ptrdiff_t(got)) break;
        at += got;
    }
    return 0;
}

uint64_t MemoFile::totalBytes(size_t textLength) const {
    return textLength + (m_format == MemoFormat::kDbase3 ? 2 : kBlockHeaderSize);
}

int MemoFile::allocate(uint32_t blocks, uint32_t* first, std::string* detail) {
    uint8_t header[4];
    const bool foxPro = m_format == MemoFormat::kFoxPro;
    if (m_shared) {
        if (m_file->readExactAt(0, header) != 0) return code(EngineCode::kErrRead);
        m_nextFree = foxPro ? platform::loadBE32(header) : platform::loadLE32(header);
    }
    uint64_t size = 0;
    if (currentSize(&size) != 0) return code(EngineCode::kErrRead);
    // Never write over bytes that exist: the header's pointer may lag behind
    // the file when another engine left data past it.
    uint64_t start = std::max<uint64_t>(m_nextFree, blocksFor(size, m_blockSize));
    start = std::max<uint64_t>(start, blocksFor(kMemoHeaderSize, m_blockSize));
    if (start + blocks > 0xFFFFFFFFu) {
        *detail = "memo file is full (block numbers exhausted)";
        return code(EngineCode::kErrWrite);
    }
    *first = uint32_t(start);
    m_nextFree = uint32_t(start + blocks);
    if (exclusive()) {
        m_headerChanged = true;
        return 0;
    }
    if (foxPro) {
        platform::storeBE32(header, m_nextFree);
    } else {
        platform::storeLE32(header, m_nextFree);
    }
    return m_file->writeAt(0, header) == 0 ? 0 : code(EngineCode::kErrWrite);
}

int MemoFile::writeMemo(uint32_t block, std::string_view text, uint32_t type) {
    m_unsynced = true;
    const uint64_t total = totalBytes(text.size());
    std::vector<uint8_t> bytes(size_t(blocksFor(total, m_blockSize) * m_blockSize), 0);
    switch (m_format) {
        case MemoFormat::kFoxPro:
            platform::storeBE32(bytes.data(), type);
            platform::storeBE32(bytes.data() + 4, uint32_t(text.size()));
            std::copy(text.begin(), text.end(), bytes.begin() + kBlockHeaderSize);
            break;
        case MemoFormat::kDbase4:
            platform::storeLE32(bytes.data(), 0x0008FFFF);
            platform::storeLE32(bytes.data() + 4, uint32_t(total));
            std::copy(text.begin(), text.end(), bytes.begin() + kBlockHeaderSize);
            break;
        case MemoFormat::kDbase3:
            std::copy(text.begin(), text.end(), bytes.begin());
            bytes[text.size()] = 0x1A;
            bytes[text.size() + 1] = 0x1A;
            break;
    }
    return writeBytes(uint64_t(block) * m_blockSize, bytes);
}

int MemoFile::write(uint32_t oldBlock, std::string_view text, uint32_t type, uint32_t* block,
                    std::string* detail) {
    *block = 0;
    if (text.empty()) return 0;
    if (!m_file->writable()) return code(EngineCode::kErrReadOnly);
    if (text.size() > 0xFFFFFFFFu - kBlockHeaderSize) return code(EngineCode::kErrValue);
    const uint64_t needed = blocksFor(totalBytes(text.size()), m_blockSize);
    if (oldBlock != 0 && m_format == MemoFormat::kFoxPro) {
        std::string old;
        std::string ignored;
        if (read(oldBlock, &old, &ignored) == 0 &&
            blocksFor(kBlockHeaderSize + old.size(), m_blockSize) >= needed) {
            *block = oldBlock;
            return writeMemo(oldBlock, text, type);
        }
    }
    if (m_shared) {
        int rc = lockWithin(*m_file, kMemoLockOffset, 1, m_lockWait);
        if (rc != 0) {
            *detail = "memo file is locked by another program";
            return rc;
        }
    }
    uint32_t first = 0;
    int rc = allocate(uint32_t(needed), &first, detail);
    if (rc == 0) rc = writeMemo(first, text, type);
    if (m_shared) m_file->unlock(kMemoLockOffset, 1);
    if (rc == 0) *block = first;
    return rc;
}

int MemoFile::nextFreeBlock(uint32_t* next) {
    if (int rc = writePending(); rc != 0) return rc;
    uint8_t header[4];
    if (m_file->readExactAt(0, header) != 0) return code(EngineCode::kErrRead);
    // Only FoxPro stores it big-endian; both dBASE memo files little-endian.
    *next =
        m_format == MemoFormat::kFoxPro ? platform::loadBE32(header) : platform::loadLE32(header);
    return 0;
}

int MemoFile::fileSize(uint64_t* size) {
    if (int rc = writePending(); rc != 0) return rc;
    return m_file->size(size) == 0 ? 0 : code(EngineCode::kErrRead);
}

int MemoFile::sync() {
    if (int rc = writePending(); rc != 0) return rc;
    if (!m_unsynced) return 0;
    m_unsynced = false;
    return m_file->sync() == 0 ? 0 : code(EngineCode::kErrWrite);
}

}  // namespace tavrel::kes04
