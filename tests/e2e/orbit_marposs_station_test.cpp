// Orbit probes and the Marposs box end to end: the real program in a folder of
// its own with the simulated vendor libraries beside it (liborbit_if.so,
// libmarposs_zento.so) and their scenarios orbit-sim.ini and marposs-sim.ini.

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

constexpr const char* kOrbitLibrary = "liborbit_if.so";
constexpr const char* kMarpossLibrary = "libmarposs_zento.so";

// Two networks: probes reading 10 and 5 units, one out of range, one failing.
constexpr const char* kProbes =
    "[library]\nnetworks=2\n"
    "[ten]\nnetwork=0\nchannel=3\nreadings=262144\n"
    "[five]\nnetwork=1\nchannel=1\nreadings=131072\n"
    "[over]\nnetwork=1\nchannel=2\nstatus=8466\n"
    "[broken]\nnetwork=0\nchannel=4\nstatus=7\n";

class OrbitMarpossStationTest : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo")); }
    void Install(const char* library, const char* scenarioFile, const std::string& scenario) {
        std::filesystem::copy_file(std::string(KARVELO_SIM_DIR) + "/" + library,
                                   install.file(library));
        install.Write(scenarioFile, scenario);
    }
    // Slot 1 of the given type.
    void Slot(int type, const std::string& sn, int channel, const std::string& extra = {}) {
        install.Write("karvelo.cfg", "[WINDOW]\nmaxno=1\n[DEVICE1]\ntyp=" + std::to_string(type) +
                                         "\nport=0\nsn=" + sn + "\nch=" + std::to_string(channel) +
                                         "\nformat=3\n" + extra);
    }

    struct Probed {
        std::map<std::string, std::string> fields;
        std::string err;
    };
    Probed Probe() {
        const auto r = RunProcess({install.file("karvelo"), "--batch", "--probe", "1"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return {karvelo::testing::ReportFields(r.out), r.err};
    }
    std::string Log(const char* name) {
        return std::filesystem::exists(install.file(name)) ? install.Read(name) : std::string();
    }

    TempDir install;
};

TEST_F(OrbitMarpossStationTest, OrbitProbesReadTheirNetworkAndChannel) {
    struct Case {
        const char* sn;
        int channel;
        const char* extra;
        const char* value;
        const char* status;
    } cases[] = {
        {"0", 3, "", "10", ""},
        {"1", 1, "factor=2\noffset=0.25\n", "10.25", ""},
        {"1", 2, "", "0", "out of range"},
        {"0", 4, "", "0", "error"},
        // No probe there: the simulator refuses the read.
        {"1", 9, "", "0", "error"},
    };
    Install(kOrbitLibrary, "orbit-sim.ini", kProbes);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sn) + "/" + std::to_string(c.channel));
        Slot(21, c.sn, c.channel, c.extra);
        Probed p = Probe();
        // The dispatch answers 1 for a value and for a word alike.
        EXPECT_EQ(p.fields["Slot1.Result"], "1") << Log("orbit-sim.log");
        EXPECT_EQ(p.fields["Slot1.Value"], c.value);
        EXPECT_EQ(p.fields["Slot1.StatusText"], c.status);
        EXPECT_EQ(p.err, "");
    }
    // Each open resets both networks and puts the slot's probe into reading mode.
    const std::string log = Log("orbit-sim.log");
    const auto connect = log.find("ConnectToOrbitNetworks: status 0, 2 network(s)");
    const auto rst1 = log.find("OrbitRst 1", connect);
    const auto mode1 = log.find("ten: OrbitSetmode code 50, value 64", rst1);
    const auto mode2 = log.find("ten: OrbitSetmode code 51, value 18: in reading mode", mode1);
    const auto read = log.find("ten: OrbitRead2 1: reading 262144", mode2);
    EXPECT_NE(read, std::string::npos) << log;
}

TEST_F(OrbitMarpossStationTest, OrbitWithoutNetworkOrLibraryIsToldAndReadsError) {
    struct Case {
        const char* name;
        bool installed;
        const char* scenario;
        const char* message;
    } cases[] = {
        {"connect fails", true, "[library]\nconnect=5\n[p]\nchannel=1\n",
         "KARVELO: Orbit not exist!\n"},
        {"no network", true, "[library]\nnetworks=0\n", "KARVELO: Orbit not exist!\n"},
        {"no library", false, "", "KARVELO: Load Orbit DLL\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(install.file(kOrbitLibrary));
        if (c.installed) Install(kOrbitLibrary, "orbit-sim.ini", c.scenario);
        Slot(21, "0", 1);
        Probed p = Probe();
        EXPECT_EQ(p.err, c.message);
        EXPECT_EQ(p.fields["Slot1.ValueError"], "1");
        EXPECT_EQ(p.fields["Slot1.StatusText"], "error");
    }
}

TEST_F(OrbitMarpossStationTest, MarpossChannelIsReadOnTheWindowThread) {
    Install(kMarpossLibrary, "marposs-sim.ini",
            "[a]\nchannel=2\nvalues=1.5 1.75\n[b]\nchannel=3\nvalues=-0.125\n");
    Slot(22, "", 2, "factor=2\noffset=0.5\n");
    Probed p = Probe();
    EXPECT_EQ(p.fields["Slot1.Result"], "1") << Log("marposs-sim.log");
    EXPECT_EQ(p.fields["Slot1.Value"], "3.5");
    EXPECT_EQ(p.fields["Slot1.StatusText"], "");

    Slot(22, "", 3);
    p = Probe();
    EXPECT_EQ(p.fields["Slot1.Value"], "-0.125");

    const std::string log = Log("marposs-sim.log");
    EXPECT_NE(log.find("Init(1) (thread 1): 1"), std::string::npos) << log;
    EXPECT_NE(log.find("a: ReadValue(2) (thread 1): 1.5"), std::string::npos) << log;
    EXPECT_EQ(log.find("(thread 2)"), std::string::npos) << log;
}

TEST_F(OrbitMarpossStationTest, MarpossNotReadyReadsErrorWithoutReadValue) {
    struct Case {
        const char* name;
        bool installed;
    } cases[] = {{"Init 0", true}, {"no library", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.installed) Install(kMarpossLibrary, "marposs-sim.ini", "[box]\ninit=0\n");
        Slot(22, "", 1);
        Probed p = Probe();
        EXPECT_EQ(p.fields["Slot1.ValueError"], "1");
        EXPECT_EQ(p.fields["Slot1.StatusText"], "error");
        EXPECT_EQ(p.fields["Slot1.Value"], "0");
        EXPECT_EQ(p.err, "") << "no message for the box";
        EXPECT_EQ(Log("marposs-sim.log").find("ReadValue"), std::string::npos);
    }
}

}  // namespace
}  // namespace karvelo
