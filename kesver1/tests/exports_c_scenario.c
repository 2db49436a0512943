#include "kesver1/tests/exports_c_scenario.h"

#include <stdio.h>
#include <string.h>

static int fail(char* message, size_t size, int step, const char* what) {
    snprintf(message, size, "step %d: %s", step, what);
    return step;
}

int kesver1RunCScenario(const struct Kesver1CExports* e, const char* path, char* message,
                        size_t size) {
    Kesver1String file = e->alloc(path, (unsigned int)strlen(path));
    Kesver1String parts[4] = {NULL, NULL, NULL, NULL};
    Kesver1String dotted = e->alloc("unchanged", 9);
    int result = 0;
    if (e->length(file) != strlen(path)) {
        result = fail(message, size, 1, "byte count of a new string");
    } else if (e->extract(&file) != 1) {
        result = fail(message, size, 2, "EXTRACTVERSIONINFO did not read the file");
    } else if (e->getVerInfo(KESVER1_PRODUCT_VERSION, &parts[0], &parts[1], &parts[2], &parts[3]) !=
               1) {
        result = fail(message, size, 3, "GET_VERINFO(32) failed");
    } else if (strcmp(parts[0], "2") || strcmp(parts[1], "3") || strcmp(parts[2], "4") ||
               strcmp(parts[3], "5005") || e->length(parts[3]) != 4) {
        result = fail(message, size, 4, "product version parts differ from 2.3.4.5005");
    } else if (e->returnVersion(KESVER1_PART1, &dotted) != 0 || strcmp(dotted, "unchanged")) {
        result = fail(message, size, 5, "GET_RETURNVERSION(1) changed the text");
    } else if (e->returnVersion(KESVER1_PRODUCT_VERSION | KESVER1_PART1 | KESVER1_PART4, &dotted) !=
                   1 ||
               strcmp(dotted, "2.5005")) {
        result = fail(message, size, 6, "GET_RETURNVERSION(41) is not 2.5005");
    }
    for (int i = 0; i < 4; ++i) e->release(parts[i]);
    e->release(dotted);
    e->release(file);
    return result;
}
