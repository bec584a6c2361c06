// `karvelo --probe N` against simulated instruments on pseudo-terminals: the
// real binary in a folder of its own, its PORTS section pointing at the
// simulator's links.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "support/process.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using karvelo::testing::RunProcess;
using karvelo::testing::SimProcess;
using karvelo::testing::TempDir;

class ProbeTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        bench_ = new TempDir;
        const auto link = [](const char* name) { return bench_->file(name); };
        const std::string scenario = "[gauge]\nlink=" + link("ttyGauge") +
                                     "\ntype=1\nvalues=12.345\n"
                                     "[silent]\nlink=" +
                                     link("ttySilent") +
                                     "\ntype=5\nvalues=1\nbehaviour=silent\n"
                                     "[short]\nlink=" +
                                     link("ttyShort") +
                                     "\ntype=1\nvalues=1\nbehaviour=invalid\n"
                                     "[marker]\nlink=" +
                                     link("ttyMarker") +
                                     "\ntype=8\nvalues=1\nbehaviour=error\n"
                                     "[sd1]\nlink=" +
                                     link("ttySd1") + "\ntype=26\nvalues=1.5/2.5/3.5\n";
        sim_ = new SimProcess(bench_->path(), scenario);
    }
    static void TearDownTestSuite() {
        delete sim_;
        delete bench_;
    }

    void SetUp() override {
        ASSERT_TRUE(sim_->ready()) << sim_->Log();
        std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo"));
    }

    // Writes the configuration: PORTS for COM3..COM7, then `slots`.
    void Configure(const std::string& slots) {
        install.Write("karvelo.cfg", "[PORTS]\nCOM3=" + bench_->file("ttyGauge") +
                                         "\nCOM4=" + bench_->file("ttySilent") +
                                         "\nCOM5=" + bench_->file("ttyShort") +
                                         "\nCOM6=" + bench_->file("ttyMarker") +
                                         "\nCOM7=" + install.file("no-such-port") +
                                         "\nCOM8=" + bench_->file("ttySd1") + "\n" + slots);
    }

    std::map<std::string, std::string> Probe(int slot, std::string* err = nullptr) {
        const auto r =
            RunProcess({install.file("karvelo"), "--batch", "--probe", std::to_string(slot)});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        if (err) *err = r.err;
        auto fields = karvelo::testing::ReportFields(r.out);
        return fields;
    }

    static TempDir* bench_;
    static SimProcess* sim_;
    TempDir install;
};

TempDir* ProbeTest::bench_ = nullptr;
SimProcess* ProbeTest::sim_ = nullptr;

TEST_F(ProbeTest, StatusWordsOfEachOutcome) {
    struct Case {
        const char* name;
        const char* slot;
        const char* value;
        const char* text;
        const char* status;
        const char* error;
        std::string problem;
    };
    const std::string missing = "COM7 (" + install.file("no-such-port") + "): ";
    const Case cases[] = {
        {"a value", "typ=1\nport=3\nformat=2\nfactor=2\noffset=0.5\n", "25.19", "25.19", "", "0",
         ""},
        {"no answer", "typ=5\nport=4\nformat=3\n", "0", "0.000", "unavailable", "1", ""},
        {"too short a line", "typ=1\nport=5\nformat=1\n", "0", "0.0", "invalid", "1", ""},
        {"an error marker", "typ=8\nport=6\n", "0", "0", "error", "1", ""},
        {"a missing port", "typ=1\nport=7\n", "0", "0", "com error", "1",
         missing + "no such device (not plugged in?)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Configure(std::string("[WINDOW]\nmaxno=1\n[DEVICE1]\n") + c.slot);
        std::string err;
        auto f = Probe(1, &err);
        EXPECT_EQ(f["Slot1.Result"], "1");
        EXPECT_EQ(f["Slot1.PortProblem"], c.problem);
        // The reason reaches standard error too, where a problem is.
        EXPECT_EQ(err.find(c.problem) != std::string::npos && !c.problem.empty(),
                  !c.problem.empty())
            << err;
        EXPECT_EQ(f["Slot1.Value"], c.value);
        EXPECT_EQ(f["Slot1.TextLast"], c.text);
        EXPECT_EQ(f["Slot1.StatusText"], c.status);
        EXPECT_EQ(f["Slot1.ValueReady"], "1");
        EXPECT_EQ(f["Slot1.ValueError"], c.error);
    }
}

TEST_F(ProbeTest, APortHeldByAnotherProgramIsBusy) {
    Configure("[WINDOW]\nmaxno=1\n[DEVICE1]\ntyp=1\nport=3\n");
    // Another program has the gauge, the way serial tools lock a port.
    const int held = ::open(bench_->file("ttyGauge").c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    std::string err;
    auto f = Probe(1, &err);
    ::close(held);
    EXPECT_EQ(f["Slot1.StatusText"], "com error");
    const std::string expected =
        "COM3 (" + bench_->file("ttyGauge") + "): busy: held by another program";
    EXPECT_EQ(f["Slot1.PortProblem"], expected);
    EXPECT_NE(err.find("karvelo: " + expected), std::string::npos) << err;
}

TEST_F(ProbeTest, OneSd1ReplyFillsBothSlots) {
    Configure(
        "[WINDOW]\nmaxno=2\n[DEVICE1]\ntyp=26\nport=8\nch=1\nformat=2\n"
        "[DEVICE2]\ntyp=26\nport=8\nch=3\nfactor=10\nformat=1\n");
    auto f = Probe(1);
    EXPECT_EQ(f["Slot1.Value"], "1.5");
    EXPECT_EQ(f["Slot1.TextLast"], "1.50");
    EXPECT_EQ(f["Slot2.Value"], "35");
    EXPECT_EQ(f["Slot2.TextLast"], "35.0");
    EXPECT_EQ(f["Slot2.ValueReady"], "1");
    EXPECT_EQ(f.count("Slot2.Result"), 0u);
}

TEST_F(ProbeTest, TwoTypesOnOneComAreReported) {
    Configure("[WINDOW]\nmaxno=2\n[DEVICE1]\ntyp=1\nport=3\n[DEVICE2]\ntyp=26\nport=3\n");
    std::string err;
    auto f = Probe(2, &err);
    EXPECT_NE(err.find("ERROR: Serial COM3 is used for more than one device!"), std::string::npos)
        << err;
    EXPECT_EQ(f["Slot2.StatusText"], "com error");
}

}  // namespace
}  // namespace karvelo
