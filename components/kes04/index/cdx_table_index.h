// The structural compound index of an open table, plugged into the table
// through index_hook.h: every tag of the table's .CDX kept up to date with
// each record change, the selected tag as the table's navigation order, and
// the tag operations of the C interface (select, seek, seek-next).
//
// Sharing: unless the table is exclusive (kDenyRW), every change runs under an exclusive
// lock on byte 0x7FFFFFFE of the .CDX, and every read under a shared lock on
// the same byte (the byte FoxPro-family engines lock while they update an
// index); after taking it the index re-reads the change counter and drops
// its cached pages when another process wrote. Exclusive tables take no
// locks and write cached pages on flush.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "components/kes04/index/cdx_index.h"
#include "components/kes04/index_hook.h"
#include "platform/random_access_file.h"

namespace tavrel::kes04::cdx {

// A page store over an open file of the platform layer.
class FilePageStore final : public PageStore {
  public:
    explicit FilePageStore(std::unique_ptr<platform::RandomAccessFile> file)
        : m_file(std::move(file)) {}
    bool read(uint64_t offset, uint8_t* out, size_t count) override;
    bool write(uint64_t offset, const uint8_t* data, size_t count) override;
    uint64_t size() override;
    bool truncate(uint64_t size) override;
    bool flush() override;
    platform::RandomAccessFile& file() { return *m_file; }

  private:
    std::unique_ptr<platform::RandomAccessFile> m_file;
};

// The byte of the .CDX locked while the index is read (shared) or changed
// (exclusive).
inline constexpr uint64_t kIndexLockOffset = 0x7FFFFFFE;

// The engine's outcome code for an index result.
int engineCode(CdxStatus status);

class CdxTableIndex final : public TableIndex {
  public:
    // The factory to register with `setIndexFactory`: opens the table's
    // structural .CDX, or creates it with the request's tags.
    static int factory(const IndexRequest& request, std::unique_ptr<TableIndex>* out);

    ~CdxTableIndex() override;

    int recordChanging(uint32_t recno, RecordBytes before, RecordBytes after) override;
    int flush() override;
    void fileMayHaveChanged() override;
    RecordOrder* selectedOrder() override;

    CdxIndex& index() { return *m_index; }
    // The tag named `name` (case-insensitive), or null.
    CdxTag* findTag(std::string_view name) { return m_index->findTag(name); }
    // Makes `tag` (null = physical order) the navigation order.
    void select(CdxTag* tag);
    CdxTag* selected() const { return m_selected; }

    // Seeks `text` in the selected tag (a prefix for character tags, a number
    // or "CCYYMMDD" date otherwise). Returns 0 (found), kAfter (not found,
    // `*recno` = the record that follows) or kEof (nothing follows), kNoTag
    // when no tag is selected, or a negative engine code.
    int seek(std::string_view text, uint32_t* recno);
    // From the current record (`current` holds its bytes): when its key
    // matches `text`, moves to the next entry: 0 when that still matches,
    // kEntry when it does not, kEof at the end. Otherwise as `seek`.
    int seekNext(std::string_view text, uint32_t current, RecordBytes currentBytes,
                 uint32_t* recno);

    // Rebuilds the file from the table's records (exclusive use expected).
    int reindex();
    // Structural and data check of every tag; one line per fault.
    int check(std::vector<std::string>& problems);

    const std::string& lastError() const { return m_index->lastError(); }

  private:
    class TagOrder;
    CdxTableIndex() = default;
    // Takes the index lock in shared mode and refreshes; 0 or an engine code.
    int lock(bool forWrite);
    void unlock();
    int finish(int rc);

    std::unique_ptr<CdxIndex> m_index;
    FilePageStore* m_store = nullptr;  // owned by m_index
    kes04::RecordSource* m_records = nullptr;
    AccessMode m_mode = AccessMode::kDenyNone;
    bool m_readOnly = false;
    bool m_locked = false;
    CdxTag* m_selected = nullptr;
    std::unique_ptr<TagOrder> m_order;
    std::chrono::milliseconds m_lockWait{10000};
};

}  // namespace tavrel::kes04::cdx
