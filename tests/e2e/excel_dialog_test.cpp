// The workbook export's configuration from the window, end to end: under a
// private X server the operator clicks the export ">>" of a workbook type and
// confirms the "EXCEL Configuration" dialog with Enter; the configuration file
// then holds every key of the dialog with the values it showed.
//
// With KARVELO_DIALOG_SHOT set to a file name, the dialog's picture is written
// there as a PPM image before OK (how docs/excel_dialog.png is made).

// gtest first: the X11 headers define macros (None, Bool, ...) that clash with it.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/profile.h"
#include "support/station_process.h"
#include "support/temp_dir.h"
#include "support/x_desktop.h"
#include "support/xvfb.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace karvelo {
namespace {

using karvelo::testing::Station;
using karvelo::testing::TempDir;
using namespace std::chrono_literals;

using karvelo::testing::Click;
using karvelo::testing::Press;
using karvelo::testing::WaitForWindow;
using karvelo::testing::WritePpm;

TEST(ExcelDialog, ConfirmedFromTheWindowWritesEveryKeyItShowed) {
    karvelo::testing::Xvfb xvfb;
    if (!xvfb.available()) GTEST_SKIP() << "Xvfb is not available";
    TempDir install;
    std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo"));
    install.Write("karvelo.cfg",
                  "[WINDOW]\nX=0\nY=0\n[EXPORT]\nexporttype=5\nfile_xls=Messung.xlsx\n"
                  "[EXCEL]\nrel2=0\nSP2=F\nZL2=3\nsendkey=13\n");
    Station station(install, {"DISPLAY=" + xvfb.display()}, {"--batch"});

    Display* desk = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(desk, nullptr);
    const Window main = WaitForWindow(desk, "KARVELO");
    ASSERT_NE(main, 0u) << install.Read("station.err");
    std::this_thread::sleep_for(500ms);
    Click(desk, main, 305 + 12, 75 + 61 + 12);  // the export ">>" below the one slot row

    const Window dialog = WaitForWindow(desk, "EXCEL Configuration");
    ASSERT_NE(dialog, 0u) << install.Read("station.err");
    std::this_thread::sleep_for(300ms);
    XSetInputFocus(desk, dialog, RevertToParent, CurrentTime);
    XSync(desk, False);
    std::this_thread::sleep_for(300ms);
    if (const char* shot = std::getenv("KARVELO_DIALOG_SHOT")) WritePpm(desk, dialog, shot);
    Press(desk, XK_Return);  // OK
    WaitForWindow(desk, "EXCEL Configuration", /*mapped*/ false);
    XCloseDisplay(desk);
    EXPECT_EQ(station.Stop(SIGTERM), 0);

    const auto config = platform::ProfileDocument::Load(install.file("karvelo.cfg"));
    const auto key = [&](const wchar_t* section, const wchar_t* name) {
        return config.ReadString(section, name, L"<missing>");
    };
    EXPECT_EQ(key(L"EXPORT", L"file_xls"), L"Messung.xlsx");
    EXPECT_EQ(key(L"EXCEL", L"rel2"), L"0");
    EXPECT_EQ(key(L"EXCEL", L"SP2"), L"F");
    EXPECT_EQ(key(L"EXCEL", L"ZL2"), L"3");
    EXPECT_EQ(key(L"EXCEL", L"sendkey"), L"13");
    // Keys the file lacked are written with the values the dialog showed.
    EXPECT_EQ(key(L"EXCEL", L"selectfile"), L"1");
    EXPECT_EQ(key(L"EXCEL", L"SP13"), L"12");
    EXPECT_EQ(key(L"EXCEL", L"sheet"), L"Tabelle1");
    EXPECT_EQ(key(L"EXCEL", L"refmode"), L"1");
    EXPECT_EQ(key(L"EXCEL", L"autoshift_zl"), L"1");
    EXPECT_EQ(key(L"EXCEL", L"SP14"), L"<missing>");
}

}  // namespace
}  // namespace karvelo
