// The counter card end to end: the real program in a folder of its own with
// the card simulator beside it as libik220.so and the axes in ik220-sim.ini.

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

constexpr const char* kCard =
    "[length]\naxis=0\nid=12345\ninterface=1vss\nvalues=12.5\n"
    "[current]\naxis=2\nid=777\ninterface=11ua\nvalues=-3.25\n"
    "[endat]\naxis=3\nid=4242\ninterface=endat\nvalues=100.125\n"
    "[ssi]\naxis=7\nid=99\ninterface=ssi\nvalues=7\n"
    "[flaky]\naxis=5\nid=31\nvalues=1\nbehaviour=fail\n";

class Ik220StationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo"));
        std::filesystem::copy_file(std::string(KARVELO_SIM_DIR) + "/libik220.so",
                                   install.file("libik220.so"));
        install.Write("ik220-sim.ini", kCard);
    }
    void Slot(const std::string& sn, int parameter, const std::string& extra = {}) {
        install.Write("karvelo.cfg",
                      "[WINDOW]\nmaxno=2\n[DEVICE1]\ntyp=11\nport=0\nch=3\n"
                      "[DEVICE2]\ntyp=20\nport=0\nsn=" +
                          sn + "\nch=1\nparameter=" + std::to_string(parameter) + "\nformat=3\n" +
                          extra);
    }
    std::map<std::string, std::string> Probe(int slot) {
        const auto r =
            RunProcess({install.file("karvelo"), "--batch", "--probe", std::to_string(slot)});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return karvelo::testing::ReportFields(r.out);
    }
    std::string SimLog() { return install.Read("ik220-sim.log"); }

    TempDir install;
};

TEST_F(Ik220StationTest, ProbeReadsTheAxisOfEveryInterface) {
    struct Case {
        const char* sn;
        int parameter;
        const char* value;
    } cases[] = {
        {"12345", 0, "12.5"},    // 1Vss, Read48
        {"777.9", 1, "-3.25"},   // 11µA, the fraction of the number dropped
        {"4242", 2, "100.125"},  // EnDat, ReadEn
        {"99", 3, "7"},          // SSI
    };
    for (const Case& c : cases) {
        Slot(c.sn, c.parameter);
        auto f = Probe(2);
        EXPECT_EQ(f["Slot2.Result"], "1") << c.sn << "\n" << SimLog();
        EXPECT_EQ(f["Slot2.Value"], c.value) << c.sn << "\n" << SimLog();
        EXPECT_EQ(f["Slot2.StatusText"], "") << c.sn;
        EXPECT_EQ(f["Slot2.ValueError"], "0") << c.sn;
    }
}

TEST_F(Ik220StationTest, FactorAndOffsetTurnThePositionIntoALength) {
    Slot("12345", 0, "factor=0.001\noffset=1\n");
    EXPECT_EQ(Probe(2)["Slot2.Value"], "1.0125") << SimLog();
}

TEST_F(Ik220StationTest, FailuresBecomeTheirWords) {
    struct Case {
        const char* what;
        const char* sn;
        int parameter;
        const char* word;
    } cases[] = {
        {"no axis carries the number", "12346", 0, "invalid"},
        {"the read fails", "31", 0, "error"},
        {"an interface the card has no call for", "12345", 9, "invalid"},
        // The simulated EnDat encoder answers no incremental read.
        {"the wrong interface for the encoder", "4242", 0, "error"},
    };
    for (const Case& c : cases) {
        Slot(c.sn, c.parameter);
        auto f = Probe(2);
        EXPECT_EQ(f["Slot2.StatusText"], c.word) << c.what << "\n" << SimLog();
        EXPECT_EQ(f["Slot2.ValueError"], "1") << c.what;
    }
}

TEST_F(Ik220StationTest, WithoutTheLibraryOrACardTheSlotSaysPciError) {
    Slot("12345", 0);
    install.Write("ik220-sim.ini", "# an empty card\n");
    EXPECT_EQ(Probe(2)["Slot2.StatusText"], "pci error");

    std::filesystem::remove(install.file("libik220.so"));
    auto f = Probe(2);
    EXPECT_EQ(f["Slot2.StatusText"], "pci error");
    EXPECT_EQ(f["Slot2.ValueError"], "1");
}

}  // namespace
}  // namespace karvelo
