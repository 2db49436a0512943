// The agent's one engine context and the conversion settings.
//
// One context lives for the agent's lifetime: `start` takes it from
// code4initVB, `close` ends it with code4close and code4initUndo, after which
// the handle is 0 again. Every caller that sees an engine failure calls
// `checkError`, which reads and clears the engine's error code and logs it.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "agent/tables/kes04_library.h"

namespace tavrel::tables {

class DatabaseEngine {
  public:
    // `library` is borrowed and must outlive the engine.
    explicit DatabaseEngine(Kes04Library& library) : m_library(library) {}
    ~DatabaseEngine() { close(); }
    DatabaseEngine(const DatabaseEngine&) = delete;
    DatabaseEngine& operator=(const DatabaseEngine&) = delete;

    // Starts the context when none is running. True when a context runs
    // afterwards; false (logged) when the library or code4initVB failed.
    bool start();
    // Closes every table and ends the context; the handle becomes 0. Does
    // nothing when no context runs.
    void close();

    bool started() const { return m_handle != nullptr; }
    CODE4* handle() const { return m_handle; }
    Kes04Library& library() { return m_library; }

    // Reads and clears the engine's error code; when it is not 0, logs
    // `context` with the code and the engine's sentence. Returns the code (0
    // without a context).
    int checkError(std::string_view context);

    // Opens the table at `path` (extension optional); null on failure, with
    // the error read, cleared and logged.
    DATA4* open(const std::string& path);

  private:
    Kes04Library& m_library;
    CODE4* m_handle = nullptr;
};

// The settings a table conversion runs under: exclusive access, no safety, and
// no error reports from the engine beyond return values and error codes.
class ConversionSettings {
  public:
    explicit ConversionSettings(DatabaseEngine& engine) : m_engine(engine) {}

    // Applies the conversion values, storing each previous value. Does
    // nothing when they are already applied (the stored values stay those
    // from before the first apply) or no context runs. True when applied.
    bool apply();
    // Puts the stored values back. Does nothing when not applied.
    void undo();
    bool applied() const { return m_applied; }

    static constexpr size_t kCount = 9;

  private:
    DatabaseEngine& m_engine;
    bool m_applied = false;
    std::array<int, kCount> m_previous{};
};

}  // namespace tavrel::tables
