// The IBRit measuring bus end to end: the real program in a folder of its own
// with the bus simulator beside it as libibr_ddk.so, as a user puts IBR's
// driver there, and the simulated bus in ibrit-sim.ini.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "support/process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using karvelo::testing::RunProcess;
using karvelo::testing::TempDir;

// A channel on every bus; bus 1 and bus 2 have two each.
constexpr const char* kBus =
    "[b1c1]\nbus=1\nchannel=1\nvalues=1.101\n"
    "[b1c4]\nbus=1\nchannel=4\nvalues=1.404\n"
    "[b2c1]\nbus=2\nchannel=1\nvalues=2.101\n"
    "[b2c7]\nbus=2\nchannel=7\nvalues=-2.707\nneeds_latch=yes\n"
    "[b3]\nbus=3\nchannel=1\nvalues=3.1\n"
    "[b4]\nbus=4\nchannel=2\nvalues=4.2\n"
    "[b5]\nbus=5\nchannel=3\nvalues=5.3\n"
    "[b6]\nbus=6\nchannel=4\nvalues=6.4\n"
    "[b7]\nbus=7\nchannel=5\nvalues=7.5\n"
    "[b8]\nbus=8\nchannel=6\nvalues=8.6\n"
    "[b2none]\nbus=2\nchannel=9\nanswers=190\n"
    "[b1none]\nbus=1\nchannel=9\nanswers=190\n"
    "[b3fault]\nbus=3\nchannel=9\nanswers=17\n";

const std::string kInitMessage = "ERROR: Init: IBRIT IMB-BUS!";

class IbritStationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo"));
        std::filesystem::copy_file(std::string(KARVELO_SIM_DIR) + "/libibr_ddk.so",
                                   install.file("libibr_ddk.so"));
    }
    void Bus(const std::string& scenario) { install.Write("ibrit-sim.ini", scenario); }
    void OneSlot(int type, int channel, const std::string& extra = {}) {
        install.Write("karvelo.cfg", "[WINDOW]\nmaxno=1\n[DEVICE1]\ntyp=" + std::to_string(type) +
                                         "\nport=0\nch=" + std::to_string(channel) +
                                         "\nformat=3\n" + extra);
    }
    karvelo::testing::ProcessResult Run() {
        return RunProcess({install.file("karvelo"), "--batch", "--probe", "1"});
    }
    std::map<std::string, std::string> Probe() {
        const auto r = Run();
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.find(kInitMessage), std::string::npos) << r.err;
        return karvelo::testing::ReportFields(r.out);
    }
    std::string SimLog() { return install.Read("ibrit-sim.log"); }

    TempDir install;
};

TEST_F(IbritStationTest, ProbeReadsEveryBusType) {
    const struct {
        int type;
        int channel;
        const char* value;
    } cases[] = {
        {30, 1, "1.101"}, {30, 4, "1.404"},  {30, 0, "1.101"},  // channel 0 is the first
        {31, 1, "2.101"}, {31, 7, "-2.707"},                    // 7 answers only after a latch
        {32, 1, "3.1"},   {33, 2, "4.2"},    {34, 3, "5.3"},
        {35, 4, "6.4"},   {36, 5, "7.5"},    {37, 6, "8.6"},
    };
    Bus(kBus);
    for (const auto& c : cases) {
        OneSlot(c.type, c.channel);
        auto f = Probe();
        EXPECT_EQ(f["Slot1.Result"], "1") << c.type << "\n" << SimLog();
        EXPECT_EQ(f["Slot1.Value"], c.value) << c.type << " " << c.channel;
        EXPECT_EQ(f["Slot1.StatusText"], "") << c.type;
        EXPECT_EQ(f["Slot1.ValueError"], "0") << c.type;
    }
    const std::string log = SimLog();
    EXPECT_NE(log.find("latch bus 8"), std::string::npos) << log;
    EXPECT_NE(log.find("ibr.ddk"), std::string::npos) << log;
    EXPECT_NE(log.find("Device_DeInit"), std::string::npos) << log;
}

TEST_F(IbritStationTest, FactorAndOffsetApply) {
    Bus(kBus);
    OneSlot(34, 3, "factor=2\noffset=0.5\n");
    EXPECT_EQ(Probe()["Slot1.Value"], "11.1");
}

TEST_F(IbritStationTest, MissesByBus) {
    const struct {
        int type;
        int channel;
        const char* status;
        const char* valueError;
    } cases[] = {
        {31, 9, "device error", "1"},  // no new value and nothing to keep
        {32, 9, "device error", "1"},  // a failing collect
        {31, 3, "device error", "1"},  // a channel the bus does not have
        {30, 9, "", "0"},              // the first bus keeps silent
        {30, 3, "", "0"},
    };
    Bus(kBus);
    for (const auto& c : cases) {
        OneSlot(c.type, c.channel);
        auto f = Probe();
        EXPECT_EQ(f["Slot1.StatusText"], c.status) << c.type << " " << c.channel;
        EXPECT_EQ(f["Slot1.ValueError"], c.valueError) << c.type << " " << c.channel;
        EXPECT_EQ(f["Slot1.ValueReady"], c.valueError) << c.type << " " << c.channel;
    }
}

TEST_F(IbritStationTest, DriverThatCannotStartIsReported) {
    Bus(std::string("[driver]\ninit=3\n") + kBus);
    OneSlot(31, 1);
    const auto r = Run();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find(kInitMessage), std::string::npos) << r.err;
    auto f = karvelo::testing::ReportFields(r.out);
    EXPECT_EQ(f["Slot1.StatusText"], "usb error");
    EXPECT_EQ(f["Slot1.ValueError"], "1");
    const std::string log = SimLog();
    EXPECT_NE(log.find("Device_DeInit"), std::string::npos) << log;
    EXPECT_EQ(log.find("latch bus"), std::string::npos) << log;
}

TEST_F(IbritStationTest, WithoutUsableLibraryTheBusCannotStart) {
    const struct {
        const char* what;
        const char* source;  // copied as libibr_ddk.so; nullptr: no file
    } cases[] = {
        {"no library", nullptr},
        {"a library without the driver's calls", "libftd2xx.so"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(install.file("libibr_ddk.so"));
        if (c.source) {
            std::filesystem::copy_file(std::string(KARVELO_SIM_DIR) + "/" + c.source,
                                       install.file("libibr_ddk.so"));
        }
        OneSlot(30, 1);
        const auto r = Run();
        EXPECT_EQ(r.exitCode, 0) << c.what << "\n" << r.err;
        EXPECT_NE(r.err.find(kInitMessage), std::string::npos) << c.what << "\n" << r.err;
        auto f = karvelo::testing::ReportFields(r.out);
        EXPECT_EQ(f["Slot1.StatusText"], "usb error") << c.what;
        EXPECT_EQ(f["Slot1.ValueError"], "1") << c.what;
    }
}

TEST_F(IbritStationTest, BrokenScenarioIsABusWithoutHardware) {
    Bus("[b1]\nbus=9\nchannel=1\n");
    OneSlot(31, 1);
    const auto r = Run();
    EXPECT_NE(r.err.find("bus must be"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(kInitMessage), std::string::npos) << r.err;
    EXPECT_EQ(karvelo::testing::ReportFields(r.out)["Slot1.StatusText"], "usb error");
}

}  // namespace
}  // namespace karvelo
