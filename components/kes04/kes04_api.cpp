// The C interface of KES04.DLL over the C++ table engine. Every export catches
// everything: nothing is thrown across the interface.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "components/kes04/engine_codes.h"
#include "components/kes04/index/cdx_table_index.h"
#include "components/kes04/kes04.h"
#include "components/kes04/table.h"

using tavrel::kes04::AccessMode;
using tavrel::kes04::code;
using tavrel::kes04::EngineCode;
using tavrel::kes04::FieldSpec;
using tavrel::kes04::Table;
using tavrel::kes04::TableOptions;
using tavrel::kes04::TagSpec;
using tavrel::kes04::TagUniqueness;

namespace {

constexpr uint32_t kCodeMagic = 0x434F4434;   // "COD4"
constexpr uint32_t kDataMagic = 0x44415434;   // "DAT4"
constexpr uint32_t kFieldMagic = 0x46494C34;  // "FIL4"
constexpr uint32_t kTagMagic = 0x54414734;    // "TAG4"

}  // namespace

struct FIELD4St {
    uint32_t magic = kFieldMagic;
    DATA4* data = nullptr;
    size_t index = 0;
};

struct TAG4St {
    uint32_t magic = kTagMagic;
    DATA4* data = nullptr;
    tavrel::kes04::cdx::CdxTag* tag = nullptr;
};

struct DATA4St {
    uint32_t magic = kDataMagic;
    CODE4* code = nullptr;
    std::unique_ptr<Table> table;
    std::vector<std::unique_ptr<FIELD4St>> fields;
    std::vector<std::unique_ptr<TAG4St>> tags;
    std::string fileName;
};

struct CODE4St {
    uint32_t magic = kCodeMagic;
    int errorCode = 0;
    std::string errorText;
    int accessMode = 0;
    int safety = 1;
    int errCreate = 1;
    int errOpen = 1;
    int errFieldName = 1;
    int errGo = 1;
    int errSkip = 1;
    int errOff = 0;
    int errTagName = 1;
    int readOnly = 0;
    std::vector<std::unique_ptr<DATA4St>> tables;
};

namespace {

bool valid(const CODE4* c4) { return c4 && c4->magic == kCodeMagic; }
bool valid(const DATA4* d4) { return d4 && d4->magic == kDataMagic && d4->table; }
bool valid(const FIELD4* f4) { return f4 && f4->magic == kFieldMagic && valid(f4->data); }
bool valid(const TAG4* t4) { return t4 && t4->magic == kTagMagic && valid(t4->data); }

tavrel::kes04::cdx::CdxTableIndex* indexOf(DATA4* d4) {
    return dynamic_cast<tavrel::kes04::cdx::CdxTableIndex*>(d4->table->index());
}

// Results that are normal positions, not failures: they leave the error code alone.
bool isPosition(int rc) {
    return rc == code(EngineCode::kEof) || rc == code(EngineCode::kBof) ||
           rc == code(EngineCode::kEntry) || rc == code(EngineCode::kFound) ||
           rc == code(EngineCode::kAfter);
}

int record(CODE4* c4, int rc, const std::string& detail) {
    if (rc != 0 && !isPosition(rc) && valid(c4)) {
        c4->errorCode = rc;
        c4->errorText = detail;
    }
    return rc;
}

int recordTable(DATA4* d4, int rc) {
    if (rc != 0 && !isPosition(rc)) record(d4->code, rc, d4->table->lastDetail());
    return rc;
}

// Runs `body`; any exception becomes `failure` (out of memory recorded when possible).
template <class R, class F>
R guarded(CODE4* c4, R failure, F body) {
    try {
        return body();
    } catch (...) {
        try {
            record(c4, code(EngineCode::kErrMemory), "out of memory");
        } catch (...) {
        }
        return failure;
    }
}

CODE4* contextOf(DATA4* d4) { return valid(d4) ? d4->code : nullptr; }
CODE4* contextOf(FIELD4* f4) { return valid(f4) ? f4->data->code : nullptr; }

int setting(CODE4* c4, int CODE4St::*member, int value) {
    if (!valid(c4)) return -1;
    int previous = c4->*member;
    c4->*member = value;
    return previous;
}

TableOptions optionsOf(const CODE4* c4) {
    TableOptions options;
    switch (c4->accessMode) {
        case 1:
            options.accessMode = AccessMode::kDenyRW;
            break;
        case 2:
            options.accessMode = AccessMode::kDenyWrite;
            break;
        default:
            options.accessMode = AccessMode::kDenyNone;
    }
    options.readOnly = c4->readOnly != 0;
    return options;
}

DATA4* adopt(CODE4* c4, std::unique_ptr<Table> table) {
    auto data = std::make_unique<DATA4St>();
    data->code = c4;
    data->fileName = table->path().string();
    data->table = std::move(table);
    const size_t n = data->table->layout().fields.size();
    for (size_t i = 0; i < n; ++i) {
        auto field = std::make_unique<FIELD4St>();
        field->data = data.get();
        field->index = i;
        data->fields.push_back(std::move(field));
    }
    DATA4* handle = data.get();
    c4->tables.push_back(std::move(data));
    return handle;
}

int closeTable(DATA4* d4) {
    CODE4* c4 = d4->code;
    int rc = d4->table->close();
    if (rc != 0) record(c4, rc, d4->table->lastDetail());
    d4->magic = 0;
    auto& tables = c4->tables;
    tables.erase(std::remove_if(tables.begin(), tables.end(),
                                [d4](const std::unique_ptr<DATA4St>& t) { return t.get() == d4; }),
                 tables.end());
    return rc;
}

int closeAll(CODE4* c4) {
    int first = 0;
    while (!c4->tables.empty()) {
        int rc = closeTable(c4->tables.back().get());
        if (first == 0) first = rc;
    }
    return first;
}

const tavrel::kes04::FieldLayout& layoutOf(FIELD4* f4) {
    return f4->data->table->layout().fields[f4->index];
}

// The tag that `info` describes, its codes read as the C interface defines
// them (unique 0, 15 or 20, 25; descending 0 or 10). False when either holds
// another value.
bool tagFromInfo(const TAG4INFO& info, TagSpec* out) {
    switch (info.unique) {
        case 0:
            out->uniqueness = TagUniqueness::kNone;
            break;
        case code(EngineCode::kCandidate):
        case code(EngineCode::kUnique):
            out->uniqueness = TagUniqueness::kRefuse;
            break;
        case code(EngineCode::kUniqueContinue):
            out->uniqueness = TagUniqueness::kContinue;
            break;
        default:
            return false;
    }
    if (info.descending != 0 && info.descending != code(EngineCode::kDescending)) return false;
    out->descending = info.descending != 0;
    out->name = info.name;
    out->expression = info.expression ? info.expression : "";
    out->filter = info.filter ? info.filter : "";
    return true;
}

}  // namespace

extern "C" {

// ---- context ------------------------------------------------------------------

CODE4* code4initVB(void) {
    try {
        // Tables of every context keep their structural indexes up to date.
        tavrel::kes04::setIndexFactory(&tavrel::kes04::cdx::CdxTableIndex::factory);
        return new CODE4St();
    } catch (...) {
        return nullptr;
    }
}

int code4close(CODE4* c4) {
    if (!valid(c4)) return code(EngineCode::kErrParameterNull);
    return guarded(c4, code(EngineCode::kErrMemory), [&] { return closeAll(c4); });
}

int code4initUndo(CODE4* c4) {
    if (!valid(c4)) return code(EngineCode::kErrParameterNull);
    int rc = guarded(c4, code(EngineCode::kErrMemory), [&] { return closeAll(c4); });
    c4->magic = 0;
    delete c4;
    return rc;
}

int code4errorCode(CODE4* c4, int newCode) {
    if (!valid(c4)) return code(EngineCode::kErrParameterNull);
    int previous = c4->errorCode;
    c4->errorCode = newCode;
    if (newCode == 0) c4->errorText.clear();
    return previous;
}

const char* code4errorText(CODE4* c4) { return valid(c4) ? c4->errorText.c_str() : ""; }

int code4accessMode(CODE4* c4, int mode) { return setting(c4, &CODE4St::accessMode, mode); }
int code4safety(CODE4* c4, int value) { return setting(c4, &CODE4St::safety, value); }
int code4errCreate(CODE4* c4, int value) { return setting(c4, &CODE4St::errCreate, value); }
int code4errOpen(CODE4* c4, int value) { return setting(c4, &CODE4St::errOpen, value); }
int code4errFieldName(CODE4* c4, int value) { return setting(c4, &CODE4St::errFieldName, value); }
int code4errGo(CODE4* c4, int value) { return setting(c4, &CODE4St::errGo, value); }
int code4errSkip(CODE4* c4, int value) { return setting(c4, &CODE4St::errSkip, value); }
int code4errOff(CODE4* c4, int value) { return setting(c4, &CODE4St::errOff, value); }
int code4errTagName(CODE4* c4, int value) { return setting(c4, &CODE4St::errTagName, value); }
int code4readOnly(CODE4* c4, int value) { return setting(c4, &CODE4St::readOnly, value); }

// ---- tables -------------------------------------------------------------------

DATA4* d4open(CODE4* c4, const char* name) {
    if (!valid(c4)) return nullptr;
    return guarded(c4, static_cast<DATA4*>(nullptr), [&]() -> DATA4* {
        if (!name) {
            record(c4, code(EngineCode::kErrParameterNull), "d4open without a table name");
            return nullptr;
        }
        std::unique_ptr<Table> table;
        std::string detail;
        int rc = Table::open(name, optionsOf(c4), &table, &detail);
        if (rc == code(EngineCode::kNoOpen) || rc == code(EngineCode::kErrOpen)) {
            rc = code(c4->errOpen ? EngineCode::kErrOpen : EngineCode::kNoOpen);
        }
        if (rc != 0) {
            record(c4, rc, detail);
            return nullptr;
        }
        return adopt(c4, std::move(table));
    });
}

int d4close(DATA4* d4) {
    if (!valid(d4)) return code(EngineCode::kErrParameterNull);
    CODE4* c4 = d4->code;
    return guarded(c4, code(EngineCode::kErrMemory), [&] { return closeTable(d4); });
}

DATA4* d4create(CODE4* c4, const char* name, const FIELD4INFO* fields, const TAG4INFO* tags) {
    if (!valid(c4)) return nullptr;
    return guarded(c4, static_cast<DATA4*>(nullptr), [&]() -> DATA4* {
        if (!name || !fields) {
            record(c4, code(EngineCode::kErrParameterNull), "d4create without a name or fields");
            return nullptr;
        }
        std::vector<FieldSpec> fieldList;
        for (const FIELD4INFO* f = fields; f->name; ++f) {
            fieldList.push_back(FieldSpec{f->name, char(f->type), f->len, f->dec});
        }
        std::vector<TagSpec> tagList;
        for (const TAG4INFO* t = tags; t && t->name; ++t) {
            TagSpec tag;
            if (!tagFromInfo(*t, &tag)) {
                record(c4, code(EngineCode::kErrTagInfo),
                       std::string("tag ") + t->name + ": unique " + std::to_string(t->unique) +
                           ", descending " + std::to_string(t->descending) +
                           " (unique must be 0, 15, 20 or 25, descending 0 or 10)");
                return nullptr;
            }
            tagList.push_back(std::move(tag));
        }
        std::unique_ptr<Table> table;
        std::string detail;
        int rc = Table::create(name, fieldList, tagList, c4->safety != 0, optionsOf(c4), &table,
                               &detail);
        if (rc == code(EngineCode::kNoCreate) || rc == code(EngineCode::kErrCreate)) {
            rc = code(c4->errCreate ? EngineCode::kErrCreate : EngineCode::kNoCreate);
        }
        if (rc != 0) {
            record(c4, rc, detail);
            return nullptr;
        }
        return adopt(c4, std::move(table));
    });
}

#define KES04_TABLE_CALL(d4, expression)                               \
    do {                                                               \
        if (!valid(d4)) return code(EngineCode::kErrParameterNull);    \
        return guarded(contextOf(d4), code(EngineCode::kErrMemory),    \
                       [&] { return recordTable(d4, (expression)); }); \
    } while (0)

int d4top(DATA4* d4) { KES04_TABLE_CALL(d4, d4->table->top()); }
int d4bottom(DATA4* d4) { KES04_TABLE_CALL(d4, d4->table->bottom()); }
int d4skip(DATA4* d4, long count) { KES04_TABLE_CALL(d4, d4->table->skip(count)); }

int d4goLow(DATA4* d4, long recno, short goForWrite) {
    if (!valid(d4)) return code(EngineCode::kErrParameterNull);
    return guarded(contextOf(d4), code(EngineCode::kErrMemory), [&] {
        if (recno < 0 || recno > long(0xFFFFFFFFL)) recno = 0;
        int rc = d4->table->go(uint32_t(recno), goForWrite != 0);
        if (rc == code(EngineCode::kEntry) && d4->code->errGo) {
            record(d4->code, code(EngineCode::kErrEntry),
                   "record " + std::to_string(recno) + " does not exist in " + d4->fileName);
        }
        return recordTable(d4, rc);
    });
}

long d4recCountDo(DATA4* d4) {
    if (!valid(d4)) return -1;
    return guarded(contextOf(d4), -1L, [&] { return long(d4->table->recordCount()); });
}

long d4recNo(DATA4* d4) { return valid(d4) ? long(d4->table->recno()) : -1; }
int d4eof(DATA4* d4) { return valid(d4) && d4->table->eof() ? 1 : 0; }
int d4bof(DATA4* d4) { return valid(d4) && d4->table->bof() ? 1 : 0; }

short d4numFields(DATA4* d4) { return valid(d4) ? short(d4->fields.size()) : short(-1); }

FIELD4* d4fieldJ(DATA4* d4, short j) {
    if (!valid(d4)) return nullptr;
    if (j < 1 || size_t(j) > d4->fields.size()) {
        record(d4->code, code(EngineCode::kErrParameter),
               "field number " + std::to_string(j) + " is outside 1.." +
                   std::to_string(d4->fields.size()));
        return nullptr;
    }
    return d4->fields[size_t(j - 1)].get();
}

FIELD4* d4field(DATA4* d4, const char* name) {
    if (!valid(d4)) return nullptr;
    return guarded(d4->code, static_cast<FIELD4*>(nullptr), [&]() -> FIELD4* {
        const auto& layout = d4->table->layout();
        if (const tavrel::kes04::FieldLayout* field = name ? layout.find(name) : nullptr) {
            return d4->fields[size_t(field - layout.fields.data())].get();
        }
        if (d4->code->errFieldName) {
            record(d4->code, code(EngineCode::kErrFieldName),
                   std::string("no field \"") + (name ? name : "") + "\" in " + d4->fileName);
        }
        return nullptr;
    });
}

const char* f4name(FIELD4* f4) { return valid(f4) ? layoutOf(f4).name.c_str() : nullptr; }
int f4type(FIELD4* f4) { return valid(f4) ? int(layoutOf(f4).type) : -1; }
long f4len_v(FIELD4* f4) { return valid(f4) ? long(layoutOf(f4).length) : -1; }
int f4decimals(FIELD4* f4) { return valid(f4) ? int(layoutOf(f4).decimals) : -1; }

int d4appendStart(DATA4* d4, short useMemoEntries) {
    KES04_TABLE_CALL(d4, d4->table->appendStart(useMemoEntries != 0));
}
int d4blank(DATA4* d4) { KES04_TABLE_CALL(d4, d4->table->blank()); }
int d4append(DATA4* d4) { KES04_TABLE_CALL(d4, d4->table->append()); }
int d4appendBlank(DATA4* d4) { KES04_TABLE_CALL(d4, d4->table->appendBlank()); }

int d4deleted(DATA4* d4) {
    if (!valid(d4)) return code(EngineCode::kErrParameterNull);
    return d4->table->deleted() ? 1 : 0;
}

int d4delete(DATA4* d4) { KES04_TABLE_CALL(d4, d4->table->setDeleted(true)); }
int d4recall(DATA4* d4) { KES04_TABLE_CALL(d4, d4->table->setDeleted(false)); }
int d4flush(DATA4* d4) { KES04_TABLE_CALL(d4, d4->table->flush()); }
int d4unlock(DATA4* d4) { KES04_TABLE_CALL(d4, d4->table->unlock()); }

const char* d4fileName(DATA4* d4) { return valid(d4) ? d4->fileName.c_str() : nullptr; }

// ---- fields -------------------------------------------------------------------

const char* f4ptr(FIELD4* f4) {
    if (!valid(f4)) return nullptr;
    return reinterpret_cast<const char*>(f4->data->table->record()) + layoutOf(f4).offset;
}

const char* f4memoPtr(FIELD4* f4) {
    if (!valid(f4)) return nullptr;
    return guarded(contextOf(f4), static_cast<const char*>(nullptr), [&]() -> const char* {
        const std::string* text = nullptr;
        int rc = f4->data->table->memoText(f4->index, &text);
        if (rc != 0) {
            recordTable(f4->data, rc);
            return nullptr;
        }
        return text->c_str();
    });
}

unsigned long f4memoLen(FIELD4* f4) {
    if (!valid(f4)) return 0;
    return guarded(contextOf(f4), 0UL, [&]() -> unsigned long {
        const std::string* text = nullptr;
        int rc = f4->data->table->memoText(f4->index, &text);
        if (rc != 0) {
            recordTable(f4->data, rc);
            return 0;
        }
        return text->size();
    });
}

int f4memoAssignN(FIELD4* f4, const char* text, unsigned long length) {
    if (!valid(f4)) return code(EngineCode::kErrParameterNull);
    if (!text && length > 0) return record(contextOf(f4), code(EngineCode::kErrParameterNull), "");
    return guarded(contextOf(f4), code(EngineCode::kErrMemory), [&] {
        return recordTable(f4->data, f4->data->table->assignText(
                                         f4->index, std::string_view(text ? text : "", length)));
    });
}

int f4memoAssign(FIELD4* f4, const char* text) {
    return f4memoAssignN(f4, text ? text : "", text ? std::strlen(text) : 0);
}

int f4assignNVB(FIELD4* f4, const char* text, int length) {
    if (length < 0) length = 0;
    return f4memoAssignN(f4, text, (unsigned long)length);
}

// ---- tags ---------------------------------------------------------------------

TAG4* d4tag(DATA4* d4, const char* name) {
    if (!valid(d4)) return nullptr;
    return guarded(d4->code, static_cast<TAG4*>(nullptr), [&]() -> TAG4* {
        auto* index = indexOf(d4);
        tavrel::kes04::cdx::CdxTag* tag = index && name ? index->findTag(name) : nullptr;
        if (!tag) {
            if (d4->code->errTagName) {
                record(d4->code, code(EngineCode::kErrTagName),
                       std::string("no tag \"") + (name ? name : "") + "\" in " + d4->fileName);
            }
            return nullptr;
        }
        for (auto& t : d4->tags)
            if (t->tag == tag) return t.get();
        auto handle = std::make_unique<TAG4St>();
        handle->data = d4;
        handle->tag = tag;
        d4->tags.push_back(std::move(handle));
        return d4->tags.back().get();
    });
}

void d4tagSelect(DATA4* d4, TAG4* t4) {
    if (!valid(d4)) return;
    auto* index = indexOf(d4);
    if (!index) return;
    if (!t4) {
        index->select(nullptr);
    } else if (valid(t4) && t4->data == d4) {
        index->select(t4->tag);
    }
}

TAG4* d4tagSelected(DATA4* d4) {
    if (!valid(d4)) return nullptr;
    auto* index = indexOf(d4);
    if (!index || !index->selected()) return nullptr;
    for (auto& t : d4->tags)
        if (t->tag == index->selected()) return t.get();
    return d4tag(d4, index->selected()->name().c_str());
}

namespace {

// Moves the table to where a seek in the index ended.
int finishSeek(DATA4* d4, int rc, uint32_t recno) {
    if (rc == 0 || rc == code(EngineCode::kAfter) || rc == code(EngineCode::kEntry)) {
        const int moved = d4->table->go(recno, false);
        return recordTable(d4, moved != 0 ? moved : rc);
    }
    if (rc == code(EngineCode::kEof)) {
        d4->table->go(0, false);  // no such record: end of file
        return rc;
    }
    if (rc == code(EngineCode::kNoTag)) return rc;
    return record(d4->code, rc,
                  d4->fileName + ": " + (indexOf(d4) ? indexOf(d4)->lastError() : std::string()));
}

int seekIn(DATA4* d4, const char* key, bool next) {
    if (!valid(d4)) return code(EngineCode::kErrParameterNull);
    return guarded(d4->code, code(EngineCode::kErrMemory), [&] {
        if (!key)
            return record(d4->code, code(EngineCode::kErrParameterNull), "seek without a key");
        auto* index = indexOf(d4);
        if (!index || !index->selected()) return code(EngineCode::kNoTag);
        int rc = d4->table->writeRecord();
        if (rc != 0) return recordTable(d4, rc);
        uint32_t recno = 0;
        Table& t = *d4->table;
        if (next && !t.eof() && t.recno() > 0) {
            rc = index->seekNext(key, t.recno(), {t.record(), t.layout().recordLength}, &recno);
        } else {
            rc = index->seek(key, &recno);
        }
        return finishSeek(d4, rc, recno);
    });
}

}  // namespace

int d4seek(DATA4* d4, const char* key) { return seekIn(d4, key, false); }
int d4seekNext(DATA4* d4, const char* key) { return seekIn(d4, key, true); }

const char* t4alias(TAG4* t4) { return valid(t4) ? t4->tag->name().c_str() : nullptr; }
const char* t4expr(TAG4* t4) { return valid(t4) ? t4->tag->keyExpression().c_str() : nullptr; }
const char* t4filter(TAG4* t4) { return valid(t4) ? t4->tag->forExpression().c_str() : nullptr; }

}  // extern "C"
