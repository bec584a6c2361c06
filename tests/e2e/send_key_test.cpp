// The global send key on a real X desktop: another program's window has the
// focus, the operator presses the configured key, and the record is written.

// gtest first: the X11 headers define macros (None, Bool, ...) that clash with it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "support/sim_process.h"
#include "support/station_process.h"
#include "support/temp_dir.h"
#include "support/x_desktop.h"
#include "support/xvfb.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace karvelo {
namespace {

using karvelo::testing::Lines;
using karvelo::testing::SimProcess;
using karvelo::testing::Station;
using karvelo::testing::TempDir;
using karvelo::testing::WaitForLines;
using namespace std::chrono_literals;

TEST(SendKey, PressedWhileAnotherWindowHasTheFocus) {
    karvelo::testing::Xvfb xvfb;
    if (!xvfb.available()) GTEST_SKIP() << "Xvfb is not available";
    TempDir install;
    TempDir bench;
    std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo"));
    SimProcess sim(bench.path(),
                   "[gauge]\nlink=" + bench.file("ttyGauge") + "\ntype=1\nvalues=4.321\n");
    ASSERT_TRUE(sim.ready()) << sim.Log();
    // F5 is the send key; the gauge answers only when the key asks for it.
    install.Write(
        "karvelo.cfg",
        "[PORTS]\nCOM3=" + bench.file("ttyGauge") +
            "\n[EXCEL]\nsendkey=5\n[EXPORT]\nexporttype=2\npath=" + install.path().string() +
            "/\nfile_csv=keyed.csv\n[DEVICE1]\ntyp=1\nport=3\nsendmode=1\nformat=3\n");
    Station station(install, {"DISPLAY=" + xvfb.display()}, {"--batch"});

    Display* desk = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(desk, nullptr);
    // The station is up and has raised its window and taken the focus, so
    // that the focus given away below stays given away.
    ASSERT_NE(karvelo::testing::WaitForWindow(desk, "KARVELO"), 0u) << install.Read("station.err");
    const auto end = std::chrono::steady_clock::now() + 10s;
    for (;;) {
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(desk, &focus, &revert);
        if (focus > PointerRoot || std::chrono::steady_clock::now() > end) break;
        std::this_thread::sleep_for(20ms);
    }
    const Window other =
        XCreateSimpleWindow(desk, DefaultRootWindow(desk), 400, 400, 200, 100, 0, 0, 0);
    XMapRaised(desk, other);
    XSync(desk, False);
    XSetInputFocus(desk, other, RevertToParent, CurrentTime);
    XSync(desk, False);
    EXPECT_TRUE(Lines(install.Read("keyed.csv")).empty()) << "no record before the key";

    const KeyCode f5 = XKeysymToKeycode(desk, XK_F5);
    XTestFakeKeyEvent(desk, f5, True, CurrentTime);
    XTestFakeKeyEvent(desk, f5, False, CurrentTime);
    XSync(desk, False);

    const bool written = WaitForLines(install, "keyed.csv", 1, 10s);
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(desk, &focus, &revert);
    EXPECT_EQ(focus, other) << "the other window kept the focus";
    XCloseDisplay(desk);
    ASSERT_TRUE(written) << install.Read("station.err") << sim.Log();
    EXPECT_EQ(station.Stop(SIGTERM), 0);
    const auto lines = Lines(install.Read("keyed.csv"));
    ASSERT_EQ(lines.size(), 1u) << "one press, one record";
    EXPECT_NE(lines[0].find(";4.321;"), std::string::npos) << lines[0];
}

}  // namespace
}  // namespace karvelo
