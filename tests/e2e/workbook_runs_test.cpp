// Two runs of the real program into one workbook, from the same defined cell:
// the second run writes over the first run's rows, as a form filled afresh
// should, and the workbook as the first run left it is kept beside it.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/sim_process.h"
#include "support/station_process.h"
#include "support/temp_dir.h"
#include "support/workbook_tool.h"

namespace karvelo {
namespace {

using karvelo::testing::SimProcess;
using karvelo::testing::Station;
using karvelo::testing::TempDir;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace wb = karvelo::testing::workbook;

class WorkbookRunsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::copy_file(KARVELO_BINARY, install.file("karvelo"));
        ASSERT_EQ(std::system(("'" + std::string(KARVELO_SOURCE_DIR) +
                               "/scripts/make-demo-workbook' '" + Book() + "'")
                                  .c_str()),
                  0);
        sim_ = std::make_unique<SimProcess>(
            bench.path(), "[gauge]\nlink=" + bench.file("ttyGauge") + "\ntype=1\nvalues=12.345\n");
        ASSERT_TRUE(sim_->ready()) << sim_->Log();
    }

    std::string Book() const { return install.file("demo.xlsx"); }

    // Type 5 from the defined cell A2 on: a gauge on a short send timer and a
    // text slot that tells the runs apart.
    void Configure(const std::string& runText) {
        install.Write("karvelo.cfg",
                      "[PORTS]\r\nCOM3=" + bench.file("ttyGauge") +
                          "\r\n[WINDOW]\r\nmaxno=2\r\n[IDNR]\r\ntextlast=LOT-9\r\n"
                          "[EXPORT]\r\nexporttype=5\r\npath=\r\nfile_xls=demo.xlsx\r\n"
                          "[EXCEL]\r\nrefmode=1\r\nrefadresse=A2\r\n"
                          "[DEVICE1]\r\ntyp=1\r\nport=3\r\nsendmode=3\r\nsendtime=0.3\r\n"
                          "format=3\r\n[DEVICE2]\r\ntyp=0\r\ntextlast=" +
                          runText + "\r\n");
    }

    // Waits until the saved workbook's cell holds `text`.
    bool WaitForCell(const std::string& address, const std::string& text,
                     std::chrono::seconds limit = 20s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            const auto cells = wb::ReadCells(Book(), "Tabelle1");
            const auto it = cells.find(address);
            if (it != cells.end() && it->second.value == text) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    }

    // The copies kept beside the workbook.
    std::vector<std::string> Copies() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(install.path())) {
            const std::string name = entry.path().filename().string();
            if (name.find(".before-") != std::string::npos) names.push_back(name);
        }
        return names;
    }

    TempDir install;
    TempDir bench;
    std::unique_ptr<SimProcess> sim_;
};

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
    return n;
}

TEST_F(WorkbookRunsTest, ASecondRunKeepsTheWorkbookAsTheFirstRunLeftIt) {
    Configure("first run");
    {
        Station station(install);
        ASSERT_TRUE(WaitForCell("E3", "first run")) << install.Read("station.err");
        ASSERT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");
    }
    EXPECT_TRUE(Copies().empty()) << "the first run wrote into empty rows only";
    const std::string firstBytes = install.Read("demo.xlsx");
    const auto firstCells = wb::ReadCells(Book(), "Tabelle1");
    ASSERT_EQ(firstCells.at("E2"), (wb::Cell{'s', "first run"}));

    Configure("second run");
    {
        Station station(install);
        ASSERT_TRUE(WaitForCell("E2", "second run")) << install.Read("station.err");
        ASSERT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");
    }
    const auto secondCells = wb::ReadCells(Book(), "Tabelle1");
    EXPECT_EQ(secondCells.at("A2"), (wb::Cell{'n', "1"})) << "the second run starts at A2 again";

    const std::vector<std::string> copies = Copies();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_TRUE(std::regex_match(copies[0], std::regex(R"(demo\.before-\d{8}-\d{6}\.xlsx)")))
        << copies[0];
    EXPECT_EQ(install.Read(copies[0]), firstBytes)
        << "the copy is the file as the first run left it";
    EXPECT_EQ(wb::ReadCells(install.file(copies[0]), "Tabelle1"), firstCells);

    const std::string errors = install.Read("station.err");
    EXPECT_EQ(Occurrences(errors, copies[0]), 1u) << errors;
}

}  // namespace
}  // namespace karvelo
