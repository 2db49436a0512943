// A table of a shared library's exports, bound lazily by name.
//
// The library is loaded by file name through the platform's library search
// when the first export is asked for, and each export is looked up on its own
// first use. A library or export that cannot be had is logged and answered
// with null, never a crash; the next request tries again, so a library that
// appears later is still found.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tavrel::platform {
class DynamicLibrary;
}

namespace tavrel::tables {

// Receives one line of text for the agent's logs.
using LogLine = std::function<void(const std::string& line)>;

class ExportBinding {
  public:
    // Binds nothing yet. `names` lists the exports by index and must outlive
    // the binding (a static table of literals); `log` may be empty.
    ExportBinding(std::string fileName, std::span<const char* const> names, LogLine log);
    ~ExportBinding();
    ExportBinding(const ExportBinding&) = delete;
    ExportBinding& operator=(const ExportBinding&) = delete;

    // The address of export number `index`, bound on first use; null (and a
    // log line naming the library and the export) when the library cannot be
    // loaded or lacks the export, or `index` is outside the table.
    void* address(size_t index) {
        // Every call of a bound function passes here: the bound case stays inline.
        if (index < m_slots.size() && m_slots[index] != nullptr) return m_slots[index];
        return bind(index);
    }

    // `address` cast to the export's function type.
    template <class F>
    F function(size_t index) {
        return reinterpret_cast<F>(address(index));
    }

    // Writes a line to the log this binding was given.
    void log(const std::string& line) const;

    const std::string& fileName() const { return m_fileName; }

  private:
    void* bind(size_t index);

    std::string m_fileName;
    std::span<const char* const> m_names;
    LogLine m_log;
    std::unique_ptr<platform::DynamicLibrary> m_library;
    std::vector<void*> m_slots;
};

}  // namespace tavrel::tables
