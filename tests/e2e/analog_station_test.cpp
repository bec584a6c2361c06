// The analog inputs end to end: the real program in a folder of its own with
// the module simulator beside it as libcbw.so and the inputs in cbw-sim.ini.

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

// Board 0 channel 0 serves the UMP-K set-ups; every RedLab type reads an input
// of its own, wired for its range.
constexpr const char* kModules =
    "[umpk]\nboard=0\nchannel=0\nraw=2248\n"
    "[r40]\nboard=1\nchannel=0\nrange=bip10\nraw=49152\n"
    "[r41]\nboard=2\nchannel=3\nrange=bip5\n"
    "raw=49152 49152 49152 49152 49152 49152 49152 60000\n"
    "[r42]\nboard=1\nchannel=2\nrange=bip2\nraw=16384\n"
    "[r43]\nboard=1\nchannel=3\nrange=bip1\nraw=32768\n"
    "[r44]\nboard=3\nchannel=0\nrange=bip10\nraw=2048\n"
    "[r45]\nboard=3\nchannel=1\nrange=bip5\nraw=3072\n"
    "[r46]\nboard=3\nchannel=2\nrange=bip2\nraw=0\n"
    "[r47]\nboard=3\nchannel=3\nrange=bip1\nraw=1024\n"
    "[flaky]\nboard=4\nchannel=0\nraw=2048\nbehaviour=fail\nevery=2\n"
    "[dead]\nboard=4\nchannel=1\nraw=2048\nbehaviour=fail\n";

class AnalogStationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo"));
        std::filesystem::copy_file(std::string(KARVELO_SIM_DIR) + "/libcbw.so",
                                   install.file("libcbw.so"));
        install.Write("cbw-sim.ini", kModules);
    }
    void Slot(int type, const std::string& sn, int ch) {
        install.Write("karvelo.cfg", "[WINDOW]\nmaxno=1\n[DEVICE1]\ntyp=" + std::to_string(type) +
                                         "\nport=0\nsn=" + sn + "\nch=" + std::to_string(ch) +
                                         "\nformat=4\n");
    }
    std::map<std::string, std::string> Probe() {
        const auto r = RunProcess({install.file("karvelo"), "--batch", "--probe", "1"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return karvelo::testing::ReportFields(r.out);
    }
    std::string SimLog() { return install.Read("cbw-sim.log"); }

    TempDir install;
};

TEST_F(AnalogStationTest, ProbeReadsEveryAnalogType) {
    struct Case {
        int type;
        const char* sn;
        int ch;
        const char* value;
    } cases[] = {
        {40, "1", 0, "5"}, {41, "2", 3, "2.5"}, {42, "1", 2, "-1"},      {43, "1", 3, "0"},
        {44, "3", 0, "0"}, {45, "3", 1, "2.5"}, {46, "3", 2, "-2"},      {47, "3", 3, "-0.5"},
        {51, "", 0, "1"},  {52, "9", 4, "2"},   {53, "", 0, "-23.5004"}, {54, "", 0, "-47.0008"},
    };
    for (const Case& c : cases) {
        Slot(c.type, c.sn, c.ch);
        auto f = Probe();
        EXPECT_EQ(f["Slot1.Result"], "1") << c.type << "\n" << SimLog();
        EXPECT_EQ(f["Slot1.Value"], c.value) << c.type << "\n" << SimLog();
        EXPECT_EQ(f["Slot1.StatusText"], "") << c.type;
    }
}

TEST_F(AnalogStationTest, AConversionFailingOnceIsRepeatedTwiceIsUnavailable) {
    Slot(44, "4", 0);
    auto f = Probe();
    EXPECT_EQ(f["Slot1.Value"], "0") << SimLog();
    EXPECT_EQ(f["Slot1.StatusText"], "");

    Slot(44, "4", 1);
    f = Probe();
    EXPECT_EQ(f["Slot1.StatusText"], "unavailable") << SimLog();
    EXPECT_EQ(f["Slot1.ValueError"], "1");
    // A module that is not there: two calls, then the reading ends.
    Slot(45, "8", 0);
    f = Probe();
    EXPECT_EQ(f["Slot1.StatusText"], "unavailable");
}

TEST_F(AnalogStationTest, WithoutTheLibraryTheSlotSaysUsbError) {
    std::filesystem::remove(install.file("libcbw.so"));
    Slot(41, "2", 3);
    auto f = Probe();
    EXPECT_EQ(f["Slot1.StatusText"], "usb error");
    EXPECT_EQ(f["Slot1.ValueError"], "1");
}

}  // namespace
}  // namespace karvelo
