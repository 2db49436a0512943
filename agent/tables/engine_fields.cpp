#include "agent/tables/engine_fields.h"

namespace tavrel::tables {

FIELD4* findField(DatabaseEngine& engine, DATA4* data, const char* name) {
    FIELD4* field = K4(engine.library(), d4field, data, name);
    // An unknown name may leave an error code; a missing field is no error here.
    if (field == nullptr && engine.started()) {
        K4(engine.library(), code4errorCode, engine.handle(), 0);
    }
    return field;
}

std::string rawFieldText(Kes04Library& library, FIELD4* field) {
    if (field == nullptr) return {};
    const char* bytes = K4(library, f4ptr, field);
    const long length = K4(library, f4len_v, field);
    if (bytes == nullptr || length <= 0) return {};
    return std::string(bytes, size_t(length));
}

std::string memoFieldText(Kes04Library& library, FIELD4* field) {
    if (field == nullptr) return {};
    const char* text = K4(library, f4memoPtr, field);
    if (text == nullptr) return {};
    return std::string(text, size_t(K4(library, f4memoLen, field)));
}

std::string readField(DatabaseEngine& engine, DATA4* data, const char* name) {
    FIELD4* field = findField(engine, data, name);
    if (field == nullptr) return {};
    const char* text = K4(engine.library(), f4memoPtr, field);
    if (text == nullptr) {
        engine.checkError(std::string("f4memoPtr ") + name);
        return {};
    }
    return std::string(text, size_t(K4(engine.library(), f4memoLen, field)));
}

bool writeField(DatabaseEngine& engine, DATA4* data, const char* name, std::string_view text) {
    FIELD4* field = findField(engine, data, name);
    if (field == nullptr) return false;
    const int result = K4(engine.library(), f4assignNVB, field, text.data(), int(text.size()));
    if (result != 0) {
        if (engine.checkError(std::string("f4assignNVB ") + name) == 0) {
            engine.library().log(std::string("f4assignNVB ") + name + " returned " +
                                 std::to_string(result));
        }
        return false;
    }
    return true;
}

bool flushTable(DatabaseEngine& engine, DATA4* data) {
    if (K4(engine.library(), d4flush, data) == 0) return true;
    engine.checkError("d4flush");
    return false;
}

bool unlockTable(DatabaseEngine& engine, DATA4* data) {
    if (K4(engine.library(), d4unlock, data) == 0) return true;
    engine.checkError("d4unlock");
    return false;
}

}  // namespace tavrel::tables
