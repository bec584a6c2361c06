// The workbook export as a bench runs it: the real program measures a
// simulated gauge on its send timer and writes each record into cells of a
// real workbook, which an independent reader (openpyxl) and LibreOffice then
// open. A workbook held by a spreadsheet program loses no record, and a second
// run from the same defined cell keeps the workbook as the first left it.

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

class WorkbookStationTest : public ::testing::Test {
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

    // Type 5 into demo.xlsx from A2 on: a gauge on a send timer of `sendTime`
    // seconds and a text slot holding `text`.
    void Configure(const std::string& fileName = "demo.xlsx",
                   const std::string& text = "Demo operator", const std::string& sendTime = "1") {
        install.Write("karvelo.cfg", "[PORTS]\r\nCOM3=" + bench.file("ttyGauge") +
                                         "\r\n[WINDOW]\r\nmaxno=2\r\n[IDNR]\r\ntextlast=LOT-9\r\n"
                                         "[EXPORT]\r\nexporttype=5\r\npath=\r\nfile_xls=" +
                                         fileName +
                                         "\r\n[EXCEL]\r\nrefmode=1\r\nrefadresse=A2\r\n"
                                         "[DEVICE1]\r\ntyp=1\r\nport=3\r\nsendmode=3\r\nsendtime=" +
                                         sendTime +
                                         "\r\nformat=3\r\n[DEVICE2]\r\ntyp=0\r\ntextlast=" + text +
                                         "\r\n");
    }

    // Waits until the saved workbook's sheet has a record number in A`row`.
    bool WaitForRecordRow(int row, std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            const auto cells = wb::ReadCells(Book(), "Tabelle1");
            if (cells.count("A" + std::to_string(row))) return true;
            std::this_thread::sleep_for(200ms);
        }
        return false;
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

TEST_F(WorkbookStationTest, RecordsLandInTheirCellsAndTheRestOfTheWorkbookSurvives) {
    Configure();
    const auto before = wb::EntryHashes(Book());
    {
        Station station(install);
        ASSERT_TRUE(WaitForRecordRow(3, 30s)) << install.Read("station.err") << sim_->Log();
        EXPECT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");
    }
    const std::string errors = install.Read("station.err");
    EXPECT_EQ(errors.find("not written"), std::string::npos) << errors;

    const auto cells = wb::ReadCells(Book(), "Tabelle1");
    EXPECT_EQ(cells.at("A1"), (wb::Cell{'s', "no."})) << "the header row stays";
    for (int row = 2; row <= 3; ++row) {
        SCOPED_TRACE(row);
        const std::string r = std::to_string(row);
        EXPECT_EQ(cells.at("A" + r), (wb::Cell{'n', std::to_string(row - 1)}));
        EXPECT_EQ(cells.at("B" + r).kind, 's');
        EXPECT_TRUE(std::regex_match(cells.at("B" + r).value, std::regex(R"(\d\d\.\d\d\.\d{4})")));
        EXPECT_TRUE(std::regex_match(cells.at("C" + r).value, std::regex(R"(\d\d:\d\d:\d\d)")));
        EXPECT_EQ(cells.at("D" + r), (wb::Cell{'n', "12.345"}));
        EXPECT_EQ(cells.at("E" + r), (wb::Cell{'s', "Demo operator"}));
        EXPECT_EQ(cells.count("F" + r), 0u) << "slots not in use are not written";
    }

    // Only the records' sheet and the workbook part (recalculation on open)
    // were written again; every other part is byte for byte the old one.
    const auto after = wb::EntryHashes(Book());
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [name, hash] : before) {
        if (name == "xl/worksheets/sheet1.xml" || name == "xl/workbook.xml") continue;
        EXPECT_EQ(after.at(name), hash) << name;
    }
    const auto summary = wb::ReadCells(Book(), "Summary");
    EXPECT_EQ(summary.at("A2").kind, 'f') << "the formulas stay";

    // LibreOffice opens it and sees the records.
    const std::string csv = wb::ConvertToCsv(Book(), bench.path().string());
    EXPECT_NE(csv.find("1,"), std::string::npos) << csv;
    EXPECT_NE(csv.find(",12.345,Demo operator"), std::string::npos) << csv;
}

TEST_F(WorkbookStationTest, AWorkbookOpenElsewhereLosesNoRecord) {
    Configure();
    // A spreadsheet program has the workbook open: its lock file lies beside it.
    install.Write(".~lock.demo.xlsx#", ",operator,bench-pc,10.12.2026 08:00,file:///;");
    const auto untouched = wb::EntryHashes(Book());
    Station station(install);
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (install.Read("station.err").find(".~lock.demo.xlsx#") == std::string::npos &&
           std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(100ms);
    }
    std::this_thread::sleep_for(1500ms);  // a further record, kept in memory too
    ASSERT_NE(install.Read("station.err").find(".~lock.demo.xlsx#"), std::string::npos)
        << "the operator is told why: " << install.Read("station.err");
    EXPECT_EQ(wb::EntryHashes(Book()), untouched) << "the file is left as it was";

    // The program closes the workbook: the next record saves every record so far.
    fs::remove(install.file(".~lock.demo.xlsx#"));
    ASSERT_TRUE(WaitForRecordRow(4, 30s)) << install.Read("station.err");
    EXPECT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");
    const auto cells = wb::ReadCells(Book(), "Tabelle1");
    int row = 2;
    while (cells.count("A" + std::to_string(row))) {
        EXPECT_EQ(cells.at("A" + std::to_string(row)), (wb::Cell{'n', std::to_string(row - 1)}))
            << "numbered without a gap";
        ++row;
    }
    EXPECT_GE(row, 5);
}

TEST_F(WorkbookStationTest, AMissingWorkbookIsSaidForEveryRecord) {
    Configure("absent.xlsx");
    Station station(install);
    const auto end = std::chrono::steady_clock::now() + 30s;
    auto count = [&] {
        const std::string errors = install.Read("station.err");
        std::size_t n = 0;
        for (std::size_t p = errors.find("not written"); p != std::string::npos;
             p = errors.find("not written", p + 1)) {
            ++n;
        }
        return n;
    };
    while (count() < 2 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(100ms);
    EXPECT_EQ(station.Stop(SIGTERM), 0);
    const std::string errors = install.Read("station.err");
    EXPECT_GE(count(), 2u) << errors;
    EXPECT_NE(errors.find("ERROR: Excel file missing!"), std::string::npos) << errors;
    EXPECT_FALSE(fs::exists(install.file("absent.xlsx")));
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
    return n;
}

// A few kilobytes whose zip index claims a 4 GiB sheet: every record is
// refused with a message naming the file, and the station runs on.
TEST_F(WorkbookStationTest, AWorkbookThatClaimsAHugeSheetIsRefusedAndTheStationRunsOn) {
    ASSERT_EQ(std::system(("'" + std::string(KARVELO_SOURCE_DIR) +
                           "/scripts/make-demo-workbook' '" + install.file("liar.xlsx") + "'")
                              .c_str()),
              0);
    wb::ClaimSize(install.file("liar.xlsx"), "xl/worksheets/sheet1.xml", 0xFFFFFFF0u);
    Configure("liar.xlsx", "Demo operator", "0.3");
    Station station(install);
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (Occurrences(install.Read("station.err"), "claims 4095 MiB") < 2 &&
           std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(station.Stop(SIGTERM), 0) << "the station ended by itself";
    const std::string errors = install.Read("station.err");
    EXPECT_GE(Occurrences(errors, "claims 4095 MiB"), 2u) << errors;
    EXPECT_NE(errors.find("liar.xlsx"), std::string::npos) << errors;
}

TEST_F(WorkbookStationTest, ASecondRunKeepsTheWorkbookAsTheFirstRunLeftIt) {
    Configure("demo.xlsx", "first run", "0.3");
    {
        Station station(install);
        ASSERT_TRUE(WaitForCell("E3", "first run")) << install.Read("station.err");
        ASSERT_EQ(station.Stop(SIGTERM), 0) << install.Read("station.err");
    }
    EXPECT_TRUE(Copies().empty()) << "the first run wrote into empty rows only";
    const std::string firstBytes = install.Read("demo.xlsx");
    const auto firstCells = wb::ReadCells(Book(), "Tabelle1");
    ASSERT_EQ(firstCells.at("E2"), (wb::Cell{'s', "first run"}));

    Configure("demo.xlsx", "second run", "0.3");
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
