#include "platform/session_platform.h"

#include <cstdlib>

namespace karvelo::platform {
namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

SessionPlatform ChooseSessionPlatform(const SessionEnvironment& env) {
    if (env.platformOption || !env.qpaPlatform.empty()) return SessionPlatform::Toolkit;
    // A session started by a Wayland compositor may leave WAYLAND_DISPLAY unset
    // for its children (sudo, some launchers); XDG_SESSION_TYPE still says so.
    const bool wayland = !env.waylandDisplay.empty() || env.sessionType == "wayland";
    if (!wayland) return SessionPlatform::Toolkit;
    return env.display.empty() ? SessionPlatform::NoXWayland : SessionPlatform::XWayland;
}

SessionEnvironment CurrentSessionEnvironment(bool platformOption) {
    SessionEnvironment env;
    env.waylandDisplay = Env("WAYLAND_DISPLAY");
    env.sessionType = Env("XDG_SESSION_TYPE");
    env.display = Env("DISPLAY");
    env.qpaPlatform = Env("QT_QPA_PLATFORM");
    env.platformOption = platformOption;
    return env;
}

}  // namespace karvelo::platform
