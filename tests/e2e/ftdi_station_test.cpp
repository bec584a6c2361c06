// FTDI instruments end to end: the real program in a folder of its own with
// the adapter simulator beside it as libftd2xx.so, as a user puts FTDI's
// library there, and the simulated adapters in ftdi-sim.ini.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/station_process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using karvelo::testing::Lines;
using karvelo::testing::RunProcess;
using karvelo::testing::Station;
using karvelo::testing::TempDir;
using karvelo::testing::WaitForLines;
using namespace std::chrono_literals;

// One adapter of every FTDI model; each slot below picks its own by serial.
constexpr const char* kAdapters =
    "[mahr]\ndescription=MAHR 16EXu\nserial=MH0001\nprotocol=16exu\nvalues=12.345\n"
    "[pu11]\ndescription=PU11\nserial=P11A\nprotocol=pu\nvalues=1.111\n"
    "[pu23]\ndescription=PU 23\nserial=P23A\nprotocol=pu\nvalues=2.323\n"
    "[pu25]\ndescription=PU25 interface\nserial=P25A\nprotocol=pu\nvalues=2.525\n"
    "[pu60]\ndescription=PU 60\nserial=FT4A21B0\nprotocol=pu\nvalues=1.234/-0.567/0.010\n"
    "[pu300]\ndescription=PU300\nserial=P300A\nprotocol=pu\nfirmware=framed\nvalues=3.003\n"
    "[puxxx]\ndescription=PU 99 custom\nserial=PXXA\nprotocol=pu\nvalues=9.9\n"
    "[mfp]\ndescription=MFP Control\nserial=MFP1\nprotocol=mfp\nvalues=0.125\n"
    "[pu36]\ndescription=PU 36\nserial=P36A\nprotocol=pu\nfirmware=framed\nvalues=3.636\n";

class FtdiStationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo"));
        std::filesystem::copy_file(std::string(KARVELO_SIM_DIR) + "/libftd2xx.so",
                                   install.file("libftd2xx.so"));
    }
    void Adapters(const std::string& scenario) { install.Write("ftdi-sim.ini", scenario); }

    std::map<std::string, std::string> Probe(int slot) {
        const auto r =
            RunProcess({install.file("karvelo"), "--batch", "--probe", std::to_string(slot)});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return karvelo::testing::ReportFields(r.out);
    }
    std::string SimLog() { return install.Read("ftdi-sim.log"); }

    TempDir install;
};

TEST_F(FtdiStationTest, ProbeReadsEveryFtdiType) {
    struct Case {
        int type;
        const char* serial;
        const char* value;
    } cases[] = {
        {10, "MH0001", "12.345"}, {11, "P11A", "1.111"}, {12, "P23A", "2.323"},
        {13, "P25A", "2.525"},    {14, "4A21", "1.234"}, {15, "P300A", "3.003"},
        {16, "PXXA", "9.9"},      {17, "MFP1", "0.125"}, {18, "P36A", "3.636"},
    };
    Adapters(kAdapters);
    for (const Case& c : cases) {
        install.Write("karvelo.cfg", "[WINDOW]\nmaxno=1\n[DEVICE1]\ntyp=" + std::to_string(c.type) +
                                         "\nport=0\nsn=" + c.serial + "\nch=1\nformat=3\n");
        auto f = Probe(1);
        EXPECT_EQ(f["Slot1.Result"], "1") << c.type << "\n" << SimLog();
        EXPECT_EQ(f["Slot1.Value"], c.value) << c.type;
        EXPECT_EQ(f["Slot1.StatusText"], "") << c.type;
        EXPECT_EQ(f["Slot1.ValueError"], "0") << c.type;
    }
}

TEST_F(FtdiStationTest, ProbeFillsEveryProbeOfOneAdapter) {
    Adapters(kAdapters);
    install.Write("karvelo.cfg",
                  "[WINDOW]\nmaxno=4\n"
                  "[DEVICE1]\ntyp=14\nport=0\nsn=FT4A21B0\nch=51\nformat=3\n"
                  "[DEVICE2]\ntyp=14\nport=0\nsn=FT4A21B0\nch=2\nformat=3\n"
                  "[DEVICE3]\ntyp=14\nport=0\nsn=FT4A21B0\nch=3\nformat=3\nfactor=10\n"
                  "[DEVICE4]\ntyp=11\nport=0\nsn=NOSUCH\nch=1\n");
    auto f = Probe(1);
    EXPECT_EQ(f["Slot1.Result"], "1") << SimLog();
    EXPECT_EQ(f["Slot1.Value"], "1.234");
    EXPECT_EQ(f["Slot2.Value"], "-0.567");
    EXPECT_EQ(f["Slot3.Value"], "0.1");
    EXPECT_EQ(f["Slot3.TextLast"], "0.100");
    // "max" asks for the extrema output.
    EXPECT_NE(SimLog().find("PRI,5"), std::string::npos) << SimLog();

    // No adapter with that serial number.
    f = Probe(4);
    EXPECT_EQ(f["Slot4.StatusText"], "usb error");
}

TEST_F(FtdiStationTest, SendFlagOfTheInterfaceWritesRecords) {
    // Every fourth reply carries the send flag: one record per pressed key,
    // with the three probes of that reply.
    Adapters(
        "[pu60]\ndescription=PU 60\nserial=FT4A21B0\nprotocol=pu\n"
        "values=1.000/2.000/3.000 1.001/2.001/3.001 1.002/2.002/3.002 1.003/2.003/3.003\n"
        "flag=0 0 0 1\n");
    install.Write("karvelo.cfg",
                  "[WINDOW]\nmaxno=3\n[EXPORT]\nexporttype=2\npath=" + install.path().string() +
                      "/\nfile_csv=records.csv\n"
                      "[DEVICE1]\ntyp=14\nport=0\nsn=FT4A21B0\nch=1\nsendmode=0\nformat=3\n"
                      "[DEVICE2]\ntyp=14\nport=0\nsn=FT4A21B0\nch=2\nsendmode=0\nformat=3\n"
                      "[DEVICE3]\ntyp=14\nport=0\nsn=FT4A21B0\nch=3\nsendmode=0\nformat=3\n");
    Station station(install);
    ASSERT_TRUE(WaitForLines(install, "records.csv", 3, 20s))
        << install.Read("station.err") << SimLog();
    EXPECT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");

    const auto lines = Lines(install.Read("records.csv"));
    ASSERT_GE(lines.size(), 3u);
    for (const std::string& line : lines) {
        EXPECT_NE(line.find("1.003"), std::string::npos) << line;
        EXPECT_NE(line.find("2.003"), std::string::npos) << line;
        EXPECT_NE(line.find("3.003"), std::string::npos) << line;
        EXPECT_EQ(line.find("1.002"), std::string::npos) << line;
    }
}

TEST_F(FtdiStationTest, WithoutAnyLibraryTheSlotSaysUsbError) {
    std::filesystem::remove(install.file("libftd2xx.so"));
    install.Write("karvelo.cfg", "[WINDOW]\nmaxno=1\n[DEVICE1]\ntyp=14\nport=0\nch=1\n");
    auto f = Probe(1);
    EXPECT_EQ(f["Slot1.StatusText"], "usb error");
    EXPECT_EQ(f["Slot1.ValueError"], "1");
}

TEST_F(FtdiStationTest, BrokenLibraryBesideTheProgramIsReported) {
    install.Write("libftd2xx.so", "not a library");
    install.Write("karvelo.cfg", "[WINDOW]\nmaxno=1\n[DEVICE1]\ntyp=14\nport=0\nch=1\n");
    const auto r = RunProcess({install.file("karvelo"), "--batch", "--probe", "1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("libftd2xx.so"), std::string::npos) << r.err;
    EXPECT_EQ(karvelo::testing::ReportFields(r.out)["Slot1.StatusText"], "usb error");
}

}  // namespace
}  // namespace karvelo
