#include "platform/session_platform.h"

#include <gtest/gtest.h>

namespace karvelo::platform {
namespace {

TEST(ChooseSessionPlatform, WaylandSessionsGoThroughXWaylandUnlessAPlatformWasChosen) {
    using P = SessionPlatform;
    struct Case {
        const char* what;
        SessionEnvironment env;
        SessionPlatform expected;
    };
    const Case cases[] = {
        {"X11 session", {"", "x11", ":0", "", false}, P::Toolkit},
        {"no session at all", {"", "", "", "", false}, P::Toolkit},
        {"tty session with DISPLAY", {"", "tty", ":1", "", false}, P::Toolkit},
        {"Wayland with XWayland", {"wayland-0", "wayland", ":0", "", false}, P::XWayland},
        {"WAYLAND_DISPLAY only", {"wayland-0", "", ":0", "", false}, P::XWayland},
        {"XDG_SESSION_TYPE only", {"", "wayland", ":0", "", false}, P::XWayland},
        {"Wayland without an X server", {"wayland-0", "wayland", "", "", false}, P::NoXWayland},
        {"session type without an X server", {"", "wayland", "", "", false}, P::NoXWayland},
        {"-platform wayland", {"wayland-0", "wayland", ":0", "", true}, P::Toolkit},
        {"-platform without X server", {"wayland-0", "wayland", "", "", true}, P::Toolkit},
        {"QT_QPA_PLATFORM=wayland", {"wayland-0", "wayland", ":0", "wayland", false}, P::Toolkit},
        {"QT_QPA_PLATFORM=offscreen", {"wayland-0", "", "", "offscreen", false}, P::Toolkit},
        {"QT_QPA_PLATFORM on X11", {"", "x11", ":0", "xcb", false}, P::Toolkit},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseSessionPlatform(c.env), c.expected) << c.what;
    }
}

}  // namespace
}  // namespace karvelo::platform
