#include <cstdlib>
#include <initializer_list>

#include "platform/display.h"

namespace tavrel::platform {

bool displayAvailable() {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace tavrel::platform
