// The .DBF table header: parsing and building.
//
// Table file layout (all integers little-endian):
//
//   offset  size  meaning
//   0       1     version byte (0x03 FoxPro 2.x, 0xF5 FoxPro 2.x with memo,
//                 0x30/0x31/0x32 Visual FoxPro, 0x83/0x8B dBASE with memo, ...)
//   1       3     date of last update: year % 100, month, day
//   4       4     record count (records marked deleted included)
//   8       2     header length = file offset of record 1
//   10      2     record length, deletion flag included
//   12      16    reserved (zeros)
//   28      1     table flags: 0x01 structural CDX, 0x02 memo (VFP), 0x04 DBC
//   29      1     code-page mark (kept as found; bytes are never translated)
//   30      2     reserved
//   32      32*n  field descriptors, then one 0x0D; VFP tables then hold a
//                 263-byte backlink area; more padding may follow up to the
//                 header length, which is the only place records are found from.
//
// Field descriptor (32 bytes):
//
//   0       11    name, ASCII, NUL-padded
//   11      1     type letter
//   12      4     displacement in the record (VFP only; not trusted: offsets
//                 are summed from the lengths, starting at 1)
//   16      1     length (Clipper-style C fields: length + 256 * decimals)
//   17      1     decimals
//   18      1     VFP field flags
//   19      13    VFP autoincrement and reserved bytes (zeros when we write)
//
// Record n starts at header_length + (n - 1) * record_length; byte 0 is ' '
// (live) or '*' (deleted). An optional 0x1A follows the last record.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "components/kes04/record_model.h"
#include "platform/byte_order.h"

namespace tavrel::kes04 {

inline constexpr size_t kDbfHeaderSize = 32;
inline constexpr size_t kFieldDescriptorSize = 32;
inline constexpr uint8_t kFieldTerminator = 0x0D;
inline constexpr uint8_t kEofMark = 0x1A;
inline constexpr uint8_t kFlagStructuralIndex = 0x01;
inline constexpr uint8_t kFlagMemo = 0x02;
inline constexpr size_t kMaxFieldNameLength = 10;

// The parsed fixed header and field list of a table.
struct DbfHeader {
    uint8_t version = 0x03;
    uint8_t year = 0;  // As stored (FoxPro: year % 100).
    uint8_t month = 1;
    uint8_t day = 1;
    uint32_t recordCount = 0;
    uint16_t headerLength = 0;
    uint8_t flags = 0;
    RecordLayout layout;  // Also carries the record length, version and code page.
};

// A field as `d4create` describes it.
struct FieldSpec {
    std::string name;
    char type = 'C';
    int length = 0;
    int decimals = 0;
};

// True for the version bytes the engine reads and writes.
bool isKnownVersion(uint8_t version);
// True for Visual FoxPro tables (0x30, 0x31, 0x32).
bool isVisualFoxPro(uint8_t version);
// True for field types whose contents live in the memo file.
bool isMemoType(char type);

// Parses the first 32 bytes of a table (`bytes` may be longer). Fills the
// fixed part of `*header`; returns 0 or kErrData with `*detail` saying what is
// wrong and where.
int parseFixedHeader(platform::ByteView bytes, DbfHeader* header, std::string* detail);

// Parses the field descriptors from the whole header (`bytes` holds at least
// header.headerLength bytes) and checks them against the record length.
// Returns 0 or kErrData with `*detail`.
int parseFieldDescriptors(platform::ByteView bytes, DbfHeader* header, std::string* detail);

// Checks field descriptions for a new table and makes its layout. Names are
// upper-cased. Returns 0, or kErrFieldName / kErrFieldType / kErrRecordLength
// with `*detail`.
int layoutForCreate(std::span<const FieldSpec> fields, RecordLayout* layout, std::string* detail);

// The complete header of a new FoxPro 2.x table (version 0x03, or 0xF5 when a
// field is a memo), with the given date and flags; 32 + 32 n + 1 bytes.
std::vector<uint8_t> buildHeader(const RecordLayout& layout, uint8_t flags, int year, int month,
                                 int day);

// A record with every field blank: spaces, except binary fields (I, B, Y, T,
// 4-byte memo pointers, _NullFlags), which are zero bytes.
std::vector<uint8_t> blankRecord(const RecordLayout& layout);

}  // namespace tavrel::kes04
