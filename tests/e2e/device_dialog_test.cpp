// The device configuration from the window, end to end: under a private X
// server the operator clicks a slot's ">>", picks another type and port with
// the keyboard and presses Enter; the file then holds the new setting, and
// --show-config and --probe use it.
//
// With KARVELO_DIALOG_SHOT set to a file name, the dialog's picture is written
// there as a PPM image before OK (how docs/device_dialog.png is made).

// gtest first: the X11 headers define macros (None, Bool, ...) that clash with it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/process.h"
#include "support/sim_process.h"
#include "support/station_process.h"
#include "support/temp_dir.h"
#include "support/xvfb.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace karvelo {
namespace {

using karvelo::testing::RunProcess;
using karvelo::testing::SimProcess;
using karvelo::testing::Station;
using karvelo::testing::TempDir;
using namespace std::chrono_literals;

// The first window below `w` whose name starts with `prefix`; 0 when none.
Window FindWindow(Display* d, Window w, const char* prefix) {
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

Window WaitForWindow(Display* d, const char* prefix, bool mapped = true) {
    for (int i = 0; i < 100; ++i) {
        const Window w = FindWindow(d, DefaultRootWindow(d), prefix);
        XWindowAttributes a{};
        if (w && XGetWindowAttributes(d, w, &a) && (a.map_state == IsViewable) == mapped) {
            return w;
        }
        if (!w && !mapped) return 0;
        std::this_thread::sleep_for(100ms);
    }
    return mapped ? 0 : 1;
}

void Click(Display* d, Window w, int x, int y) {
    int rx = 0, ry = 0;
    Window child = 0;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), x, y, &rx, &ry, &child);
    XTestFakeMotionEvent(d, -1, rx, ry, CurrentTime);
    XTestFakeButtonEvent(d, 1, True, CurrentTime);
    XTestFakeButtonEvent(d, 1, False, CurrentTime);
    XSync(d, False);
}

void Press(Display* d, KeySym key) {
    const KeyCode code = XKeysymToKeycode(d, key);
    XTestFakeKeyEvent(d, code, True, CurrentTime);
    XTestFakeKeyEvent(d, code, False, CurrentTime);
    XSync(d, False);
    std::this_thread::sleep_for(200ms);
}

void WritePpm(Display* d, Window w, const std::string& path) {
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

TEST(DeviceDialog, SlotSetUpFromTheWindowIsUsedByTheStation) {
    karvelo::testing::Xvfb xvfb;
    if (!xvfb.available()) GTEST_SKIP() << "Xvfb is not available";
    TempDir install;
    TempDir bench;
    std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo"));
    SimProcess sim(bench.path(),
                   "[gauge]\nlink=" + bench.file("ttyGauge") + "\ntype=1\nvalues=4.321\n");
    ASSERT_TRUE(sim.ready()) << sim.Log();
    // Slot 1 is a text slot; the gauge waits on COM 5, one below the
    // dialog's remembered COM 4.
    install.Write("karvelo.cfg", "[WINDOW]\nX=0\nY=0\n[PORTS]\nCOM4=" + install.file("none") +
                                     "\nCOM5=" + bench.file("ttyGauge") +
                                     "\n[DEVICE1]\ntyp=0\nport=4\nformat=3\n");
    Station station(install, {"DISPLAY=" + xvfb.display()}, {"--batch"});

    Display* desk = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(desk, nullptr);
    const Window main = WaitForWindow(desk, "KARVELO");
    ASSERT_NE(main, 0u) << install.Read("station.err");
    std::this_thread::sleep_for(500ms);
    Click(desk, main, 305 + 12, 40 + 12);  // the ">>" of slot 1

    const Window dialog = WaitForWindow(desk, "DEVICE CONFIGURATION");
    ASSERT_NE(dialog, 0u) << install.Read("station.err");
    std::this_thread::sleep_for(300ms);
    XSetInputFocus(desk, dialog, RevertToParent, CurrentTime);
    XSync(desk, False);
    std::this_thread::sleep_for(300ms);
    Press(desk, XK_Down);                // type list: "TEXT input" -> "Sylvac duplex"
    Press(desk, XK_Tab);                 // request list
    Press(desk, XK_Tab);                 // port list
    Press(desk, XK_Down);                // COM 4 -> COM 5
    std::this_thread::sleep_for(500ms);  // the probe has named the ports
    if (const char* shot = std::getenv("KARVELO_DIALOG_SHOT")) WritePpm(desk, dialog, shot);
    Press(desk, XK_Return);  // OK
    WaitForWindow(desk, "DEVICE CONFIGURATION", /*mapped*/ false);
    XCloseDisplay(desk);
    EXPECT_EQ(station.Stop(SIGTERM), 0);

    const auto config = RunProcess({install.file("karvelo"), "--show-config"});
    EXPECT_NE(config.out.find("Slot1.DeviceType=1\n"), std::string::npos) << config.out;
    EXPECT_NE(config.out.find("Slot1.TypeText=Sylvac duplex\n"), std::string::npos);
    EXPECT_NE(config.out.find("Slot1.Port=5\n"), std::string::npos);
    EXPECT_NE(config.out.find("Slot1.PortText=com5\n"), std::string::npos);

    const auto probe = RunProcess({install.file("karvelo"), "--batch", "--probe", "1"});
    EXPECT_NE(probe.out.find("Slot1.Value=4.321\n"), std::string::npos)
        << probe.out << probe.err << sim.Log();
}

}  // namespace
}  // namespace karvelo
