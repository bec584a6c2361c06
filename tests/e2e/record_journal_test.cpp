// The record journal of the real station: killed in the middle of a burst of
// records, its journal still holds every record of its CSV file, and
// `karvelo --history` gives those lines back.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "export/journal.h"
#include "support/process.h"
#include "support/sim_process.h"
#include "support/station_process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using karvelo::testing::Lines;
using karvelo::testing::RunProcess;
using karvelo::testing::SimProcess;
using karvelo::testing::Station;
using karvelo::testing::TempDir;
using karvelo::testing::WaitForLines;
using namespace std::chrono_literals;

class RecordJournalTest : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo")); }

    testing::ProcessResult History(const std::vector<std::string>& dates = {}) {
        std::vector<std::string> argv = {install.file("karvelo"), "--history"};
        argv.insert(argv.end(), dates.begin(), dates.end());
        return RunProcess(argv, bench.path().string());
    }

    TempDir install;
    TempDir bench;
};

TEST_F(RecordJournalTest, KilledDuringABurstTheJournalHoldsEveryRecordOfTheCsvFile) {
    SimProcess sim(bench.path(),
                   "[gauge]\nlink=" + bench.file("ttyGauge") + "\ntype=1\nvalues=12.345 12.350\n");
    ASSERT_TRUE(sim.ready()) << sim.Log();
    install.Write("karvelo.cfg",
                  "[PORTS]\r\nCOM3=" + bench.file("ttyGauge") +
                      "\r\n[WINDOW]\r\nmaxno=2\r\n[IDNR]\r\ntextlast=LOT-7\r\n"
                      "[DATABASE]\r\nstation=bench-12\r\n"
                      "[EXPORT]\r\nexporttype=2\r\npath=" +
                      install.path().string() +
                      "/\r\nfile_csv=records.csv\r\n"
                      "[DEVICE1]\r\ntyp=1\r\nport=3\r\nsendmode=3\r\nsendtime=0.05\r\nformat=3\r\n"
                      "[DEVICE2]\r\ntyp=0\r\ntextlast=operator\r\n");
    const std::string today = [] {
        const std::time_t now = std::time(nullptr);
        std::tm t{};
        gmtime_r(&now, &t);
        char text[16];
        std::strftime(text, sizeof text, "%Y-%m-%d", &t);
        return std::string(text);
    }();
    {
        Station station(install);
        ASSERT_TRUE(WaitForLines(install, "records.csv", 15, 30s))
            << install.Read("station.err") << sim.Log();
        station.Stop(SIGKILL);
    }
    const std::string csv = install.Read("records.csv");
    const auto csvLines = Lines(csv);
    ASSERT_GE(csvLines.size(), 15u);

    const auto r = History();
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // The journal commits a record before its export writes it: the file's
    // lines come back in their order, at most the one record the kill cut off
    // from the file follows.
    const auto journalLines = Lines(r.out);
    ASSERT_GE(journalLines.size(), csvLines.size());
    EXPECT_LE(journalLines.size(), csvLines.size() + 1);
    EXPECT_EQ(r.out.substr(0, csv.size()), csv) << "the same bytes, CR LF included";

    // Chosen by their UTC date: none on another day.
    const auto before = History({"2000-01-01", "2000-12-31"});
    EXPECT_EQ(before.exitCode, 0) << before.err;
    EXPECT_EQ(before.out, "");

    // Each row names the station and holds the slots in use.
    std::string problem;
    auto journal = exports::RecordJournal::Open(install.file("records.sqlite"), true, problem);
    ASSERT_NE(journal, nullptr) << problem;
    std::vector<exports::JournalRecord> records;
    ASSERT_TRUE(journal->Read({}, {}, records, problem)) << problem;
    ASSERT_EQ(records.size(), journalLines.size());
    EXPECT_EQ(records[0].station, "bench-12");
    ASSERT_EQ(records[0].slots.size(), 2u);
    EXPECT_TRUE(records[0].slots[0].value == 12.345 || records[0].slots[0].value == 12.350);
    EXPECT_EQ(records[0].slots[1].text, "operator");
    // Unless the burst ran across midnight (UTC), all of it is today's.
    if (records.front().utc.starts_with(today) && records.back().utc.starts_with(today)) {
        EXPECT_EQ(History({today}).out, r.out);
        EXPECT_EQ(History({today, today}).out, r.out);
    }
}

struct ArgumentCase {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    const char* err;  // part of standard error
};

TEST_F(RecordJournalTest, HistoryRefusesWhatItCannotRead) {
    const ArgumentCase cases[] = {
        {"no journal yet", {}, 1, "cannot read the record journal"},
        {"not a date", {"yesterday"}, 2, "--history takes dates as YYYY-MM-DD"},
        {"no month 13", {"2026-13-01"}, 2, "--history takes dates as YYYY-MM-DD"},
        {"a third date", {"2026-01-01", "2026-01-02", "2026-01-03"}, 2, "unexpected argument"},
    };
    for (const ArgumentCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto r = History(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(install.Exists("records.sqlite")) << "reading back creates no journal";
}

}  // namespace
}  // namespace karvelo
