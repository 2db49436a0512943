/* A C program linked against KES01.DLL: the header is plain C and the exports
 * have C linkage under their plain names. Exits non-zero on the first fault. */
#include <stdio.h>
#include <string.h>

#include "kes01/kes01.h"

static int failures = 0;

static void check(int condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

int main(void) {
    char text[KES01_HASH_STRING_SIZE + 1];
    uint32_t word = 0;
    SHAContextHandle handle = SHACreateContext();
    check(handle != 0, "create gives a handle");
    check(SHAUpdateHash(handle, "ab", 2) == KES01_SUCCESS, "update");
    check(SHAUpdateHash(handle, "c", 1) == KES01_SUCCESS, "second update");
    check(SHAGetHashString(handle, text) == KES01_NOT_FINALIZED, "text before finalize");
    check(SHAFinalize(handle) == KES01_SUCCESS, "finalize");
    memset(text, '#', sizeof text);
    check(SHAGetHashString(handle, text) == KES01_SUCCESS, "text");
    check(strcmp(text, "a9993e36-4706816a-ba3e2571-7850c26c-9cd0d89d") == 0, "digest of abc");
    check(text[45] == '#', "45 bytes written");
    check(SHAGetHashValue(handle, 3, &word) == KES01_SUCCESS && word == 0x7850c26cu, "word H3");
    check(SHAGetHashValue(handle, 5, &word) == KES01_BAD_ARGUMENT, "index 5");
    check(SHAInitialize(handle) == KES01_SUCCESS, "initialize");
    check(SHAFinalize(handle) == KES01_SUCCESS, "finalize empty");
    check(SHAGetHashString(handle, text) == KES01_SUCCESS &&
              strcmp(text, "da39a3ee-5e6b4b0d-3255bfef-95601890-afd80709") == 0,
          "digest of no bytes");
    check(SHADestroyContext(handle) == KES01_SUCCESS, "destroy");
    check(SHADestroyContext(handle) == KES01_INVALID_HANDLE, "destroy twice");
    check(SHAInitialize(0) == KES01_INVALID_HANDLE, "handle 0");
    return failures == 0 ? 0 : 1;
}
