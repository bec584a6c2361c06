// The send key on an X11 desktop, from XInput2 raw key events on the root
// window of a connection of its own: presses and releases arrive whichever
// window has the focus, even while another program grabs the keyboard, and a
// query reads what has arrived without a round trip to the server. The key
// map is asked once, for keys already down at the start, and on every query
// only where the server has no raw events. The connection is used only by the
// thread that queries.

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/keysym.h>
#include <poll.h>

#include <array>
#include <bitset>
#include <cstdlib>
#include <utility>

#include "platform/keystate.h"
#include "platform/wait.h"

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

constexpr int kKeyMapPollMs = 50;

class X11KeyState : public KeyState {
  public:
    explicit X11KeyState(Display* display) : display_(display) {
        int event = 0;
        int error = 0;
        if (XQueryExtension(display_, "XInputExtension", &xiOpcode_, &event, &error)) {
            // 2.1 or later: raw events reach the root window during grabs too.
            int major = 2;
            int minor = 2;
            if (XIQueryVersion(display_, &major, &minor) == Success &&
                (major > 2 || (major == 2 && minor >= 1))) {
                unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
                XISetMask(bits, XI_RawKeyPress);
                XISetMask(bits, XI_RawKeyRelease);
                XIEventMask mask;
                mask.deviceid = XIAllMasterDevices;
                mask.mask_len = sizeof bits;
                mask.mask = bits;
                rawEvents_ =
                    XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1) == Success;
            }
        }
        // Keys already held when the station starts; events keep it from now on.
        ReadKeyMap();
        XFlush(display_);
    }
    ~X11KeyState() override { XCloseDisplay(display_); }
    X11KeyState(const X11KeyState&) = delete;
    X11KeyState& operator=(const X11KeyState&) = delete;

    bool IsDownOrWasPressed(int sendKey) override {
        // Events are taken on every query, for no key too: a press counts only
        // for the key asked about next, never for a key chosen later.
        TakeEvents();
        if (!rawEvents_) ReadKeyMap();
        const std::bitset<256> pressed = std::exchange(pressed_, {});
        if (sendKey < 1 || sendKey >= static_cast<int>(kSendKeys.size())) return false;
        bool result = false;
        for (const KeySym sym : kSendKeys[static_cast<std::size_t>(sendKey)]) {
            if (sym == NoSymbol) continue;
            const KeyCode code = XKeysymToKeycode(display_, sym);
            if (code != 0) result = result || down_[code] || pressed[code];
        }
        return result;
    }

    void WaitForKeyEvents(int ms) override {
        // Without raw events the key map is all there is: ask it every 50 ms.
        if (!rawEvents_) {
            SleepMs(ms < kKeyMapPollMs ? ms : kKeyMapPollMs);
            return;
        }
        if (XPending(display_) > 0) return;
        pollfd p{ConnectionNumber(display_), POLLIN, 0};
        ::poll(&p, 1, ms);
    }

  private:
    void ReadKeyMap() {
        char keys[32] = {};
        XQueryKeymap(display_, keys);
        for (std::size_t code = 0; code < down_.size(); ++code) {
            down_[code] = (keys[code / 8] & (1 << (code % 8))) != 0;
        }
    }

    // Takes every event that has arrived, without waiting for more.
    void TakeEvents() {
        while (XPending(display_) > 0) {
            XEvent ev;
            XNextEvent(display_, &ev);
            XGenericEventCookie* cookie = &ev.xcookie;
            if (!rawEvents_ || cookie->type != GenericEvent || cookie->extension != xiOpcode_)
                continue;
            if (!XGetEventData(display_, cookie)) continue;
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            const auto code = static_cast<std::size_t>(raw->detail);
            if (code < down_.size()) {
                if (cookie->evtype == XI_RawKeyPress) {
                    down_[code] = true;
                    pressed_[code] = true;  // counts once, even if released already
                } else if (cookie->evtype == XI_RawKeyRelease) {
                    down_[code] = false;
                }
            }
            XFreeEventData(display_, cookie);
        }
    }

    Display* display_;
    int xiOpcode_ = 0;
    bool rawEvents_ = false;
    std::bitset<256> down_;     // by key code
    std::bitset<256> pressed_;  // pressed since the key was last asked about
};

}  // namespace

void KeyState::WaitForKeyEvents(int ms) {
    SleepMs(ms);
}

std::unique_ptr<KeyState> CreateSystemKeyState() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') return std::make_unique<NoKeyState>();
    Display* display = XOpenDisplay(name);
    if (display == nullptr) return std::make_unique<NoKeyState>();
    return std::make_unique<X11KeyState>(display);
}

}  // namespace karvelo::platform
