#include <X11/Xlib.h>

#include <cstdlib>

#include "platform/display.h"

namespace karvelo::platform {
namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

DisplayState FindDisplay() {
    if (Set("WAYLAND_DISPLAY")) return DisplayState::Available;
    if (!Set("DISPLAY")) return DisplayState::NotSet;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return DisplayState::Unreachable;
    XCloseDisplay(display);
    return DisplayState::Available;
}

}  // namespace karvelo::platform
