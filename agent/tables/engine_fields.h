// Reading and writing a table's fields by name through the engine binding.
//
// Tables come from the business application, so fields are always found by
// name, never by position or width. A field the table lacks reads as empty
// and a write to it is skipped without a log line; the engine's error code
// that the lookup may leave is read and cleared.
#pragma once

#include <string>
#include <string_view>

#include "agent/tables/database_engine.h"

namespace tavrel::tables {

// The field named `name` of `data`, or null (error code cleared, nothing logged).
FIELD4* findField(DatabaseEngine& engine, DATA4* data, const char* name);

// The field's stored bytes in the current record (fixed width, blanks kept;
// a memo field's block reference). Empty for a null field.
std::string rawFieldText(Kes04Library& library, FIELD4* field);
// The field's contents as text: a memo field's memo text, any other field's
// stored bytes. Empty for a null field or an unreadable memo.
std::string memoFieldText(Kes04Library& library, FIELD4* field);

// The memo-aware text of the field `name` of the current record, "" when missing.
std::string readField(DatabaseEngine& engine, DATA4* data, const char* name);
// Assigns `text` to the field `name` of the current record. Returns true when
// assigned; false when the field is missing (skipped silently) or the engine
// refused the value (error read, cleared and logged).
bool writeField(DatabaseEngine& engine, DATA4* data, const char* name, std::string_view text);

// Flushes `data`; a failure is read, cleared and logged. True when flushed.
bool flushTable(DatabaseEngine& engine, DATA4* data);
// Writes pending changes and releases the record locks; failures are logged.
bool unlockTable(DatabaseEngine& engine, DATA4* data);

}  // namespace tavrel::tables
