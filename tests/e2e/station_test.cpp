// The station itself, started as a technician starts it (offscreen, unattended),
// measuring simulated gauges and writing records until it is told to stop.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/profile.h"
#include "support/sim_process.h"
#include "support/station_process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using karvelo::testing::Key;
using karvelo::testing::Lines;
using karvelo::testing::SimProcess;
using karvelo::testing::Station;
using karvelo::testing::TempDir;
using karvelo::testing::WaitForLines;
using namespace std::chrono_literals;

class StationTest : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo")); }
    TempDir install;
    TempDir bench;
};

TEST_F(StationTest, TimerSlotWritesRecordsAndTheEndSavesEverything) {
    SimProcess sim(bench.path(),
                   "[gauge]\nlink=" + bench.file("ttyGauge") + "\ntype=1\nvalues=12.345 12.350\n");
    ASSERT_TRUE(sim.ready()) << sim.Log();
    install.Write("karvelo.cfg",
                  "[PORTS]\r\nCOM3=" + bench.file("ttyGauge") +
                      "\r\n[WINDOW]\r\nmaxno=2\r\n[IDNR]\r\ntextlast=LOT-7\r\n"
                      "[EXPORT]\r\nexporttype=2\r\npath=" +
                      install.path().string() +
                      "/\r\nfile_csv=records.csv\r\n"
                      "[DEVICE1]\r\ntyp=1\r\nport=3\r\nsendmode=3\r\nsendtime=1\r\nformat=3\r\n"
                      "[DEVICE2]\r\ntyp=0\r\ntextlast=operator\r\n");
    Station station(install);
    ASSERT_TRUE(WaitForLines(install, "records.csv", 2, 15s))
        << install.Read("station.err") << sim.Log();
    EXPECT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");

    const auto lines = Lines(install.Read("records.csv"));
    ASSERT_GE(lines.size(), 2u);
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_EQ(std::count(line.begin(), line.end(), ';'), 13);
        EXPECT_EQ(line.rfind("LOT-7;", 0), 0u);
        EXPECT_TRUE(line.find(";12.345;operator;") != std::string::npos ||
                    line.find(";12.350;operator;") != std::string::npos);
        EXPECT_EQ(line.back(), '\r') << "CR LF line ends";
    }
    // What the end saves: the window position, the set and the record texts.
    EXPECT_NE(Key(install, "karvelo.cfg", L"WINDOW", L"X"), L"<missing>");
    EXPECT_NE(Key(install, "karvelo.cfg", L"WINDOW", L"Y"), L"<missing>");
    EXPECT_EQ(Key(install, "karvelo.cfg", L"MAIN", L"cfg"), L"0");
    EXPECT_EQ(Key(install, "karvelo.cfg", L"IDNR", L"textlast"), L"LOT-7");
    const std::wstring last = Key(install, "karvelo.cfg", L"DEVICE1", L"textlast");
    EXPECT_TRUE(last == L"12.345" || last == L"12.350") << std::string(last.begin(), last.end());
    EXPECT_EQ(Key(install, "karvelo.cfg", L"DEVICE2", L"textlast"), L"operator");
}

TEST_F(StationTest, NewInstallationWritesItsKeysAtTheEnd) {
    Station station(install);
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(station.Stop(SIGINT), 0) << install.Read("station.err");
    // The default position 663/405, moved left onto the offscreen platform's
    // 800 x 800 screen: the window is 355 wide, its frame 2 on each side.
    EXPECT_EQ(Key(install, "karvelo.cfg", L"WINDOW", L"X"), L"441");
    EXPECT_EQ(Key(install, "karvelo.cfg", L"WINDOW", L"Y"), L"405");
    EXPECT_EQ(Key(install, "karvelo.cfg", L"MAIN", L"cfg"), L"0");
    EXPECT_EQ(Key(install, "karvelo.cfg", L"IDNR", L"textlast"), L"");
    for (int s = 1; s <= 10; ++s) {
        const std::wstring section = L"DEVICE" + std::to_wstring(s);
        EXPECT_EQ(Key(install, "karvelo.cfg", section.c_str(), L"textlast"), L"") << s;
    }
}

}  // namespace
}  // namespace karvelo
