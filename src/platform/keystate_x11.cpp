// The send key on an X11 desktop. Two sources together: the key map tells
// whether the key is down now, and XInput2 raw key events on the root window
// tell whether it was pressed since the previous query, whichever window has
// the focus. The connection is used only by the thread that queries.

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>

#include <array>
#include <cstdlib>

#include "platform/keystate.h"

namespace karvelo::platform {
namespace {

// Send key number -> key symbol; index 0 is "none".
constexpr std::array<KeySym, 15> kSendKeys = {NoSymbol, XK_F1,  XK_F2,  XK_F3,    XK_F4,
                                              XK_F5,    XK_F6,  XK_F7,  XK_F8,    XK_F9,
                                              XK_F10,   XK_F11, XK_F12, XK_space, XK_Return};

class X11KeyState : public KeyState {
  public:
    explicit X11KeyState(Display* display) : display_(display) {
        int event = 0;
        int error = 0;
        if (XQueryExtension(display_, "XInputExtension", &xiOpcode_, &event, &error)) {
            int major = 2;
            int minor = 0;
            if (XIQueryVersion(display_, &major, &minor) == Success) {
                unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
                XISetMask(bits, XI_RawKeyPress);
                XIEventMask mask;
                mask.deviceid = XIAllMasterDevices;
                mask.mask_len = sizeof bits;
                mask.mask = bits;
                rawEvents_ =
                    XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1) == Success;
                XFlush(display_);
            }
        }
    }
    ~X11KeyState() override { XCloseDisplay(display_); }
    X11KeyState(const X11KeyState&) = delete;
    X11KeyState& operator=(const X11KeyState&) = delete;

    bool IsDownOrWasPressed(int sendKey) override {
        if (sendKey < 1 || sendKey >= static_cast<int>(kSendKeys.size())) return false;
        const KeyCode code =
            XKeysymToKeycode(display_, kSendKeys[static_cast<std::size_t>(sendKey)]);
        if (code == 0) return false;
        const bool pressed = DrainPressesOf(code);
        char keys[32] = {};
        XQueryKeymap(display_, keys);
        const bool down = (keys[code / 8] & (1 << (code % 8))) != 0;
        return down || pressed;
    }

  private:
    // Takes every waiting event; true when one of them was a press of `code`.
    bool DrainPressesOf(KeyCode code) {
        bool pressed = false;
        while (XPending(display_) > 0) {
            XEvent ev;
            XNextEvent(display_, &ev);
            XGenericEventCookie* cookie = &ev.xcookie;
            if (!rawEvents_ || cookie->type != GenericEvent || cookie->extension != xiOpcode_)
                continue;
            if (!XGetEventData(display_, cookie)) continue;
            if (cookie->evtype == XI_RawKeyPress) {
                const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
                if (raw->detail == code) pressed = true;
            }
            XFreeEventData(display_, cookie);
        }
        return pressed;
    }

    Display* display_;
    int xiOpcode_ = 0;
    bool rawEvents_ = false;
};

}  // namespace

std::unique_ptr<KeyState> CreateSystemKeyState() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return std::make_unique<NoKeyState>();
    Display* display = XOpenDisplay(name);
    if (display == nullptr) return std::make_unique<NoKeyState>();
    return std::make_unique<X11KeyState>(display);
}

}  // namespace karvelo::platform
