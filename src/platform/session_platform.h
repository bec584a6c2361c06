#pragma once
// Which window-toolkit platform the station starts on. The always-on-top
// window and the global send key work through X11 only, so a Wayland session
// runs the station through XWayland unless the user chose a platform.

#include <string>

namespace karvelo::platform {

struct SessionEnvironment {
    std::string waylandDisplay;   // WAYLAND_DISPLAY
    std::string sessionType;      // XDG_SESSION_TYPE
    std::string display;          // DISPLAY (set by XWayland in a Wayland session)
    std::string qpaPlatform;      // QT_QPA_PLATFORM
    bool platformOption = false;  // "-platform NAME" on the command line
};

enum class SessionPlatform {
    Toolkit,    // leave the choice to the toolkit
    XWayland,   // set QT_QPA_PLATFORM=xcb
    NoXWayland  // a Wayland session without an X server: the toolkit's choice, with a warning
};

SessionPlatform ChooseSessionPlatform(const SessionEnvironment& env);

// The environment of this process.
SessionEnvironment CurrentSessionEnvironment(bool platformOption);

}  // namespace karvelo::platform
