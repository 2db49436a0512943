// The engine's outcome numbers.
//
// Every engine function that can fail returns one of these (as a plain int at
// the C API). Zero and the positive values are results a caller expects in
// normal work; the negative values are errors, which the engine context also
// records for `code4errorCode`. The numbers are those of the CodeBase family,
// which the business application's programs know; never renumber them.
#pragma once

namespace tavrel::kes04 {

enum class EngineCode : int {
    // Results.
    kSuccess = 0,          // r4success: done, or positioned on a record.
    kFound = 1,            // r4found: a seek found its key.
    kAfter = 2,            // r4after: a seek stopped on the following key.
    kEof = 3,              // r4eof: moved past the last record.
    kBof = 4,              // r4bof: moved before the first record.
    kEntry = 5,            // r4entry: no such record / tag entry.
    kDescending = 10,      // r4descending: tag order value for descending tags.
    kCandidate = 15,       // r4candidate: candidate key refused a duplicate.
    kUnique = 20,          // r4unique: unique tag refused a duplicate key.
    kUniqueContinue = 25,  // r4uniqueContinue: tag keeps only the first record of a key.
    kLocked = 50,          // r4locked: a lock is held by someone else.
    kNoCreate = 60,        // r4noCreate: the file could not be created (exists, or no access).
    kNoOpen = 70,          // r4noOpen: the file could not be opened.
    kNoTag = 80,           // r4noTag: no such tag.

    // Errors.
    kErrClose = -10,           // e4close: closing a file failed.
    kErrCreate = -20,          // e4create: creating a file failed.
    kErrLength = -30,          // e4len: a file length could not be read or set.
    kErrLock = -50,            // e4lock: a lock could not be taken in time.
    kErrOpen = -60,            // e4open: opening a file failed.
    kErrRead = -100,           // e4read: reading a file failed.
    kErrWrite = -150,          // e4write: writing a file failed.
    kErrData = -200,           // e4data: the file is not a valid table or memo file.
    kErrFieldName = -210,      // e4fieldName: no field of that name, or a bad name.
    kErrFieldType = -220,      // e4fieldType: unknown field type, or a bad length for it.
    kErrRecordLength = -230,   // e4recordLen: record length out of range.
    kErrAppend = -240,         // e4append: append without d4appendStart.
    kErrEntry = -300,          // e4entry: a record number out of range.
    kErrIndex = -310,          // e4index: the index file is damaged or cannot be used.
    kErrTagName = -330,        // e4tagName: no tag of that name.
    kErrUnique = -340,         // e4unique: a unique key would be duplicated.
    kErrTagInfo = -350,        // e4tagInfo: a tag description is invalid.
    kErrExpression = -400,     // e4expression: a key or filter expression is invalid.
    kErrMemoCorrupt = -1200,   // the memo file or a memo pointer is damaged.
    kErrValue = -1210,         // a text cannot be stored in the field (bad date, logical...).
    kErrInfo = -910,           // e4info: an internal inconsistency.
    kErrMemory = -920,         // e4memory: out of memory.
    kErrParameter = -930,      // e4parm: an argument is invalid.
    kErrParameterNull = -935,  // e4parmNull: a required argument is null.
    kErrReadOnly = -1220,      // the table was opened read-only.
};

constexpr int code(EngineCode c) { return static_cast<int>(c); }

}  // namespace tavrel::kes04
