/*
 * KES04.DLL: the xBase table engine's C interface.
 *
 * The engine reads and writes FoxPro-format tables: the .DBF data file, the
 * .FPT memo file (dBASE tables: the .DBT memo file) and (through its index
 * part) the structural .CDX index. The
 * function names are those of the CodeBase family, which the agent binds by
 * name at run time.
 *
 * Handles. `CODE4*`, `DATA4*`, `FIELD4*` and `TAG4*` are opaque, pointer-sized
 * handles; 0 (NULL) means "none" or "failed". A CODE4 comes from `code4initVB`
 * and lives until `code4initUndo`; a DATA4 from `d4open`/`d4create` lives until
 * `d4close`, `code4close` or `code4initUndo`; a FIELD4 or TAG4 lives as long as
 * its DATA4. Passing a handle after its end is a caller error the engine cannot
 * always detect.
 *
 * Results. Functions return 0 for success, a positive result code for an
 * expected outcome (3 end of file, 4 beginning of file, 5 no such record, 20
 * unique key refused, 50 locked, 60 not created, 70 not opened), or a negative
 * error code (see engine_codes.h: -60 open, -200 damaged data, -210 field
 * name, -1200 damaged memo, -1210 value does not fit the field, ...). A
 * failure also leaves its code in the CODE4, where `code4errorCode` reads and
 * clears it, and a sentence in English in `code4errorText`. The engine never
 * shows a message and never ends the process, whatever the files hold.
 *
 * Text. Texts passed in are NUL-terminated unless a length is given; bytes are
 * stored as they are (no code-page translation). Returned texts belong to the
 * engine; each function says how long its text stays valid.
 *
 * Threads. A CODE4 and everything opened through it are used from one thread.
 */
#ifndef KES04_H
#define KES04_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define KES04_API __declspec(dllexport)
#else
#define KES04_API __attribute__((visibility("default")))
#endif

typedef struct CODE4St CODE4;
typedef struct DATA4St DATA4;
typedef struct FIELD4St FIELD4;
typedef struct TAG4St TAG4;

/* A field for d4create. The list ends with an entry whose name is NULL.
 * Types: 'C' (length 1..254), 'N'/'F' (length 1..20, decimals 0 or at most
 * length - 2), 'D' (8), 'L' (1), 'M' (10; the table gets a .FPT memo file).
 * For D, L and M the length given is ignored. `nulls` is ignored (FoxPro 2.x
 * tables have no NULL support). */
typedef struct {
    const char* name;
    short type;
    unsigned short len;
    unsigned short dec;
    unsigned short nulls;
} FIELD4INFO;

/* A tag for d4create. The list ends with an entry whose name is NULL.
 * name: up to 10 letters, digits and '_' (a letter or '_' first).
 * expression: the key, e.g. "UPPER(NAME)", "CODE + DTOS(DAY)", "AMOUNT".
 * filter: a logical FOR expression such as ".NOT. DELETED()", or NULL/"".
 * unique: 0 none, 20 (or 15) refuse duplicates, 25 keep the first record of a key.
 * descending: 0 ascending, 10 descending. */
typedef struct {
    const char* name;
    const char* expression;
    const char* filter;
    short unique;
    unsigned short descending;
} TAG4INFO;

/* ---- the engine context ---------------------------------------------------- */

/* Starts an engine context with the default settings: shared access (0),
 * safety on (1), every err* setting on (1), read-only off. NULL when out of
 * memory. */
KES04_API CODE4* code4initVB(void);
/* Flushes and closes every table of the context; their DATA4 and FIELD4
 * handles end. Returns 0, or the first failure's code (all are closed anyway). */
KES04_API int code4close(CODE4* c4);
/* Closes every table and ends the context; `c4` is invalid afterwards.
 * Returns 0, or the first close failure's code. */
KES04_API int code4initUndo(CODE4* c4);
/* Returns the context's current error code and replaces it with `newCode`
 * (0 clears it). */
KES04_API int code4errorCode(CODE4* c4, int newCode);
/* A sentence describing the last failure ("" when none), valid until the
 * next call on the context. Cleared with the code by code4errorCode(c4, 0). */
KES04_API const char* code4errorText(CODE4* c4);

/* Settings. Each sets a value and returns the previous one (-1 for a NULL
 * context); they take effect at the next d4open/d4create. */
/* 0 shared (others may read and write; changes take byte-range locks),
 * 1 exclusive (nobody else may open the table), 2 others may only read. */
KES04_API int code4accessMode(CODE4* c4, int mode);
/* 1 (default): d4create refuses to replace an existing table (result 60);
 * 0: d4create replaces it. */
KES04_API int code4safety(CODE4* c4, int safety);
/* 1: a table that cannot be created is error -20; 0: result 60 only. */
KES04_API int code4errCreate(CODE4* c4, int value);
/* 1: a table that cannot be opened is error -60; 0: result 70 only. */
KES04_API int code4errOpen(CODE4* c4, int value);
/* 1: d4field with an unknown name records error -210; 0: it just returns NULL. */
KES04_API int code4errFieldName(CODE4* c4, int value);
/* 1: d4goLow to a record that does not exist records error -300; 0: it
 * returns 5 only. */
KES04_API int code4errGo(CODE4* c4, int value);
/* Kept for callers; skipping past either end always gives 3/4, never an error. */
KES04_API int code4errSkip(CODE4* c4, int value);
/* Kept for callers; the engine never shows messages whatever its value. */
KES04_API int code4errOff(CODE4* c4, int value);
/* 1: selecting an unknown tag records error -330; 0: it just fails. */
KES04_API int code4errTagName(CODE4* c4, int value);
/* 1: tables are opened read-only (changes fail with -1220); 0 (default): read-write. */
KES04_API int code4readOnly(CODE4* c4, int value);

/* ---- tables ------------------------------------------------------------------ */

/* Opens a table: `name` is the path with or without ".DBF" (found without
 * regard to case); its memo file and structural index open with it. The
 * table has no current record until the first move. NULL on failure (70/-60
 * missing or in use, -200 damaged header, -1200 damaged memo file header). */
KES04_API DATA4* d4open(CODE4* c4, const char* name);
/* Writes pending changes and closes the table; the handle ends even when the
 * result is a failure. */
KES04_API int d4close(DATA4* d4);
/* Creates a FoxPro 2.x table from `fields` (and, when `tags` is not NULL and
 * not empty, its structural index), opens it and returns its handle. NULL on
 * failure: 60/-20 exists already (safety on) or cannot be written, -210 bad
 * field name, -220 bad type/length, -230 record too long, -310 no index
 * support, -350 a tag's unique or descending code is none of TAG4INFO's
 * (refused before any file is touched), or the index part's code. */
KES04_API DATA4* d4create(CODE4* c4, const char* name, const FIELD4INFO* fields,
                          const TAG4INFO* tags);

/* Moves to the first record (physical order, or the selected tag's). 0, or 3
 * when the table is empty (end of file). */
KES04_API int d4top(DATA4* d4);
/* Moves to the last record. 0, or 3 when the table is empty. */
KES04_API int d4bottom(DATA4* d4);
/* Moves `count` records forward (negative: backward). 0; 3 past the last
 * record (end of file, blank record); 4 before the first (left on the first). */
KES04_API int d4skip(DATA4* d4, long count);
/* Moves to record number `recno`; with `goForWrite` non-zero in shared mode
 * the record is locked until d4unlock or the next move. 0; 5 when there is no
 * such record (the table is then at end of file). */
KES04_API int d4goLow(DATA4* d4, long recno, short goForWrite);
/* The record count (deleted records included), read from the file in shared
 * mode; -1 on failure. */
KES04_API long d4recCountDo(DATA4* d4);
/* The current record number (count + 1 at end of file, 0 before the first
 * move); -1 for a NULL handle. */
KES04_API long d4recNo(DATA4* d4);
/* 1 at end of file / beginning of file, else 0. */
KES04_API int d4eof(DATA4* d4);
KES04_API int d4bof(DATA4* d4);

/* Number of fields; -1 for a NULL handle. */
KES04_API short d4numFields(DATA4* d4);
/* Field number `j` (1-based), or NULL. */
KES04_API FIELD4* d4fieldJ(DATA4* d4, short j);
/* The field named `name` (without regard to case), or NULL (see code4errFieldName). */
KES04_API FIELD4* d4field(DATA4* d4, const char* name);
/* The field's name (upper case), valid as long as the table is open. */
KES04_API const char* f4name(FIELD4* f4);
/* The field's type letter ('C', 'N', ...), or -1 for a NULL handle. */
KES04_API int f4type(FIELD4* f4);
/* The field's stored width in bytes (10 or 4 for memo pointers). */
KES04_API long f4len_v(FIELD4* f4);
/* The field's decimals. */
KES04_API int f4decimals(FIELD4* f4);

/* Starts a new record; the record buffer keeps its contents (d4blank clears
 * it). With `useMemoEntries` 0 the memo fields start empty, otherwise they
 * keep the current record's memo texts (stored as new memos). 0 or an error. */
KES04_API int d4appendStart(DATA4* d4, short useMemoEntries);
/* Blanks every field of the current (or new) record and clears its deletion
 * mark (a blank record is a live record). */
KES04_API int d4blank(DATA4* d4);
/* Adds the record begun by d4appendStart at the end of the table and makes it
 * current (locked in shared mode). 0, -240 without d4appendStart, 20 or -340
 * when a unique tag refuses its key (nothing written), 50 when the append
 * lock stays taken. */
KES04_API int d4append(DATA4* d4);
/* Adds a blank record and makes it current. */
KES04_API int d4appendBlank(DATA4* d4);
/* 1 when the current record is marked deleted, 0 when not, a negative code on failure. */
KES04_API int d4deleted(DATA4* d4);
/* Marks the current record deleted (written with the record's other changes). */
KES04_API int d4delete(DATA4* d4);
/* Removes the deletion mark of the current record. */
KES04_API int d4recall(DATA4* d4);
/* Writes the current record's changes, the header, the memo and index files,
 * and puts them on disk. */
KES04_API int d4flush(DATA4* d4);
/* Writes the current record's changes and releases the table's record locks. */
KES04_API int d4unlock(DATA4* d4);
/* The table's data file path as opened, valid as long as the table is open. */
KES04_API const char* d4fileName(DATA4* d4);

/* The field's stored bytes in the current record (exactly f4len_v bytes, NOT
 * NUL-terminated; for memo fields the block pointer). Valid until the table
 * moves, the record is assigned or blanked, or the table closes. Read only:
 * assign through f4assignNVB / f4memoAssign. */
KES04_API const char* f4ptr(FIELD4* f4);
/* For memo fields the memo text, for other fields the stored bytes; always
 * NUL-terminated (a memo may also contain NUL bytes: use f4memoLen). Valid as
 * f4ptr's result. NULL on failure (damaged memo: -1200). */
KES04_API const char* f4memoPtr(FIELD4* f4);
/* The length of f4memoPtr's text; 0 on failure. */
KES04_API unsigned long f4memoLen(FIELD4* f4);
/* Assigns the NUL-terminated `text`: to a memo field as its memo text, to any
 * other field as f4assignNVB does. 0 or an error code. */
KES04_API int f4memoAssign(FIELD4* f4, const char* text);
/* Assigns `length` bytes of text (any bytes) to a memo field. */
KES04_API int f4memoAssignN(FIELD4* f4, const char* text, unsigned long length);
/* Assigns `length` bytes of text by the field's type: C padded with blanks or
 * cut; N and F right-aligned with the field's decimals (a number too wide is
 * stored as asterisks, as FoxPro does); D from "YYYYMMDD" or blank; L from
 * T/F/Y/N/? or blank; I, B, Y from numbers; T from "YYYYMMDDhhmmss"; M as
 * the memo text. 0, or -1210 when the text does not fit the type (the field
 * keeps its value). */
KES04_API int f4assignNVB(FIELD4* f4, const char* text, int length);

/* ---- tags of the structural index ----------------------------------------------- */

/* The tag named `name` (without regard to case) of the table's structural
 * index, or NULL when there is none (error -330 recorded when code4errTagName
 * is on). The handle stays valid as long as the table is open. */
KES04_API TAG4* d4tag(DATA4* d4, const char* name);
/* Makes `tag` the order of d4top, d4bottom, d4skip, d4seek and d4seekNext;
 * NULL selects physical record order. The current record stays current. */
KES04_API void d4tagSelect(DATA4* d4, TAG4* tag);
/* The selected tag, or NULL (physical order). */
KES04_API TAG4* d4tagSelected(DATA4* d4);
/* Finds `key` in the selected tag from its logical top (a descending tag
 * from its largest key). Character tags match a prefix: "AB" finds the first
 * key starting with "AB" (a key longer than the tag's is cut); numeric tags
 * take a number as text ("33.7"), date tags "CCYYMMDD", logical tags T/F.
 * The current record's changes are written first. Returns 0 when found
 * (positioned on the first matching record in tag order), 2 when not found
 * (positioned on the record whose key follows), 3 when nothing follows (end
 * of file), 80 when no tag is selected, or a negative error code. */
KES04_API int d4seek(DATA4* d4, const char* key);
/* Like d4seek, but continuing from the current record: when its key matches
 * `key`, moves to the next record in tag order and returns 0 if that one
 * matches too, 5 if it does not (positioned on it), 3 at the end. When the
 * current record's key does not match, behaves as d4seek. */
KES04_API int d4seekNext(DATA4* d4, const char* key);
/* The tag's name, key expression and filter expression ("" for none); valid
 * as long as the table is open. NULL for a NULL handle. */
KES04_API const char* t4alias(TAG4* t4);
KES04_API const char* t4expr(TAG4* t4);
KES04_API const char* t4filter(TAG4* t4);

#ifdef __cplusplus
}
#endif

#endif /* KES04_H */
