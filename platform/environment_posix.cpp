#include <cstdlib>

#include "platform/environment.h"

namespace tavrel::platform {

std::optional<std::string> environmentValue(const std::string& name) {
    // The value is copied at once: a later setenv may free the storage getenv points into.
    const char* value = std::getenv(name.c_str());
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

}  // namespace tavrel::platform
