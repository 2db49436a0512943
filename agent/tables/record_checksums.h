// Record checksums of the application's tables.
//
// CHECK_SUM holds, in every record, the checksum text (MakeChecksumText) of
// the raw stored bytes of fields 2 to the last; CHECK_SUM1 that of their
// memo-aware contents (a memo field's text in place of its block reference).
// Field 1 is where the checksum field stands and is left out.
//
// When the checksum library cannot be loaded or one of its calls fails, no
// checksum is made: stamping writes nothing for that record and reports the
// failure, verification reports a mismatch, and the reason is logged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/tables/database_engine.h"
#include "agent/tables/kes01_library.h"

namespace tavrel::tables {

// What a stamping run does to the table when it ends.
enum class StampingMode : int32_t {
    kNone = 0,            // neither (also any value not below)
    kUnlock = 1000,       // unlock the table
    kFlush = 2000,        // flush the table
    kFlushUnlock = 3000,  // flush, then unlock
};

// Results of the checksum operations.
enum class ChecksumResult : int32_t {
    kDone = 0,         // stamped (or no checksum field to stamp)
    kNotMade = -1,     // a checksum could not be made; the reason is logged
    kVerified = 3211,  // every record matched, or nothing to verify
    kMismatch = 3222,  // a record's CHECK_SUM1 does not match (or could not be checked)
};

// The engine and the checksum library the operations use; both borrowed.
struct ChecksumTools {
    DatabaseEngine& engine;
    Kes01Library& kes01;
};

// The raw and the memo-aware record text of the current record.
std::string RawRecordText(DatabaseEngine& engine, DATA4* data);
std::string MemoRecordText(DatabaseEngine& engine, DATA4* data);

// Writes CHECK_SUM of the current record, then applies `mode`. kNotMade when
// no checksum could be made or the table lacks CHECK_SUM (nothing written;
// the mode is still applied).
ChecksumResult StampRecordChecksum(ChecksumTools& tools, DATA4* data, int32_t mode);
// Flushes and unlocks, writes CHECK_SUM of every record (deleted ones too) in
// physical order, then applies `mode` once. kNotMade, with nothing written,
// when the library cannot make a checksum; a failure on a later record (a
// checksum not made, a change the engine could not write) stops the run
// there and is kNotMade too, as is a flush of the mode that failed.
ChecksumResult StampTableChecksums(ChecksumTools& tools, DATA4* data, int32_t mode);
// CHECK_SUM of one record after another, as StampTableChecksums makes them:
// the fields looked up once and one hashing context for the whole run. For a
// run that visits the records itself (a copy stamping each record it adds).
class ChecksumStamper {
  public:
    ChecksumStamper(ChecksumTools& tools, DATA4* data);
    ChecksumStamper(const ChecksumStamper&) = delete;
    ChecksumStamper& operator=(const ChecksumStamper&) = delete;

    // Whether the table has CHECK_SUM.
    bool present() const { return m_checksumField != nullptr; }
    // Assigns CHECK_SUM of the current record; the engine writes it with the
    // record's next move or flush. False, with the reason logged, when no
    // checksum was made or the assignment failed (or there is no CHECK_SUM).
    bool stampCurrent(long recno);

  private:
    // The record text where the fields lie side by side in the record, as
    // they do when no name repeats: one stretch of the record buffer.
    std::string_view adjacentText() const;

    ChecksumTools& m_tools;
    std::vector<FIELD4*> m_fields;
    FIELD4* m_checksumField = nullptr;
    size_t m_textLength = 0;  // when the fields lie side by side, else 0
    ChecksumMaker m_maker;
    std::string m_text;
};

// Ends a run of a ChecksumStamper as StampTableChecksums ends its own: applies
// `mode`. kDone, or kNotMade when the flush the mode asks for failed.
ChecksumResult FinishStamping(ChecksumTools& tools, DATA4* data, int32_t mode);

// StampTableChecksums when the table has a field named CHECK_SUM (trimmed,
// any case); otherwise nothing happens, not even the mode, and kDone.
ChecksumResult StampChecksumsIfPresent(ChecksumTools& tools, DATA4* data, int32_t mode);
// Writes CHECK_SUM1 of every record when the field exists; flushes and
// unlocks before and after. kDone, or kNotMade as StampTableChecksums.
ChecksumResult StampTableChecksum1(ChecksumTools& tools, DATA4* data);
// Checks CHECK_SUM1 of every record up to the first blank one: kVerified, or
// kMismatch with `*mismatch` (when given) set to the first failing record
// number. A checksum that cannot be made counts as a mismatch.
ChecksumResult VerifyTableChecksum1(ChecksumTools& tools, DATA4* data, long* mismatch = nullptr);

}  // namespace tavrel::tables
