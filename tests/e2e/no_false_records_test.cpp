// Records that never happened must not be written: a gauge that is not there
// on the send timer, and two channels of one list instrument on the send timer.
// The real program against the serial simulator.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/numbers.h"
#include "support/sim_process.h"
#include "support/station_process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using karvelo::testing::Lines;
using karvelo::testing::SimProcess;
using karvelo::testing::Station;
using karvelo::testing::TempDir;
using karvelo::testing::WaitForLines;
using namespace std::chrono_literals;

class NoFalseRecordsTest : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo")); }

    std::string ExportTo() const {
        return "[EXPORT]\r\nexporttype=2\r\npath=" + install.path().string() +
               "/\r\nfile_csv=records.csv\r\n";
    }

    TempDir install;
    TempDir bench;
};

// No gauge behind COM3 and a 1 s send timer: each timer trigger writes one
// record with an empty field for the gauge; the polls in between write none.
TEST_F(NoFalseRecordsTest, MissingGaugeOnTheTimerWritesOnlyTimerRecordsWithEmptyFields) {
    install.Write("karvelo.cfg",
                  "[PORTS]\r\nCOM3=" + bench.file("ttyNobody") +
                      "\r\n[WINDOW]\r\nmaxno=2\r\n[IDNR]\r\ntextlast=LOT-1\r\n" + ExportTo() +
                      "[DEVICE1]\r\ntyp=1\r\nport=3\r\nsendmode=3\r\nsendtime=1\r\nformat=3\r\n"
                      "[DEVICE2]\r\ntyp=0\r\ntextlast=op\r\n");
    Station station(install);
    ASSERT_TRUE(WaitForLines(install, "records.csv", 1, 15s)) << install.Read("station.err");
    std::this_thread::sleep_for(2500ms);
    EXPECT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");

    const auto lines = Lines(install.Read("records.csv"));
    // About one record a second; a false record on every poll would give dozens.
    EXPECT_GE(lines.size(), 2u);
    EXPECT_LE(lines.size(), 5u);
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_NE(line.find("LOT-1;"), std::string::npos);
        EXPECT_NE(line.find(";;op;"), std::string::npos)
            << "the missing gauge writes an empty field";
        EXPECT_EQ(line.find("0.000"), std::string::npos);
    }
}

// Two channels of one SD1 on the send timer: one trigger, one request, one
// record holding both channels; no second record from a left-over reply.
TEST_F(NoFalseRecordsTest, TwoChannelsOfOneListInstrumentGiveOneRecordPerTrigger) {
    SimProcess sim(bench.path(),
                   "[sd1]\nlink=" + bench.file("ttySd1") + "\ntype=26\nvalues=1.5/2.5\n");
    ASSERT_TRUE(sim.ready()) << sim.Log();
    install.Write(
        "karvelo.cfg",
        "[PORTS]\r\nCOM4=" + bench.file("ttySd1") + "\r\n[WINDOW]\r\nmaxno=2\r\n" + ExportTo() +
            "[DEVICE1]\r\ntyp=26\r\nport=4\r\nch=1\r\nsendmode=3\r\nsendtime=1\r\nformat=3\r\n"
            "[DEVICE2]\r\ntyp=26\r\nport=4\r\nch=2\r\nsendmode=3\r\nsendtime=1\r\nformat=3\r\n");
    Station station(install);
    ASSERT_TRUE(WaitForLines(install, "records.csv", 2, 15s))
        << install.Read("station.err") << sim.Log();
    std::this_thread::sleep_for(2000ms);
    EXPECT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");

    // The simulator's log: "[12.345] sd1: request ..." per request.
    const std::string log = sim.Log();
    std::vector<double> requests;
    for (const std::string& line : Lines(log)) {
        if (line.find(": request") == std::string::npos) continue;
        requests.push_back(platform::ParseDoubleNarrow(line.substr(line.find('[') + 1)));
    }
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_GT(requests[i] - requests[i - 1], 0.5) << "two requests for one trigger\n" << log;
    }
    const auto lines = Lines(install.Read("records.csv"));
    EXPECT_EQ(lines.size(), requests.size()) << log;
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        EXPECT_NE(line.find(";1.500;2.500;"), std::string::npos);
    }
}

}  // namespace
}  // namespace karvelo
