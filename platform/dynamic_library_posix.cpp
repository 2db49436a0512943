#include <dlfcn.h>

#include "platform/dynamic_library.h"
#include "platform/files.h"
#include "platform/process.h"

namespace tavrel::platform {

std::unique_ptr<DynamicLibrary> DynamicLibrary::open(const std::string& fileName,
                                                     std::string* error) {
    std::vector<std::string> candidates;
    const std::filesystem::path name(fileName);
    if (name.has_parent_path()) {
        candidates.push_back(resolvePath(name).string());
    } else {
        if (auto beside = findPath(executablePath().parent_path() / name)) {
            candidates.push_back(beside->string());
        }
        if (auto here = findPath(currentFolder() / name)) candidates.push_back(here->string());
        candidates.push_back(fileName);  // the system's search path
    }
    std::string reason;
    for (const auto& candidate : candidates) {
        dlerror();
        if (void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL)) {
            return std::unique_ptr<DynamicLibrary>(new DynamicLibrary(handle, candidate));
        }
        const char* text = dlerror();
        reason = text ? text : "cannot load " + candidate;
    }
    if (error) *error = reason;
    return nullptr;
}

DynamicLibrary::~DynamicLibrary() {
    if (m_handle) ::dlclose(m_handle);
}

void* DynamicLibrary::symbol(const char* name) const {
    if (!m_handle || !name) return nullptr;
    return ::dlsym(m_handle, name);
}

}  // namespace tavrel::platform
