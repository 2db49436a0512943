// An open xBase table: the .DBF data file, its .FPT memo file and, through
// index_hook.h, its structural index.
//
// A table has a current record: a buffer holding one record's bytes, read
// when the table moves to it. Field assignments change the buffer; the change
// reaches the file (after the index hook has agreed) when the table moves to
// another record, flushes, appends or closes. Memo texts assigned to a record
// are kept with it and written to the memo file at the same moment.
//
// Positions: `recno()` is the current record number; after moving past the
// last record the table is at end of file (`eof()`, recno = count + 1, blank
// buffer); before the first, at beginning of file (`bof()`, on record 1).
//
// Sharing (see the lock table in table_locks.cpp): in shared mode every append
// takes the header lock and re-reads the record count, every record write
// takes that record's lock, memo allocation takes the memo lock; nothing is
// cached between calls. Exclusive and deny-write tables cache reads and gather
// appends in a write-behind buffer that `flush` (and `close`) empties.
//
// Errors: functions return 0, a positive result (kEof, kBof, kLocked, ...), or
// a negative engine code; `lastDetail()` then says what went wrong and where.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "components/kes04/dbf_format.h"
#include "components/kes04/index_hook.h"
#include "components/kes04/memo_file.h"
#include "platform/clock.h"
#include "platform/random_access_file.h"

namespace tavrel::kes04 {

struct TableOptions {
    AccessMode accessMode = AccessMode::kDenyNone;
    bool readOnly = false;
    std::chrono::milliseconds lockWait{10000};       // How long a lock is tried before kLocked.
    const platform::Clock* clock = nullptr;          // For the header's date; null = system clock.
    uint16_t memoBlockSize = kDefaultMemoBlockSize;  // For new memo files.
};

class Table final : public RecordSource {
  public:
    // Opens `path` (the data file; found without regard to case; ".DBF" is
    // added when the name has no extension). Returns 0 and sets `*out`, or
    // kNoOpen (missing), kErrOpen (in use in a conflicting mode, no access),
    // kErrData / kErrMemoCorrupt (damaged) with `*detail`.
    static int open(const std::filesystem::path& path, const TableOptions& options,
                    std::unique_ptr<Table>* out, std::string* detail);

    // Creates a FoxPro 2.x table (and its memo file when a field is a memo, and
    // its structural index through the index factory when `tags` is not
    // empty), then opens it. With `safety` an existing table is not replaced
    // (kNoCreate). Returns 0, kNoCreate, kErrCreate, kErrFieldName,
    // kErrFieldType, kErrRecordLength, kErrIndex or the factory's code.
    static int create(const std::filesystem::path& path, std::span<const FieldSpec> fields,
                      std::span<const TagSpec> tags, bool safety, const TableOptions& options,
                      std::unique_ptr<Table>* out, std::string* detail);

    ~Table() override;
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    // Writes what is pending and releases the files. The table is unusable
    // afterwards. Returns 0 or the first failure (files are released anyway).
    int close();

    const std::filesystem::path& path() const { return m_path; }
    const RecordLayout& layout() const { return m_header.layout; }
    const DbfHeader& header() const { return m_header; }
    TableIndex* index() { return m_index.get(); }
    const std::string& lastDetail() const { return m_detail; }
    bool hasMemoFile() const { return m_memo != nullptr; }
    uint32_t memoBlockSize() const { return m_memo ? m_memo->blockSize() : 0; }
    // The memo file, or null when the table has none. Owned by the table.
    MemoFile* memoFile() { return m_memo.get(); }
    // The data file's size in bytes (pending appends written first). Returns 0 or kErrRead.
    int dataFileSize(uint64_t* size);

    // Navigation (in the index's selected order when there is one).
    int top();
    int bottom();
    int skip(int64_t count);
    // Moves to record `recno`; with `forWrite` in shared mode the record is
    // locked (until `unlock` or the next move). kEntry for a number outside
    // 1..count (the table is then at end of file).
    int go(uint32_t recno, bool forWrite);
    uint32_t recno() const { return m_recno; }
    bool eof() const { return m_eof; }
    bool bof() const { return m_bof; }

    // The record count; re-read from the file in shared mode.
    uint32_t recordCount() override;
    int readRecord(uint32_t recno, std::vector<uint8_t>& out) override;

    // The current record's bytes.
    const uint8_t* record() const { return m_record.data(); }
    bool deleted() const { return m_record[0] == '*'; }
    // Marks the current record deleted or live (written like any change).
    int setDeleted(bool deleted);
    // Blanks every field of the current record and clears its deletion mark.
    int blank();

    // Starts a new record: the buffer keeps its contents (`blank` clears it);
    // with `useMemoEntries` false the memo fields start empty.
    int appendStart(bool useMemoEntries);
    // Adds the record started by `appendStart` at the end, makes it current
    // and (shared mode) leaves it locked. kErrAppend without `appendStart`.
    int append();
    // Adds a blank record.
    int appendBlank();

    // Writes the current record's changes now (as a move would), so that the
    // indexes hold them before a seek. Returns 0, or the write's failure.
    int writeRecord();

    // Writes the current record if changed, the header, the index and memo
    // files, and puts all of it on disk.
    int flush();
    // Writes the current record if changed, then releases this table's locks.
    int unlock();

    // Stores text into field `index` (0-based) of the current record by the
    // field's type; memo fields get the text as their memo.
    int assignText(size_t field, std::string_view text);
    // Stores raw bytes into a field (cut or padded with spaces; no conversion).
    int assignRaw(size_t field, std::string_view bytes);
    // The memo text of a memo field (read on first use, cached with the
    // record); for other fields the stored bytes. The pointer stays valid
    // until the field is assigned or the table moves or closes.
    int memoText(size_t field, const std::string** text);

  private:
    struct MemoSlot {
        bool loaded = false;
        bool changed = false;
        std::string text;
    };

    Table() = default;
    int openFiles(const std::filesystem::path& path, std::string* detail);
    int attachIndex(bool create, std::span<const TagSpec> tags, bool safety);
    // Moves to the first (or last) record in the selected order.
    int goToEnd(bool first);
    bool shared() const { return m_options.accessMode == AccessMode::kDenyNone; }
    bool cached() const { return !shared(); }

    int fail(int rc, std::string detail);
    int writeChanges();
    int writeMemos();
    int loadRecord(uint32_t recno);
    void setEof();
    int readRecordBytes(uint32_t recno, uint8_t* out);
    int writeRecordBytes(uint32_t recno, const uint8_t* bytes);
    // Writes the appended records and the changed cached records.
    int flushPending();
    // Notes `bytes` written at `at`; asks the disk to take them every few megabytes.
    void startWriteBack(uint64_t at, uint64_t bytes);
    int writeBackCache();
    // Writes the memos the memo file gathered: a record written to the file
    // must not point past what the memo file holds, should the program end.
    int writeMemosFirst();
    int writeHeaderCount(bool underLock);
    int rereadCount(uint32_t* count);
    void stampDate(uint8_t* threeBytes) const;
    void forgetMemos();

    // Lock positions (table_locks.cpp explains the schemes).
    uint64_t headerLockOffset() const;
    uint64_t recordLockOffset(uint32_t recno) const;
    int lockRecord(uint32_t recno);
    void releaseRecordLocks();
    int lockHeader();
    void unlockHeader();
    int takeShareLocks();
    int checkDataExtent(std::string* detail);

    std::filesystem::path m_path;
    TableOptions m_options;
    DbfHeader m_header;
    std::unique_ptr<platform::RandomAccessFile> m_file;
    std::unique_ptr<MemoFile> m_memo;
    std::unique_ptr<TableIndex> m_index;
    bool m_newLockScheme = false;

    uint32_t m_count = 0;           // Records known to exist.
    uint32_t m_diskCount = 0;       // Count as written in the file header.
    bool m_headerDirty = false;     // Count or date to be written.
    bool m_eofMarkPending = false;  // Whether the 0x1A still has to follow the last record.
    bool m_unsynced = false;        // Written since the last sync.
    // Cached blocks written back since the disk was last asked to take them.
    uint64_t m_writeBackFrom = 0, m_writeBackEnd = 0;

    uint32_t m_recno = 0;
    bool m_eof = true;
    bool m_bof = false;
    bool m_appending = false;
    bool m_changed = false;
    std::vector<uint8_t> m_record;
    std::vector<uint8_t> m_original;   // The current record as it stands in the file.
    std::vector<uint8_t> m_scratch;    // Read buffer, kept to spare an allocation per record.
    std::vector<MemoSlot> m_memos;     // One per field (used for memo fields only).
    std::vector<size_t> m_memoFields;  // The numbers (from 0) of the memo fields.
    std::vector<uint32_t> m_lockedRecords;

    // Exclusive-mode caches.
    std::vector<uint8_t> m_pending;  // Appended records not yet written.
    uint64_t m_pendingOffset = 0;
    // Records read ahead; changed records are written into it and go to the
    // file as one write (the range m_dirtyFirst..m_dirtyEnd) when the block is
    // replaced or the table is flushed.
    std::vector<uint8_t> m_readCache;
    uint32_t m_cacheFirst = 0;  // Record number of the first cached record (0 = none).
    uint32_t m_cacheCount = 0;
    uint32_t m_dirtyFirst = 0;  // First changed cached record (0 = none).
    uint32_t m_dirtyEnd = 0;    // One past the last.

    std::string m_detail;
    bool m_closed = false;
};

}  // namespace tavrel::kes04
