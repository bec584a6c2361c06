#pragma once
// Whether the window has a desktop to open on, asked before the window toolkit
// starts (which aborts the process when it finds none).

#include <string>

namespace karvelo::platform {

enum class DisplayState { Available, NotSet, Unreachable };

// The X11 display named by DISPLAY, or a Wayland session (WAYLAND_DISPLAY).
DisplayState FindDisplay();

}  // namespace karvelo::platform
