#include "agent/tables/kes04_library.h"

namespace tavrel::tables {

namespace {

constexpr const char* kExportNames[] = {
#define TAVREL_KES04_NAME(name) #name,
    TAVREL_KES04_EXPORTS(TAVREL_KES04_NAME)
#undef TAVREL_KES04_NAME
};

}  // namespace

Kes04Library::Kes04Library(LogLine log, std::string fileName)
    : m_exports(std::move(fileName), kExportNames, std::move(log)) {}

}  // namespace tavrel::tables
