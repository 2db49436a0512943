// Whether this process can show windows at all.
#pragma once

namespace tavrel::platform {

// True when a window system (or a Qt platform chosen by the environment, such
// as offscreen) is there to show windows on. Making a Qt application without
// one ends the process inside Qt, so code that may run unattended asks first.
bool displayAvailable();

}  // namespace tavrel::platform
