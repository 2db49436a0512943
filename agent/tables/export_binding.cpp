#include "agent/tables/export_binding.h"

#include "platform/dynamic_library.h"

namespace tavrel::tables {

ExportBinding::ExportBinding(std::string fileName, std::span<const char* const> names, LogLine log)
    : m_fileName(std::move(fileName)),
      m_names(names),
      m_log(std::move(log)),
      m_slots(names.size(), nullptr) {}

ExportBinding::~ExportBinding() = default;

void ExportBinding::log(const std::string& line) const {
    if (m_log) m_log(line);
}

void* ExportBinding::bind(size_t index) {
    if (index >= m_slots.size()) {
        log(m_fileName + " has no export number " + std::to_string(index));
        return nullptr;
    }
    void*& slot = m_slots[index];
    const char* name = m_names[index];
    if (!m_library) {
        std::string reason;
        m_library = platform::DynamicLibrary::open(m_fileName, &reason);
        if (!m_library) {
            log("Cannot load " + m_fileName + " for " + name + ": " + reason);
            return nullptr;
        }
    }
    slot = m_library->symbol(name);
    if (slot == nullptr) log(m_fileName + " has no function " + name);
    return slot;
}

}  // namespace tavrel::tables
