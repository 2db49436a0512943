/* A caller written in C: runs the usual sequence of calls through export
 * pointers that the test bound by name. */
#ifndef KESVER1_TESTS_EXPORTS_C_SCENARIO_H
#define KESVER1_TESTS_EXPORTS_C_SCENARIO_H

#include <stddef.h>

#include "kesver1/kesver1.h"

#ifdef __cplusplus
extern "C" {
#endif

struct Kesver1CExports {
    int32_t(KESVER1_CALL* extract)(Kesver1String*);
    int32_t(KESVER1_CALL* getVerInfo)(int32_t, Kesver1String*, Kesver1String*, Kesver1String*,
                                      Kesver1String*);
    int32_t(KESVER1_CALL* returnVersion)(int32_t, Kesver1String*);
    Kesver1String (*alloc)(const char*, unsigned int);
    unsigned int (*length)(Kesver1String);
    void (*release)(Kesver1String);
};

/* Reads `path` and checks its product version 2.3.4.5005 the way a C program
 * would. Returns 0, or a failing step's number with `message` filled in. */
int kesver1RunCScenario(const struct Kesver1CExports* exports, const char* path, char* message,
                        size_t size);

#ifdef __cplusplus
}
#endif

#endif
