#pragma once
// The operator's hands on a private X server: find a window by its title,
// click into it, press a key, and take its picture.

// gtest (if any) first: the X11 headers define macros (None, Bool, ...).
#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace karvelo::testing {

// The first window below `w` whose name starts with `prefix`; 0 when none.
inline Window FindWindow(Display* d, Window w, const char* prefix) {
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        const bool match = std::strncmp(name, prefix, std::strlen(prefix)) == 0;
        XFree(name);
        if (match) return w;
    }
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int n = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &n)) return 0;
    Window found = 0;
    for (unsigned int i = 0; i < n && !found; ++i) found = FindWindow(d, children[i], prefix);
    if (children) XFree(children);
    return found;
}

inline Window WaitForWindow(Display* d, const char* prefix, bool mapped = true) {
    for (int i = 0; i < 100; ++i) {
        const Window w = FindWindow(d, DefaultRootWindow(d), prefix);
        XWindowAttributes a{};
        if (w && XGetWindowAttributes(d, w, &a) && (a.map_state == IsViewable) == mapped) {
            return w;
        }
        if (!w && !mapped) return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return mapped ? 0 : 1;
}

inline void Click(Display* d, Window w, int x, int y) {
    int rx = 0, ry = 0;
    Window child = 0;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(d, -1, rx, ry, CurrentTime);
    XTestFakeButtonEvent(d, 1, True, CurrentTime);
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    XSync(d, False);
}

inline void Press(Display* d, KeySym key) {
    const KeyCode code = XKeysymToKeycode(d, key);
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    XSync(d, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

inline void WritePpm(Display* d, Window w, const std::string& path) {
    XWindowAttributes a{};
    XGetWindowAttributes(d, w, &a);
    XImage* image = XGetImage(d, w, 0, 0, static_cast<unsigned>(a.width),
                              static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
    if (!image) return;
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << a.width << " " << a.height << "\n255\n";
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            const unsigned long p = XGetPixel(image, x, y);
            const char rgb[3] = {static_cast<char>((p >> 16) & 0xff),
                                 static_cast<char>((p >> 8) & 0xff), static_cast<char>(p & 0xff)};
            out.write(rgb, 3);
        }
    }
    XDestroyImage(image);
}

}  // namespace karvelo::testing
