// The process environment.
#pragma once

#include <optional>
#include <string>

namespace tavrel::platform {

// The value of the environment variable `name`; nullopt when it is not set
// (an empty value is set, and comes back empty).
std::optional<std::string> environmentValue(const std::string& name);

}  // namespace tavrel::platform
