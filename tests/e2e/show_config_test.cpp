// The real karvelo binary, copied into a folder of its own as an installation
// would have it, started from a different working directory.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "support/process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using karvelo::testing::RunProcess;
using karvelo::testing::TempDir;

class Installation : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::copy_file(KARVELO_BINARY, program()); }
    std::string program() const { return install.file("karvelo"); }

    std::map<std::string, std::string> ShowConfig() {
        const auto r = RunProcess({program(), "--show-config"}, elsewhere.path().string());
        EXPECT_EQ(r.exitCode, 0) << r.err;
        auto fields = karvelo::testing::ReportFields(r.out);
        return fields;
    }

    TempDir install;
    TempDir elsewhere;
};

TEST_F(Installation, EmptyFolderShowsTheDefaults) {
    // A configuration in the working directory must not be used.
    elsewhere.Write("karvelo.cfg", "[WINDOW]\nmaxno=7\nX=1\n");
    auto f = ShowConfig();
    EXPECT_EQ(f["ConfigDir"], install.path().string() + "/");
    EXPECT_EQ(f["DeviceCount"], "1");
    EXPECT_EQ(f["Slot1.DeviceType"], "0");
    EXPECT_EQ(f["Slot1.TypeName"], "TEXT input");
    EXPECT_EQ(f["ExportType"], "0");
    EXPECT_EQ(f["WindowX"], "663");
    EXPECT_EQ(f["WindowY"], "405");
    EXPECT_EQ(f["TimerPeriod"], "0");
    EXPECT_EQ(f["Excel.Sheet"], "Tabelle1");
    EXPECT_FALSE(install.Exists("karvelo.cfg")) << "--show-config writes nothing";
}

TEST_F(Installation, MinuteTimerShowsAsSeconds) {
    install.Write("karvelo.cfg",
                  "[DEVICE1]\r\ntyp=1\r\nsendmode=4\r\nsendtime=2\r\nfactor=0.5\r\ntyp_txt=Sylvac "
                  "duplex\r\n");
    auto f = ShowConfig();
    EXPECT_EQ(f["Slot1.SendMode"], "3");
    EXPECT_EQ(f["Slot1.SendTime"], "120");
    EXPECT_EQ(f["TimerPeriod"], "120");
    EXPECT_EQ(f["Slot1.Factor"], "0.5");
    EXPECT_EQ(f["Slot1.DeviceSummary"], "Sylvac duplex /  /  C:1");
}

TEST_F(Installation, ConfigurationSetAndNonAsciiTexts) {
    install.Write("karvelo.cfg", "[MAIN]\ncfg=2\n");
    // Windows-1252 bytes: "Bohrung \xd8 5 \xb5m".
    install.Write("karvelo2.cfg", "[DEVICE1]\ntitle=Bohrung \xd8 5 \xb5m\ntyp=41\n");
    auto f = ShowConfig();
    EXPECT_EQ(f["ActiveConfigFile"], install.file("karvelo2.cfg"));
    EXPECT_EQ(f["Slot1.Title"], "Bohrung \xc3\x98 5 \xc2\xb5m");
    EXPECT_EQ(f["Slot1.TypeName"], "RedLab16xx  5V");
}

TEST_F(Installation, PortDeviceIsWhereTheComNumberLeads) {
    // COM4 is mapped in [PORTS] of the main file; the others take the default
    // names; a USB adapter slot and a text slot have no COM device.
    install.Write("karvelo.cfg",
                  "[PORTS]\nCOM4=/dev/serial/by-id/usb-gauge\n[WINDOW]\nmaxno=6\n"
                  "[DEVICE1]\ntyp=1\nport=4\n[DEVICE2]\ntyp=1\nport=3\n"
                  "[DEVICE3]\ntyp=26\nport=34\n[DEVICE4]\ntyp=9\nport=66\n"
                  "[DEVICE5]\ntyp=0\nport=3\n[DEVICE6]\ntyp=1\nport=0\n");
    auto f = ShowConfig();
    EXPECT_EQ(f["Slot1.PortDevice"], "/dev/serial/by-id/usb-gauge");
    EXPECT_EQ(f["Slot2.PortDevice"], "/dev/ttyS2");
    EXPECT_EQ(f["Slot3.PortDevice"], "/dev/ttyUSB1");
    EXPECT_EQ(f["Slot4.PortDevice"], "/dev/ttyACM1");
    EXPECT_EQ(f["Slot5.PortDevice"], "");
    EXPECT_EQ(f["Slot6.PortDevice"], "");
    EXPECT_EQ(f.count("Slot7.PortDevice"), 1u);
}

TEST_F(Installation, VersionHelpAndBadOptions) {
    auto v = RunProcess({program(), "--version"});
    EXPECT_EQ(v.exitCode, 0);
    EXPECT_EQ(v.out, "KARVELO V2.0(200323)\n");
    auto h = RunProcess({program(), "--help"});
    EXPECT_EQ(h.exitCode, 0);
    EXPECT_NE(h.out.find("--show-config"), std::string::npos);
    auto bad = RunProcess({program(), "--frobnicate"});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_NE(bad.err.find("unknown option"), std::string::npos);
    auto probe = RunProcess({program(), "--probe", "11"});
    EXPECT_EQ(probe.exitCode, 2);
}

}  // namespace
}  // namespace karvelo
