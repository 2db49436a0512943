// Loading a shared library at run time and binding its exports by name.
//
// A library or export that is missing is a result (null), never a crash.
#pragma once

#include <memory>
#include <string>

namespace tavrel::platform {

class DynamicLibrary {
  public:
    // Loads the library `fileName`. A bare file name ("KES01.DLL") is looked up
    // beside the running executable first (any case), then in the current
    // folder, then on the system's search path, as Windows does. Returns null
    // and sets `*error` (when given) to a readable reason on failure.
    static std::unique_ptr<DynamicLibrary> open(const std::string& fileName,
                                                std::string* error = nullptr);
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // The address of the export `name`, or null when the library has none.
    // Valid while this object lives.
    void* symbol(const char* name) const;

    // `symbol` cast to a function pointer type.
    template <class F>
    F function(const char* name) const {
        return reinterpret_cast<F>(symbol(name));
    }

    const std::string& path() const { return m_path; }

  private:
    DynamicLibrary(void* handle, std::string path) : m_handle(handle), m_path(std::move(path)) {}
    void* m_handle;
    std::string m_path;
};

}  // namespace tavrel::platform
