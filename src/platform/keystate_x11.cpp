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

// Send key number -> the key symbols that press it; index 0 is "none". Foot
// switches and keypads send the keypad's Enter, which counts as Enter (on
// Windows both are one virtual key).
using SendKeySymbols = std::array<KeySym, 2>;
constexpr std::array<SendKeySymbols, 15> kSendKeys = {{
    {NoSymbol, NoSymbol},
    {XK_F1, NoSymbol},
    {XK_F2, NoSymbol},
    {XK_F3, NoSymbol},
    {XK_F4, NoSymbol},
    {XK_F5, NoSymbol},
    {XK_F6, NoSymbol},
    {XK_F7, NoSymbol},
    {XK_F8, NoSymbol},
    {XK_F9, NoSymbol},
    {XK_F10, NoSymbol},
    {XK_F11, NoSymbol},
    {XK_F12, NoSymbol},
    {XK_space, NoSymbol},
    {XK_Return, XK_KP_Enter},
}};

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
        std::array<KeyCode, 2> codes{};
        for (std::size_t i = 0; i < codes.size(); ++i) {
            const KeySym sym = kSendKeys[static_cast<std::size_t>(sendKey)][i];
            if (sym != NoSymbol) codes[i] = XKeysymToKeycode(display_, sym);
        }
        if (codes[0] == 0 && codes[1] == 0) return false;
        const bool pressed = DrainPressesOf(codes);
        char keys[32] = {};
        XQueryKeymap(display_, keys);
        for (KeyCode code : codes) {
            if (code != 0 && (keys[code / 8] & (1 << (code % 8))) != 0) return true;
        }
        return pressed;
    }

  private:
    // Takes every waiting event; true when one of them was a press of one of
    // `codes` (0: no key).
    bool DrainPressesOf(const std::array<KeyCode, 2>& codes) {
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
                for (KeyCode code : codes) {
                    if (code != 0 && raw->detail == code) pressed = true;
                }
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
