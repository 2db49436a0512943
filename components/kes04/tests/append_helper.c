/* A second program for the shared-access tests: opens TABLE through KES04.DLL
 * in shared mode and appends COUNT records, each with ID (C), N (N) and a memo
 * NOTES holding "TAG-<n>" followed by <n mod 500> letters.
 *   kes04_append_helper LIBRARY TABLE TAG COUNT
 * Exit code 0 when every append succeeded. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "components/kes04/kes04.h"

#define BIND(name) name##_t name = (name##_t)dlsym(library, #name)

typedef CODE4* (*code4initVB_t)(void);
typedef int (*code4initUndo_t)(CODE4*);
typedef int (*code4errorCode_t)(CODE4*, int);
typedef const char* (*code4errorText_t)(CODE4*);
typedef DATA4* (*d4open_t)(CODE4*, const char*);
typedef int (*d4close_t)(DATA4*);
typedef int (*d4appendStart_t)(DATA4*, short);
typedef int (*d4blank_t)(DATA4*);
typedef int (*d4append_t)(DATA4*);
typedef FIELD4* (*d4field_t)(DATA4*, const char*);
typedef int (*f4assignNVB_t)(FIELD4*, const char*, int);
typedef int (*f4memoAssign_t)(FIELD4*, const char*);

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    void* library = dlopen(argv[1], RTLD_NOW);
    if (!library) return 3;
    BIND(code4initVB);
    BIND(code4initUndo);
    BIND(code4errorCode);
    BIND(code4errorText);
    BIND(d4open);
    BIND(d4close);
    BIND(d4appendStart);
    BIND(d4blank);
    BIND(d4append);
    BIND(d4field);
    BIND(f4assignNVB);
    BIND(f4memoAssign);
    CODE4* c4 = code4initVB();
    DATA4* d4 = d4open(c4, argv[2]);
    if (!d4) {
        fprintf(stderr, "open: %d %s\n", code4errorCode(c4, 0), code4errorText(c4));
        return 4;
    }
    FIELD4* id = d4field(d4, "ID");
    FIELD4* n = d4field(d4, "N");
    FIELD4* notes = d4field(d4, "NOTES");
    int count = atoi(argv[4]);
    char text[600], number[32];
    for (int i = 0; i < count; ++i) {
        snprintf(text, sizeof text, "%s-%d", argv[3], i);
        snprintf(number, sizeof number, "%d", i);
        int rc = d4appendStart(d4, 0);
        if (rc == 0) rc = d4blank(d4);
        if (rc == 0) rc = f4assignNVB(id, text, (int)strlen(text));
        if (rc == 0) rc = f4assignNVB(n, number, (int)strlen(number));
        size_t len = strlen(text);
        memset(text + len, 'a' + i % 26, (size_t)(i % 500));
        text[len + (size_t)(i % 500)] = 0;
        if (rc == 0) rc = f4memoAssign(notes, text);
        if (rc == 0) rc = d4append(d4);
        if (rc != 0) {
            fprintf(stderr, "append %d: %d %s\n", i, rc, code4errorText(c4));
            return 5;
        }
    }
    if (d4close(d4) != 0) return 6;
    code4initUndo(c4);
    return 0;
}
