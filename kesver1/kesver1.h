/* KESVER1: version information of executable and library files.
 *
 * C interface of the shared library KESVER1.dll. EXTRACTVERSIONINFO reads a
 * file's version resource into the library's current-information record; the
 * GET_ exports read from that record; ABOUT_FILE shows the "About File" dialog.
 *
 * Strings are length-prefixed single-byte strings (Kesver1String): a pointer
 * to the first character, a 32-bit byte count in the four bytes before it and
 * a zero byte after the characters; null is the empty string. Make them with
 * SysAllocStringByteLen and release them with SysFreeString.
 *
 * A string passed by reference is the address of the caller's string
 * variable. An export that stores a text releases the string the variable held
 * (which may be null) and puts a new one there; the caller owns and releases
 * the final string. A null address is a caller error: the export then returns
 * 0 and changes nothing.
 *
 * The record is one per loaded library and meant for one calling thread.
 * No export throws or crashes on a damaged or foreign file; such a file simply
 * has no version resource.
 */
#ifndef KESVER1_KESVER1_H
#define KESVER1_KESVER1_H

#include <stdint.h>

#if defined(_WIN32)
/* The undecorated export names come from kesver1.def. */
#define KESVER1_CALL __stdcall
#define KESVER1_API
#else
#define KESVER1_CALL
#define KESVER1_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef char* Kesver1String;

/* Selector bits of `which`. */
#define KESVER1_PART1 1
#define KESVER1_PART2 2
#define KESVER1_PART3 4
#define KESVER1_PART4 8
#define KESVER1_FILE_VERSION 16
#define KESVER1_PRODUCT_VERSION 32 /* used only when KESVER1_FILE_VERSION is clear */

/* Clears the record and reads the version resource of the file `*path` into it.
 * Returns 1 on success; 0 when the file is missing, is not a PE file, or has no
 * (or a damaged) version resource; the record then stays cleared. */
KESVER1_API int32_t KESVER1_CALL EXTRACTVERSIONINFO(Kesver1String* path);

/* Stores the four parts of the record's file version (which has bit 16) or
 * product version (bit 32; bit 16 wins) as decimal texts. Returns 1; 0 when
 * neither bit is set, and the strings are left unchanged. */
KESVER1_API int32_t KESVER1_CALL GET_VERINFO(int32_t which, Kesver1String* part1,
                                             Kesver1String* part2, Kesver1String* part3,
                                             Kesver1String* part4);

/* GET_VERINFO with which = 16. */
KESVER1_API int32_t KESVER1_CALL GET_FILEVERSION(Kesver1String* part1, Kesver1String* part2,
                                                 Kesver1String* part3, Kesver1String* part4);

/* GET_VERINFO with which = 32. */
KESVER1_API int32_t KESVER1_CALL GET_PRODUCTVERSION(Kesver1String* part1, Kesver1String* part2,
                                                    Kesver1String* part3, Kesver1String* part4);

/* Stores the dotted text of the parts selected by bits 1, 2, 4, 8 of the file
 * (16) or product (32) version, e.g. "1.0.6.1006" for 31. Returns 1; 0 when
 * neither version bit is set, and the text is left unchanged. */
KESVER1_API int32_t KESVER1_CALL GET_RETURNVERSION(int32_t which, Kesver1String* text);

/* Reads the file `*path` without touching the record and returns part 4 (the
 * build number) of its file (16) or product (32) version; 0 when neither bit
 * is set or the file has no readable version information. */
KESVER1_API int32_t KESVER1_CALL EXTRACTFILEBUILDINFO(Kesver1String* path, int32_t which);

/* Shows the modal "About File" dialog for the file `fileName` in `folder` and
 * returns when it is closed; returns at once when the file has no version
 * resource. `owner` is the native handle (QWidget::winId) of a window of the
 * calling program to disable while the dialog is open, or 0. Works with or
 * without a Qt application object in the process (it makes one for the
 * dialog's life when there is none). Called from a thread other than the
 * application's, or where no display is available, it reads the file into the
 * record but shows no dialog. */
KESVER1_API void KESVER1_CALL ABOUT_FILE(intptr_t owner, Kesver1String folder,
                                         Kesver1String fileName);

#if !defined(_WIN32)
/* The platform's allocator of length-prefixed strings, for callers on systems
 * that have none: a new string of `length` bytes copied from `bytes` (zeros
 * when null), null when memory runs out. */
KESVER1_API Kesver1String SysAllocStringByteLen(const char* bytes, unsigned int length);
/* The byte count of `string`; 0 for null. */
KESVER1_API unsigned int SysStringByteLen(Kesver1String string);
/* Releases a string made by SysAllocStringByteLen or stored by an export. */
KESVER1_API void SysFreeString(Kesver1String string);
#endif

#ifdef __cplusplus
}
#endif

#endif /* KESVER1_KESVER1_H */
