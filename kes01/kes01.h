/* KES01: the SHA-1 library (FIPS 180-1 message digests).
 *
 * A caller creates a hashing context, feeds it bytes, finalizes it and reads
 * the digest as five 32-bit words or as one 44-character text; then either
 * re-initializes the context for another message or destroys it.
 *
 *   SHACreateContext -> SHAUpdateHash ... -> SHAFinalize
 *     -> SHAGetHashValue / SHAGetHashString ... -> SHAInitialize or SHADestroyContext
 *
 * Handles are opaque pointer-sized integers; 0 is never a valid handle. The
 * library keeps a registry of the live contexts and checks every handle
 * against it before it touches the context, so a destroyed handle, or a value
 * that never was a handle, is refused with KES01_INVALID_HANDLE and no memory
 * is read through it.
 *
 * Every function but SHACreateContext returns 0 or one of the codes below,
 * checked in this order: the handle, then the context's state, then the
 * arguments. A refused call changes nothing: neither the context nor the
 * caller's output.
 *
 * Different contexts may be used from different threads at the same time; one
 * context must not be used from two threads at once.
 *
 * The compression runs on the processor's SHA instructions where it has them
 * (x86 SHA extensions), chosen once per process, and otherwise on portable
 * code; both give the same digests. The environment variable KES01_PORTABLE=1,
 * set before the first call, forces the portable code (for measurements).
 *
 * On 32-bit Windows the functions use the standard calling convention and are
 * exported by their undecorated names (KES01.def); elsewhere they are plain C
 * functions. The library's file name is "KES01.DLL" on every platform.
 */
#ifndef TAVREL_KES01_KES01_H
#define TAVREL_KES01_KES01_H

#include <stdint.h>

#if defined(_WIN32)
#define KES01_CALL __stdcall
#define KES01_EXPORT
#else
#define KES01_CALL
#define KES01_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A context handle: a pointer-sized integer, 0 for none. */
typedef intptr_t SHAContextHandle;

/* Result codes; the values are fixed and never renumbered. */
#define KES01_SUCCESS 0          /* the call did what it says */
#define KES01_INVALID_HANDLE 200 /* handle is 0, destroyed, or never was a context */
#define KES01_NOT_ACCEPTING 201  /* context is finalized: no more data accepted */
#define KES01_BAD_ARGUMENT 202   /* word index outside 0..4, or a null output pointer */
#define KES01_NOT_FINALIZED 203  /* digest not available yet: context not finalized */
#define KES01_BAD_LENGTH 204     /* negative length, or null data with a positive length */

/* The digest text: 44 characters and a terminating zero. */
#define KES01_HASH_STRING_SIZE 45

/* Creates a context ready for data (initial digest words, no bytes hashed).
 * Returns its handle, or 0 when memory is exhausted (nothing is allocated).
 * The caller releases it with SHADestroyContext. */
KES01_EXPORT SHAContextHandle KES01_CALL SHACreateContext(void);

/* Resets the context, in any state, to accept a new message.
 * Returns 0 or 200. */
KES01_EXPORT int32_t KES01_CALL SHAInitialize(SHAContextHandle handle);

/* Feeds `length` bytes at `data` into the hash; a length of 0 changes nothing.
 * The bytes are only read, during the call.
 * Returns 0, 200, 201 (already finalized) or 204 (negative length, or `data`
 * null with a positive length). */
KES01_EXPORT int32_t KES01_CALL SHAUpdateHash(SHAContextHandle handle, const void* data,
                                              int32_t length);

/* Pads the message, processes the last block(s) and makes the digest
 * available. Returns 0, 200 or 201 (already finalized). */
KES01_EXPORT int32_t KES01_CALL SHAFinalize(SHAContextHandle handle);

/* Stores digest word H[index] (index 0..4) at `value` as a native 32-bit
 * integer. Returns 0, 200, 203 (not finalized) or 202 (index outside 0..4, or
 * `value` null); `*value` is untouched unless the result is 0. */
KES01_EXPORT int32_t KES01_CALL SHAGetHashValue(SHAContextHandle handle, int32_t index,
                                                uint32_t* value);

/* Writes the digest text to `buffer`, which must hold at least 45 bytes: the
 * words H0..H4 as eight lower-case hexadecimal digits each, separated by
 * hyphens ("%08x-%08x-%08x-%08x-%08x"), and a terminating zero.
 * Returns 0, 200, 203 (not finalized) or 202 (`buffer` null); the buffer is
 * untouched unless the result is 0. */
KES01_EXPORT int32_t KES01_CALL SHAGetHashString(SHAContextHandle handle, char* buffer);

/* Wipes the context and releases it; the handle is invalid afterwards and is
 * refused with 200 from then on. Returns 0 or 200. */
KES01_EXPORT int32_t KES01_CALL SHADestroyContext(SHAContextHandle handle);

#ifdef __cplusplus
}
#endif

#endif /* TAVREL_KES01_KES01_H */
