#include "agent/tables/database_engine.h"

namespace tavrel::tables {

bool DatabaseEngine::start() {
    if (m_handle != nullptr) return true;
    m_handle = K4(m_library, code4initVB);
    if (m_handle == nullptr)
        m_library.log("The database engine " + m_library.fileName() + " did not start");
    return m_handle != nullptr;
}

void DatabaseEngine::close() {
    if (m_handle == nullptr) return;
    if (K4(m_library, code4close, m_handle) != 0) checkError("code4close");
    K4(m_library, code4initUndo, m_handle);
    m_handle = nullptr;
}

int DatabaseEngine::checkError(std::string_view context) {
    if (m_handle == nullptr) return 0;
    // The sentence belongs to the code: read it before clearing both.
    const char* sentence = K4(m_library, code4errorText, m_handle);
    std::string text = sentence ? sentence : "";
    const int code = K4(m_library, code4errorCode, m_handle, 0);
    if (code != 0) {
        std::string line = std::string(context) + ": engine error " + std::to_string(code);
        if (!text.empty()) line += " (" + text + ")";
        m_library.log(line);
    }
    return code;
}

DATA4* DatabaseEngine::open(const std::string& path) {
    if (m_handle == nullptr) {
        m_library.log("Cannot open " + path + ": the database engine is not started");
        return nullptr;
    }
    DATA4* data = K4(m_library, d4open, m_handle, path.c_str());
    if (data == nullptr) {
        if (checkError("d4open " + path) == 0) m_library.log("d4open " + path + " failed");
    }
    return data;
}

namespace {

using Setter = int (*)(Kes04Library&, CODE4*, int);

struct Setting {
    Setter set;
    int value;
};

template <Kes04Export E>
int setOne(Kes04Library& library, CODE4* c4, int value) {
    return library.call<E>(c4, value);
}

constexpr std::array<Setting, ConversionSettings::kCount> kSettings = {{
    {setOne<Kes04Export::code4accessMode>, 1},
    {setOne<Kes04Export::code4safety>, 0},
    {setOne<Kes04Export::code4errCreate>, 0},
    {setOne<Kes04Export::code4errOpen>, 0},
    {setOne<Kes04Export::code4errFieldName>, 0},
    {setOne<Kes04Export::code4errGo>, 0},
    {setOne<Kes04Export::code4errSkip>, 0},
    {setOne<Kes04Export::code4errOff>, 1},
    {setOne<Kes04Export::code4errTagName>, 0},
}};

}  // namespace

bool ConversionSettings::apply() {
    if (m_applied) return true;
    if (!m_engine.started()) return false;
    for (size_t i = 0; i < kCount; ++i) {
        m_previous[i] = kSettings[i].set(m_engine.library(), m_engine.handle(), kSettings[i].value);
    }
    m_applied = true;
    return true;
}

void ConversionSettings::undo() {
    if (!m_applied) return;
    m_applied = false;
    if (!m_engine.started()) return;
    for (size_t i = 0; i < kCount; ++i) {
        // A setting whose function was missing gave -1: nothing to put back.
        if (m_previous[i] == kKes04Unavailable) continue;
        kSettings[i].set(m_engine.library(), m_engine.handle(), m_previous[i]);
    }
}

}  // namespace tavrel::tables
