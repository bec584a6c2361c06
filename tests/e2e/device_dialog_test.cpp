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
#include "support/x_desktop.h"
#include "support/xvfb.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace karvelo {
namespace {

using karvelo::testing::RunProcess;
using karvelo::testing::SimProcess;
using karvelo::testing::Station;
using karvelo::testing::TempDir;
using namespace std::chrono_literals;

using karvelo::testing::Click;
using karvelo::testing::Press;
using karvelo::testing::WaitForWindow;
using karvelo::testing::WritePpm;

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
