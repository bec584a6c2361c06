// "*.csv multi" with no file chosen, as a bench left half set up runs it: the
// station measures a simulated gauge on its send timer, says on standard error
// that no file is chosen, and keeps every record in its spool beside the
// program. Once a file is named, the next run writes the kept records into it
// first, each once.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
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
using karvelo::testing::WaitForLines;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kNoFileChosen = "No CSV file chosen";

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
    return n;
}

std::vector<std::string> FilesEndingIn(const fs::path& folder, const std::string& ending) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        const std::string name = e.path().filename().string();
        if (name.ends_with(ending)) names.push_back(name);
    }
    return names;
}

class NoFileChosenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(KARVELO_BINARY, install.file("karvelo"));
        // The station is started from a folder of its own, to show that
        // nothing lands where it was started.
        startFolder_ = fs::current_path();
        fs::current_path(startedFrom.path());
    }
    void TearDown() override { fs::current_path(startFolder_); }

    void Configure(const std::string& csvFile) {
        install.Write("karvelo.cfg",
                      "[PORTS]\r\nCOM3=" + bench.file("ttyGauge") +
                          "\r\n[WINDOW]\r\nmaxno=1\r\n[IDNR]\r\ntextlast=LOT-9\r\n"
                          "[EXPORT]\r\nexporttype=2\r\npath=\r\nfile_csv=" +
                          csvFile +
                          "\r\n[DEVICE1]\r\ntyp=1\r\nport=3\r\nsendmode=3\r\nsendtime=1\r\n"
                          "format=3\r\n");
    }
    // Waits until standard error holds `part` at least `count` times.
    bool WaitForErrors(const std::string& part, std::size_t count, std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (Count(install.Read("station.err"), part) >= count) return true;
            std::this_thread::sleep_for(50ms);
        }
        return false;
    }

    TempDir install;
    TempDir bench;
    TempDir startedFrom;

  private:
    fs::path startFolder_;
};

TEST_F(NoFileChosenTest, RecordsAreKeptAndSaidToBeUntilAFileIsNamed) {
    SimProcess sim(bench.path(),
                   "[gauge]\nlink=" + bench.file("ttyGauge") + "\ntype=1\nvalues=12.345\n");
    ASSERT_TRUE(sim.ready()) << sim.Log();

    // First run: no file name.
    Configure("");
    {
        Station station(install);
        ASSERT_TRUE(WaitForErrors(kNoFileChosen, 2, 20s))
            << install.Read("station.err") << sim.Log();
        EXPECT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");
    }
    const std::string errors = install.Read("station.err");
    EXPECT_NE(errors.find("karvelo: No CSV file chosen (choose one with \">>\"): 1 record kept"),
              std::string::npos)
        << errors;

    const std::vector<std::string> spools = FilesEndingIn(install.path(), ".spool");
    ASSERT_EQ(spools.size(), 1u) << errors;
    const std::vector<std::string> spool = Lines(install.Read(spools.front()));
    ASSERT_GE(spool.size(), 3u + 2u) << "a header of three lines, then the records";
    const std::vector<std::string> kept(spool.begin() + 3, spool.end());
    EXPECT_EQ(kept.size(), Count(errors, kNoFileChosen)) << "every record said and kept";
    for (const std::string& line : kept) {
        SCOPED_TRACE(line);
        EXPECT_EQ(line.rfind("LOT-9;", 0), 0u);
        EXPECT_NE(line.find(";12.345;"), std::string::npos);
    }
    EXPECT_TRUE(FilesEndingIn(install.path(), ".csv").empty());
    EXPECT_TRUE(fs::is_empty(startedFrom.path()));

    // Second run: a file is named (a bare name, so beside the configuration).
    Configure("records.csv");
    {
        Station station(install);
        ASSERT_TRUE(WaitForLines(install, "records.csv", kept.size() + 1, 20s))
            << install.Read("station.err") << sim.Log();
        EXPECT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");
    }
    const std::vector<std::string> written = Lines(install.Read("records.csv"));
    ASSERT_GT(written.size(), kept.size());
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), written.begin()))
        << "the kept records first, in their order";
    for (const std::string& line : kept) {
        EXPECT_EQ(std::count(written.begin(), written.end(), line), 1) << line;
    }
    EXPECT_TRUE(FilesEndingIn(install.path(), ".spool").empty());
    EXPECT_TRUE(fs::is_empty(startedFrom.path()));
    const std::string secondErrors = install.Read("station.err");
    EXPECT_NE(secondErrors.find(std::to_string(kept.size()) +
                                " records waiting for a CSV file to be chosen"),
              std::string::npos)
        << "said at start: " << secondErrors;
    EXPECT_EQ(secondErrors.find(kNoFileChosen), std::string::npos) << secondErrors;
}

}  // namespace
}  // namespace karvelo
