/* The C interface of KES04.DLL as the agent uses it: the library is loaded by
 * file name and every function is bound by name.
 *   kes04_c_api_test PATH/KES04.DLL
 * Exit code 0 when every check holds; each failed check is printed. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "components/kes04/kes04.h"

static void* library;
static int failures;

#define CHECK(condition)                                                            \
    do {                                                                            \
        if (!(condition)) {                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
            ++failures;                                                             \
        }                                                                           \
    } while (0)

static void* bind(const char* name) {
    void* symbol = dlsym(library, name);
    if (!symbol) {
        fprintf(stderr, "missing export %s\n", name);
        exit(3);
    }
    return symbol;
}

#define FN(ret, name, args) ret(*name) args = (ret(*) args)bind(#name)

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    library = dlopen(argv[1], RTLD_NOW);
    if (!library) {
        fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 3;
    }
    FN(CODE4*, code4initVB, (void));
    FN(int, code4close, (CODE4*));
    FN(int, code4initUndo, (CODE4*));
    FN(int, code4errorCode, (CODE4*, int));
    FN(int, code4accessMode, (CODE4*, int));
    FN(int, code4safety, (CODE4*, int));
    FN(int, code4errCreate, (CODE4*, int));
    FN(int, code4errOpen, (CODE4*, int));
    FN(int, code4errFieldName, (CODE4*, int));
    FN(int, code4errGo, (CODE4*, int));
    FN(int, code4errSkip, (CODE4*, int));
    FN(int, code4errOff, (CODE4*, int));
    FN(int, code4errTagName, (CODE4*, int));
    FN(DATA4*, d4open, (CODE4*, const char*));
    FN(int, d4close, (DATA4*));
    FN(DATA4*, d4create, (CODE4*, const char*, const FIELD4INFO*, const TAG4INFO*));
    FN(int, d4top, (DATA4*));
    FN(int, d4skip, (DATA4*, long));
    FN(int, d4goLow, (DATA4*, long, short));
    FN(long, d4recCountDo, (DATA4*));
    FN(short, d4numFields, (DATA4*));
    FN(FIELD4*, d4fieldJ, (DATA4*, short));
    FN(FIELD4*, d4field, (DATA4*, const char*));
    FN(const char*, f4name, (FIELD4*));
    FN(int, f4type, (FIELD4*));
    FN(long, f4len_v, (FIELD4*));
    FN(int, d4appendStart, (DATA4*, short));
    FN(int, d4blank, (DATA4*));
    FN(int, d4append, (DATA4*));
    FN(int, d4appendBlank, (DATA4*));
    FN(int, d4deleted, (DATA4*));
    FN(int, d4delete, (DATA4*));
    FN(int, d4flush, (DATA4*));
    FN(int, d4unlock, (DATA4*));
    FN(const char*, d4fileName, (DATA4*));
    FN(const char*, f4ptr, (FIELD4*));
    FN(const char*, f4memoPtr, (FIELD4*));
    FN(unsigned long, f4memoLen, (FIELD4*));
    FN(int, f4memoAssign, (FIELD4*, const char*));
    FN(int, f4assignNVB, (FIELD4*, const char*, int));
    FN(TAG4*, d4tag, (DATA4*, const char*));
    FN(void, d4tagSelect, (DATA4*, TAG4*));
    FN(int, d4seek, (DATA4*, const char*));
    FN(int, d4seekNext, (DATA4*, const char*));
    FN(long, d4recNo, (DATA4*));

    char folder[] = "/tmp/kes04-capi-XXXXXX";
    if (!mkdtemp(folder)) return 4;
    char path[256];
    snprintf(path, sizeof path, "%s/HISTORY", folder);

    CODE4* c4 = code4initVB();
    CHECK(c4 != NULL);
    /* The conversion settings: each returns the value it replaces. */
    CHECK(code4accessMode(c4, 1) == 0);
    CHECK(code4safety(c4, 0) == 1);
    CHECK(code4errCreate(c4, 0) == 1);
    CHECK(code4errOpen(c4, 0) == 1);
    CHECK(code4errFieldName(c4, 0) == 1);
    CHECK(code4errGo(c4, 0) == 1);
    CHECK(code4errSkip(c4, 0) == 1);
    CHECK(code4errOff(c4, 1) == 0);
    CHECK(code4errTagName(c4, 0) == 1);
    CHECK(code4accessMode(c4, 1) == 1);

    FIELD4INFO fields[] = {{"UPD_ID", 'C', 10, 0, 0},  {"AMOUNT", 'N', 9, 2, 0},
                           {"UPD_DATE", 'D', 8, 0, 0}, {"DONE", 'L', 1, 0, 0},
                           {"REPORT", 'M', 10, 0, 0},  {NULL, 0, 0, 0, 0}};
    DATA4* d4 = d4create(c4, path, fields, NULL);
    CHECK(d4 != NULL);
    if (!d4) return 5;
    CHECK(strstr(d4fileName(d4), "HISTORY.DBF") != NULL);
    CHECK(d4numFields(d4) == 5);
    CHECK(d4fieldJ(d4, 0) == NULL && d4fieldJ(d4, 6) == NULL);
    code4errorCode(c4, 0);
    FIELD4* id = d4fieldJ(d4, 1);
    CHECK(strcmp(f4name(id), "UPD_ID") == 0 && f4type(id) == 'C' && f4len_v(id) == 10);
    FIELD4* amount = d4field(d4, "amount");
    FIELD4* date = d4field(d4, "UPD_DATE");
    FIELD4* done = d4field(d4, "DONE");
    FIELD4* report = d4field(d4, "REPORT");
    CHECK(amount && date && done && report);
    CHECK(f4len_v(report) == 10 && f4type(report) == 'M');
    CHECK(d4field(d4, "NOSUCH") == NULL);
    CHECK(code4errorCode(c4, 0) == 0); /* errFieldName 0: quiet */

    /* Two records; the second is marked deleted. */
    CHECK(d4appendStart(d4, 0) == 0);
    CHECK(d4blank(d4) == 0);
    CHECK(f4assignNVB(id, "TAVREL0042", 10) == 0);
    CHECK(f4assignNVB(amount, "1234.567", 8) == 0);
    CHECK(f4assignNVB(date, "20261207", 8) == 0);
    CHECK(f4assignNVB(done, "T", 1) == 0);
    CHECK(f4memoAssign(report, "Installed.\r\nAll tables converted.") == 0);
    CHECK(d4append(d4) == 0);
    CHECK(memcmp(f4ptr(amount), "  1234.57", 9) == 0);
    CHECK(d4appendBlank(d4) == 0);
    CHECK(d4delete(d4) == 0);
    CHECK(f4assignNVB(date, "2026-12-07", 10) == -1210);
    CHECK(code4errorCode(c4, 0) == -1210);
    CHECK(d4flush(d4) == 0);
    CHECK(d4recCountDo(d4) == 2);
    CHECK(d4append(d4) == -240); /* no d4appendStart */
    CHECK(code4errorCode(c4, 0) == -240);

    /* Read back in physical order. */
    CHECK(d4top(d4) == 0);
    CHECK(memcmp(f4ptr(id), "TAVREL0042", 10) == 0);
    CHECK(strcmp(f4memoPtr(report), "Installed.\r\nAll tables converted.") == 0);
    CHECK(f4memoLen(report) == 33);
    CHECK(memcmp(f4memoPtr(id), "TAVREL0042", 10) == 0 && f4memoLen(id) == 10);
    CHECK(d4deleted(d4) == 0);
    CHECK(d4skip(d4, 1) == 0);
    CHECK(d4deleted(d4) == 1);
    CHECK(f4memoLen(report) == 0 && strcmp(f4memoPtr(report), "") == 0);
    CHECK(d4skip(d4, 1) == 3);
    CHECK(d4goLow(d4, 1, 1) == 0);
    CHECK(f4memoAssign(report, "Rewritten") == 0);
    CHECK(d4unlock(d4) == 0);
    CHECK(d4goLow(d4, 7, 0) == 5);
    CHECK(code4errorCode(c4, 0) == 0); /* errGo 0 */
    CHECK(d4close(d4) == 0);

    /* Safety on: creating over the table fails with 60 (errCreate 0). */
    code4safety(c4, 1);
    CHECK(d4create(c4, path, fields, NULL) == NULL);
    CHECK(code4errorCode(c4, 0) == 60);
    code4errCreate(c4, 1);
    CHECK(d4create(c4, path, fields, NULL) == NULL);
    CHECK(code4errorCode(c4, 0) == -20);

    /* Opening: a missing table is 70 with errOpen 0, -60 with errOpen 1. */
    char missing[256];
    snprintf(missing, sizeof missing, "%s/NOSUCH", folder);
    CHECK(d4open(c4, missing) == NULL);
    CHECK(code4errorCode(c4, 0) == 70);
    code4errOpen(c4, 1);
    CHECK(d4open(c4, missing) == NULL);
    CHECK(code4errorCode(c4, 0) == -60);
    CHECK(d4open(c4, NULL) == NULL);
    CHECK(code4errorCode(c4, 0) < 0);

    d4 = d4open(c4, path);
    CHECK(d4 != NULL);
    if (d4) {
        CHECK(d4recCountDo(d4) == 2);
        CHECK(d4top(d4) == 0);
        FIELD4* r = d4field(d4, "REPORT");
        CHECK(r && strcmp(f4memoPtr(r), "Rewritten") == 0);
        CHECK(d4open(c4, path) == NULL); /* exclusive: not twice */
        code4errorCode(c4, 0);
    }
    CHECK(code4close(c4) == 0); /* closes the open table */
    CHECK(code4initUndo(c4) == 0);

    /* Tags as the descriptor tables use them: TBL_ORDER with prefix seeks and
     * seek-next runs, DATE_BACK walked from the top (latest date first). */
    c4 = code4initVB();
    code4accessMode(c4, 1);
    code4safety(c4, 0);
    code4errTagName(c4, 0);
    static const FIELD4INFO descriptorFields[] = {{"TBL_NAME", 'C', 12, 0, 0},
                                                  {"TBL_SEQ", 'N', 3, 0, 0},
                                                  {"UPD_DATE", 'D', 8, 0, 0},
                                                  {NULL, 0, 0, 0, 0}};
    static const TAG4INFO descriptorTags[] = {
        {"TBL_ORDER", "TBL_NAME + STR(TBL_SEQ, 3)", NULL, 0, 0},
        {"DATE_BACK", "DTOS(UPD_DATE)", ".NOT. DELETED()", 0, 10},
        {NULL, NULL, NULL, 0, 0}};
    char tablePath[256];
    snprintf(tablePath, sizeof tablePath, "%s/TABLEUPL", folder);
    d4 = d4create(c4, tablePath, descriptorFields, descriptorTags);
    CHECK(d4 != NULL);
    if (d4) {
        static const char* rows[][3] = {{"ORDERS", "2", "20261101"},
                                        {"CUSTOMER", "1", "20261205"},
                                        {"ORDERS", "1", "20260915"}};
        FIELD4* name = d4field(d4, "TBL_NAME");
        FIELD4* seq = d4field(d4, "TBL_SEQ");
        FIELD4* day = d4field(d4, "UPD_DATE");
        for (int i = 0; i < 3; ++i) {
            CHECK(d4appendStart(d4, 0) == 0 && d4blank(d4) == 0);
            CHECK(f4assignNVB(name, rows[i][0], (int)strlen(rows[i][0])) == 0);
            CHECK(f4assignNVB(seq, rows[i][1], 1) == 0);
            CHECK(f4assignNVB(day, rows[i][2], 8) == 0);
            CHECK(d4append(d4) == 0);
        }
        CHECK(d4tag(d4, "NOSUCH") == NULL);
        CHECK(code4errorCode(c4, 0) == 0); /* errTagName 0: quiet */
        d4tagSelect(d4, d4tag(d4, "TBL_ORDER"));
        CHECK(d4seek(d4, "ORDERS") == 0 && d4recNo(d4) == 3);
        CHECK(d4seekNext(d4, "ORDERS") == 0 && d4recNo(d4) == 1);
        CHECK(d4seekNext(d4, "ORDERS") == 3);
        CHECK(d4seek(d4, "ARTICLES") == 2 && d4recNo(d4) == 2);
        d4tagSelect(d4, d4tag(d4, "date_back"));
        CHECK(d4top(d4) == 0 && d4recNo(d4) == 2);
        CHECK(d4skip(d4, 1) == 0 && d4recNo(d4) == 1);
        CHECK(d4skip(d4, 1) == 0 && d4recNo(d4) == 3);
        CHECK(d4skip(d4, 1) == 3);
        d4tagSelect(d4, NULL);
        CHECK(d4top(d4) == 0 && d4recNo(d4) == 1);
    }
    CHECK(code4initUndo(c4) == 0);

    /* Null handles are refused, never a crash. */
    CHECK(d4top(NULL) < 0 && d4recCountDo(NULL) == -1 && f4ptr(NULL) == NULL);
    CHECK(code4errorCode(NULL, 0) < 0 && code4accessMode(NULL, 0) == -1);

    char command[300];
    snprintf(command, sizeof command, "rm -rf %s", folder);
    if (system(command) != 0) ++failures;
    if (failures) fprintf(stderr, "%d checks failed\n", failures);
    return failures ? 1 : 0;
}
