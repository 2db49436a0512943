// The plug-in point between a table and its indexes.
//
// The table engine knows nothing about index files. A table that has a
// structural index (header flag 0x01), or that is created with tags, asks the
// registered index factory for a `TableIndex`; from then on:
//   - every record change (append, field assignment, deletion mark, blanking)
//     passes `TableIndex::recordChanging` once, BEFORE the record bytes reach
//     the file; a non-zero result cancels the write and is the result of the
//     operation (a unique tag refusing a duplicate key, a damaged index);
//   - `d4top`, `d4bottom`, `d4skip` and `d4goLow` move in the order that
//     `TableIndex::selectedOrder` gives (null = physical record order);
//   - `flush` runs with the table's flush, `fileMayHaveChanged` whenever the
//     table takes a lock or navigates in shared mode.
//
// Dependencies run one way: the index library includes this header and the
// table's headers; the table library never includes index code. The shared
// library's C API layer registers the factory (`setIndexFactory`) once.
//
// Lifetime: the table owns its `TableIndex` (unique_ptr) and destroys it after
// its last flush, before it closes its own files. The `RecordLayout` and the
// `RecordSource` handed to the factory live as long as the table.
//
// Threads: none; a table and its index are used from one thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <vector>

#include "components/kes04/engine_codes.h"
#include "components/kes04/record_model.h"

namespace tavrel::kes04 {

// Raw record bytes: exactly `RecordLayout::recordLength` bytes, byte 0 the
// deletion flag (' ' live, '*' deleted), fields stored as in the file.
using RecordBytes = std::span<const uint8_t>;

// How the table was opened; the index opens its file the same way.
enum class AccessMode : int {
    kDenyNone = 0,   // Shared: others may read and write; every change takes locks.
    kDenyRW = 1,     // Exclusive: nobody else may open the table; no locks needed.
    kDenyWrite = 2,  // Others may only read.
};

// Read access to the table's records, for building and checking indexes.
// Both functions re-read the file in shared mode.
class RecordSource {
  public:
    virtual ~RecordSource() = default;
    // Number of records in the table (including those marked deleted).
    virtual uint32_t recordCount() = 0;
    // Copies record `recno` (1-based) into `out` (resized to the record length).
    // Returns 0, or a negative engine code (kErrEntry for a bad number, kErrRead).
    virtual int readRecord(uint32_t recno, std::vector<uint8_t>& out) = 0;
};

// A navigation order over the table's records. Record numbers are 1-based.
// Every function returns 0 when it sets `*recno` to a record, kEof/kBof when
// the order has no such record (an empty order answers kEof to both `top` and
// `bottom`), or a negative engine code on failure.
class RecordOrder {
  public:
    virtual ~RecordOrder() = default;
    // The first record in this order.
    virtual int top(uint32_t* recno) = 0;
    // The last record in this order.
    virtual int bottom(uint32_t* recno) = 0;
    // The record `count` steps away from the current record `from`, whose bytes
    // are `current` (so that a tag can find its key). Positive counts move
    // forward, negative backward. When the walk leaves the order, `*recno` is
    // the last record reached and the result is kEof (forward) or kBof
    // (backward). A current record that has no entry in the order (excluded by
    // a filter) starts from the entry nearest to where it would be.
    virtual int skip(uint32_t from, RecordBytes current, int64_t count, uint32_t* recno) = 0;
};

// The indexes of one open table (for a structural CDX: all its tags).
class TableIndex {
  public:
    virtual ~TableIndex() = default;

    // Called before the record bytes of `recno` change in the file: `before`
    // is the record as it stands (empty for an append, whose `recno` is the new
    // record's number), `after` what is about to be written. Returns 0 to let
    // the write go ahead, or a non-zero engine code (kUnique, kErrUnique,
    // kErrIndex, ...) to refuse it; the table then writes nothing and the
    // operation fails with that code. The table holds its record lock (or its
    // append lock) during the call.
    virtual int recordChanging(uint32_t recno, RecordBytes before, RecordBytes after) = 0;

    // Writes everything cached to disk. Returns 0 or a negative engine code.
    virtual int flush() = 0;

    // Another process may have written the index file since it was last read
    // (the table has just taken a lock, or is about to navigate, in shared
    // mode): drop whatever cache could now be stale.
    virtual void fileMayHaveChanged() = 0;

    // The order in which navigation moves, or null for physical order. The
    // object stays owned by the index and valid until the selection changes or
    // the index is destroyed.
    virtual RecordOrder* selectedOrder() = 0;
};

// What the table passes to the index factory.
struct IndexRequest {
    // The table's data file as opened (for example "/data/CUSTOMER.DBF"); the
    // structural index has the same base name with the extension ".CDX"
    // (found without regard to case).
    std::filesystem::path tablePath;
    const RecordLayout* layout = nullptr;  // Lives as long as the table.
    RecordSource* records = nullptr;       // Lives as long as the table.
    AccessMode accessMode = AccessMode::kDenyNone;
    bool readOnly = false;
    // True when the table is being created: make a new structural index
    // holding `tags` (replacing any old index file). False: open the existing
    // structural index (the table header carries flag 0x01).
    bool create = false;
    std::span<const TagSpec> tags;  // Only for create; valid during the call.
    bool safety = true;             // For create: false lets an existing index file be replaced.
    // For create: only check `tags` against the layout and give the result;
    // no file is touched and `*index` stays as it is.
    bool checkOnly = false;
    // How long the index's locks are tried before kLocked: the table's own lock wait.
    std::chrono::milliseconds lockWait{10000};
};

// Makes the index object of a table. Returns 0 and sets `*index`, or a
// non-zero engine code (kNoOpen/kErrOpen when the index file is missing,
// kErrIndex when it is damaged, kErrExpression/kErrTagInfo for a bad tag
// description), in which case the table's open or create fails with that code.
using IndexFactory = int (*)(const IndexRequest& request, std::unique_ptr<TableIndex>* index);

// Registers the factory that every table of the process uses from now on
// (null: none). Without a factory a table with the structural-index flag opens
// and works in physical order, and creating a table with tags fails with
// kErrIndex.
void setIndexFactory(IndexFactory factory);
// The registered factory, or null.
IndexFactory indexFactory();

}  // namespace tavrel::kes04
