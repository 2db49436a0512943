// Field contents as text, and text stored into fields, by field type.
//
// Stored forms (see dbf_format.h for the record layout):
//   C  bytes, right-padded with spaces
//   N F  ASCII number right-aligned in the width, exactly `decimals` digits
//        after the '.', all spaces when empty, all '*' when it did not fit
//   D  "YYYYMMDD", 8 spaces when empty
//   L  'T' / 'F' (read also 't','Y','y' as true), '?' or ' ' when not set
//   I  int32 LE;  B  IEEE double LE;  Y  int64 LE = value * 10000
//   T  int32 LE Julian day number, then int32 LE milliseconds since midnight
// Memo fields (M G P W) hold a block pointer; their text lives in the memo file
// (memo_file.h); see `memoBlock`/`storeMemoBlock`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "components/kes04/record_model.h"

namespace tavrel::kes04 {

// The field's value as a person reads it: C right-trimmed; N and F trimmed;
// D as "YYYYMMDD" or empty; L as "T" or "F"; I as an integer; B with the
// field's decimals (or the shortest exact form); Y with four decimals; T as
// "YYYYMMDDhhmmss" or empty; other types as their bytes, right-trimmed.
// Memo fields give their pointer text here (the memo text comes from the memo file).
std::string displayText(const FieldLayout& field, const uint8_t* record);

// Stores `text` into the field's bytes of `record` by the field's type:
// C padded with spaces or cut; N/F parsed like VAL() (leading number, garbage
// after it ignored, no number = 0), rounded half away from zero to the field's
// decimals, right-aligned, all '*' when too wide, blank text = blank field;
// D from "YYYYMMDD" (checked as a calendar date) or blank; L from T/F/Y/N/?
// (either case, dots ignored) or blank; I, B, Y from numbers; T from
// "YYYYMMDD[hhmmss]" or blank. Returns 0, kErrValue when the text does not
// fit the type (record unchanged), or kErrFieldType for memo and unsupported
// types.
int assignText(const FieldLayout& field, uint8_t* record, std::string_view text);

// Formats a decimal number given as text into `width` characters with
// `decimals` digits after the point; all '*' when it does not fit. Empty
// optional result when `text` holds only blanks.
std::string formatNumber(std::string_view text, uint32_t width, unsigned decimals, bool* blank);

// The memo block number a memo field points to (0 = no memo). Returns false
// when the pointer is not a number (a damaged record).
bool memoBlock(const FieldLayout& field, const uint8_t* record, uint32_t* block);
// Stores a memo block number (0 = blank pointer) into the field.
void storeMemoBlock(const FieldLayout& field, uint8_t* record, uint32_t block);

// Julian day number of a proleptic Gregorian date, and back.
int64_t julianDay(int year, int month, int day);
void civilFromJulianDay(int64_t jdn, int* year, int* month, int* day);

}  // namespace tavrel::kes04
