// A USB serial gauge pulled out and plugged in again while the station runs:
// the real program against the serial simulator, which hangs the gauge's line
// up and brings it back later on a new terminal behind the same link.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/sim_process.h"
#include "support/station_process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using karvelo::testing::Lines;
using karvelo::testing::SimProcess;
using karvelo::testing::Station;
using karvelo::testing::TempDir;
using namespace std::chrono_literals;

// The record carries a reading of the gauge (and not an empty field).
bool HasReading(const std::string& line) {
    for (const char* v : {";1.500;", ";2.500;", ";3.500;"}) {
        if (line.find(v) != std::string::npos) return true;
    }
    return false;
}

TEST(Replug, UnpluggedGaugeIsPickedUpAgainWithoutTheOperator) {
    TempDir install;
    TempDir bench;
    std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo"));
    // Every fourth request finds the gauge pulled out; it is back 2 s later.
    SimProcess sim(bench.path(), "[gauge]\nlink=" + bench.file("ttyGauge") +
                                     "\ntype=1\nvalues=1.5 2.5 3.5\nbehaviour=hangup\n"
                                     "every=4\nreplug_ms=2000\n");
    ASSERT_TRUE(sim.ready()) << sim.Log();
    install.Write("karvelo.cfg",
                  "[PORTS]\r\nCOM3=" + bench.file("ttyGauge") +
                      "\r\n[WINDOW]\r\nmaxno=1\r\n"
                      "[EXPORT]\r\nexporttype=2\r\npath=" +
                      install.path().string() +
                      "/\r\nfile_csv=records.csv\r\n"
                      "[DEVICE1]\r\ntyp=1\r\nport=3\r\nsendmode=3\r\nsendtime=0.5\r\n"
                      "format=3\r\ntextlast=\r\n");
    Station station(install);

    // Readings, then records without one while the gauge is away, then
    // readings again.
    enum class Seen { Readings, Gap, Back } seen = Seen::Readings;
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (seen != Seen::Back && std::chrono::steady_clock::now() < end) {
        seen = Seen::Readings;
        bool before = false;
        for (const std::string& line : Lines(install.Read("records.csv"))) {
            const bool reading = HasReading(line);
            if (reading && seen == Seen::Readings) before = true;
            if (!reading && before) seen = Seen::Gap;
            if (reading && seen == Seen::Gap) seen = Seen::Back;
        }
        if (seen != Seen::Back) std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(station.Stop(), 0);
    const std::string err = install.Read("station.err");
    ASSERT_EQ(seen, Seen::Back) << install.Read("records.csv") << err << sim.Log();

    const std::string where = "karvelo: COM3 (" + bench.file("ttyGauge") + "): ";
    EXPECT_NE(err.find(where + "the device has gone (unplugged or hung up)"), std::string::npos)
        << err;
    EXPECT_NE(err.find(where + "open again"), std::string::npos) << err;
}

}  // namespace
}  // namespace karvelo
