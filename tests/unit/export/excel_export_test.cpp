// The workbook export's logic against an application in memory: where each
// item of a record lands, how the reference cell moves on, which slots take
// part, the order of the calls, and what the operator is told.

#include "export/excel_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "export/csv_export.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "support/fake_excel.h"
#include "support/fake_window.h"
#include "support/noon_clock.h"
#include "support/temp_dir.h"

namespace karvelo::exports {
namespace {

using karvelo::testing::FakeExcel;
using karvelo::testing::FakeExcelState;
using karvelo::testing::FakeWindow;
using karvelo::testing::TempDir;

constexpr int kSylvac = 1;  // any instrument code
constexpr int kTextSlot = 0;

class ExcelExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        SetLocalClock(&karvelo::testing::NoonClock);
        dir_.Write("book.xlsx", "stand-in");
        g_run.ExportPath = std::wstring(dir_.path().wstring()) + L"/";
        g_run.XlsFileName = L"book.xlsx";
        g_run.ExportType = ExportKind::Workbook;
        // The settings' defaults.
        g_run.ExcelVisible = true;
        g_run.ExcelEdit = true;
        g_run.ExcelOpen = true;
        g_run.ExcelClose = true;
        g_run.ExcelSave = true;
        for (int n = 1; n <= kExcelItems; ++n) {
            g_run.ExcelValueOn[n] = true;
            g_run.ExcelRelative[n] = true;
            g_run.ExcelColumn[n] = n - 1;
            g_run.ExcelColumnText[n] = std::to_wstring(n - 1);
            g_run.ExcelRow[n] = 0;
            g_run.ExcelRowText[n] = L"0";
        }
        g_run.ExcelSheet = L"Tabelle1";
        g_run.ExcelRefMode = 1;
        g_run.ExcelRefAddress = L"0";
        g_run.ExcelShiftMode = 1;
        g_run.ExcelAutoShiftColumn = 0;
        g_run.ExcelAutoShiftRow = 1;
        SetSlots(10);
    }
    void TearDown() override {
        SetLocalClock(nullptr);
        ResetRunState();
    }

    // `count` slots in use, slot s measuring s + 0.5.
    static void SetSlots(int count) {
        g_run.DeviceCount = count;
        for (int s = 1; s <= kMaxSlots; ++s) {
            g_run.DeviceType[s] = kSylvac;
            g_run.ValueReady[s] = true;
            g_run.ValueError[s] = false;
            g_run.Value[s] = s + 0.5;
        }
    }

    std::wstring Cell(const std::wstring& address, const std::wstring& sheet = L"Tabelle1") {
        return state_->Cell(sheet, address);
    }
    bool Logged(const std::wstring& call) const {
        return std::find(state_->log.begin(), state_->log.end(), call) != state_->log.end();
    }

    TempDir dir_;
    FakeWindow window_;
    std::shared_ptr<FakeExcelState> state_ = std::make_shared<FakeExcelState>();
    ExcelLink link_{window_, FakeExcel::Factory(state_)};
};

TEST(CellAddressFromPosition, LettersThenRow) {
    struct Case {
        int column;
        int row;
        const wchar_t* address;
    };
    // Past Z the letters go on as the sheet's columns do: a record shifted to
    // column 27 must not land on column A again, over the first records.
    for (const Case& c :
         {Case{2, 7, L"B7"}, Case{26, 1, L"Z1"}, Case{27, 3, L"AA3"}, Case{52, 1, L"AZ1"},
          Case{16384, 2, L"XFD2"}, Case{0, 5, L"A5"}, Case{16385, 5, L"A5"}}) {
        EXPECT_EQ(CellAddressFromPosition(c.column, c.row), c.address) << c.column;
    }
}

TEST_F(ExcelExportTest, DefaultsFillARowAndMoveDown) {
    link_.WriteExcelRecord(true);
    const std::vector<std::wstring> row1 = {
        L"1",        L"09.12.2026", L"12:00:00", L"1.500000", L"2.500000", L"3.500000", L"4.500000",
        L"5.500000", L"6.500000",   L"7.500000", L"8.500000", L"9.500000", L"10.500000"};
    for (int c = 0; c < 13; ++c) {
        EXPECT_EQ(Cell(FakeExcelState::Address(1, c + 1)), row1[c]) << c;
    }
    EXPECT_EQ(Cell(L"N1"), L"");
    EXPECT_EQ(g_run.ExcelRefAddress.str(), L"A2");
    EXPECT_EQ(state_->sheets[L"Tabelle1"].selection, std::make_pair(2, 1));
    EXPECT_TRUE(g_run.ExcelConnected);

    g_run.Value[1] = -0.25;
    link_.WriteExcelRecord(true);
    EXPECT_EQ(Cell(L"A2"), L"2");
    EXPECT_EQ(Cell(L"D2"), L"-0.250000");
    EXPECT_EQ(Cell(L"M2"), L"10.500000");
    EXPECT_EQ(state_->created, 1);
    EXPECT_TRUE(window_.messages.empty());
}

TEST_F(ExcelExportTest, OneSlotWritesFourCells) {
    SetSlots(1);
    link_.WriteExcelRecord(true);
    EXPECT_EQ(Cell(L"D1"), L"1.500000");
    EXPECT_EQ(Cell(L"E1"), L"");
    EXPECT_FALSE(Logged(L"Value E1="));  // slots beyond the count are not touched
}

TEST_F(ExcelExportTest, CallsInOrder) {
    SetSlots(1);
    link_.WriteExcelRecord(true);
    const std::vector<std::wstring> expected = {L"Visible=1",
                                                L"Interactive=1",
                                                L"UserControl=1",
                                                L"Workbooks",
                                                L"Open " + g_run.ExportPath.str() + L"book.xlsx",
                                                L"Worksheets",
                                                L"UserControl=0",
                                                L"Interactive=0",
                                                L"Item Tabelle1",
                                                L"Activate Tabelle1",
                                                L"Range A1",
                                                L"Select A1",
                                                L"Value2 A1=1",
                                                L"Value B1=09.12.2026",
                                                L"Value C1=12:00:00",
                                                L"Value D1=1.500000",
                                                L"ActiveCell",
                                                L"Select A2",
                                                L"Save",
                                                L"Interactive=1",
                                                L"UserControl=1"};
    EXPECT_EQ(state_->log, expected);
}

TEST_F(ExcelExportTest, AddressHeldInACell) {
    g_run.ExcelRefMode = 2;
    g_run.ExcelRefAddress = L"Z1";
    state_->sheets[L"Tabelle1"].cells[{1, 26}] = L"C5";
    SetSlots(1);
    link_.WriteExcelRecord(true);
    EXPECT_EQ(Cell(L"C5"), L"1");
    EXPECT_EQ(Cell(L"F5"), L"1.500000");
    EXPECT_EQ(Cell(L"Z1"), L"C6");
    EXPECT_EQ(g_run.ExcelRefAddress.str(), L"Z1");  // only the cell moves on
}

TEST_F(ExcelExportTest, ActiveCellModeStartsAtTheSelection) {
    g_run.ExcelRefMode = 0;
    state_->sheets[L"Tabelle1"].selection = {4, 3};
    SetSlots(1);
    link_.WriteExcelRecord(true);
    EXPECT_EQ(Cell(L"C4"), L"1");
    EXPECT_EQ(Cell(L"F4"), L"1.500000");
    EXPECT_EQ(state_->sheets[L"Tabelle1"].selection, std::make_pair(5, 3));
}

TEST_F(ExcelExportTest, FixedItemAlwaysInItsCell) {
    g_run.ExcelRelative[4] = false;
    g_run.ExcelColumnText[4] = L"F";
    g_run.ExcelRowText[4] = L"3";
    SetSlots(1);
    link_.WriteExcelRecord(true);
    link_.WriteExcelRecord(true);
    EXPECT_EQ(Cell(L"F3"), L"1.500000");
    EXPECT_EQ(Cell(L"D1"), L"");
    EXPECT_EQ(Cell(L"A2"), L"2");
}

TEST_F(ExcelExportTest, FailedReadingsClearTheirCells) {
    state_->sheets[L"Tabelle1"].cells[{1, 5}] = L"old";
    g_run.ValueError[2] = true;   // an error word
    g_run.ValueReady[3] = false;  // no reading
    link_.WriteExcelRecord(true);
    EXPECT_EQ(Cell(L"D1"), L"1.500000");
    EXPECT_TRUE(Logged(L"Value E1="));
    EXPECT_EQ(Cell(L"E1"), L"");
    EXPECT_EQ(Cell(L"F1"), L"");
}

TEST_F(ExcelExportTest, TextSlotsOnlyWithTypeFive) {
    SetSlots(2);
    g_run.DeviceType[2] = kTextSlot;
    g_run.TextLast[2] = L"LOT-7";
    link_.WriteExcelRecord(true);
    EXPECT_EQ(Cell(L"E1"), L"LOT-7");
    EXPECT_EQ(Cell(L"F1"), L"");  // slot 3 is beyond the count

    // Without text slots the count does not limit the instruments.
    link_.WriteExcelRecord(false);
    EXPECT_EQ(Cell(L"D2"), L"1.500000");
    EXPECT_FALSE(Logged(L"Value E2=LOT-7"));
    EXPECT_EQ(Cell(L"F2"), L"3.500000");
    EXPECT_EQ(Cell(L"M2"), L"10.500000");
}

TEST_F(ExcelExportTest, ShiftPastColumnZ) {
    g_run.ExcelAutoShiftColumn = 1;
    g_run.ExcelAutoShiftRow = 0;
    g_run.ExcelRefAddress = L"Z1";
    for (int n = 2; n <= kExcelItems; ++n) g_run.ExcelValueOn[n] = false;
    link_.WriteExcelRecord(true);
    EXPECT_EQ(g_run.ExcelRefAddress.str(), L"AA1");
    link_.WriteExcelRecord(true);
    EXPECT_EQ(Cell(L"Z1"), L"1");
    EXPECT_EQ(Cell(L"AA1"), L"2");
    EXPECT_EQ(Cell(L"A1"), L"");
}

TEST_F(ExcelExportTest, MissingWorkbookOrApplication) {
    struct Case {
        const wchar_t* fileName;
        bool factory;
        const wchar_t* message;
    };
    for (const Case& c : {Case{L"ab", true, L"ERROR: Excel file missing!"},
                          Case{L"absent.xlsx", true, L"ERROR: Excel file missing!"},
                          Case{L"book.xlsx", false, L"ERROR: Microsoft Office Excel missing!"}}) {
        FakeWindow window;
        auto state = std::make_shared<FakeExcelState>();
        ExcelLink link(window, c.factory ? FakeExcel::Factory(state) : excel::ApplicationFactory{});
        g_run.XlsFileName = c.fileName;
        link.OpenExcel();
        ASSERT_FALSE(window.messages.empty()) << c.fileName;
        EXPECT_EQ(window.messages.front(), c.message);
        EXPECT_FALSE(g_run.ExcelConnected);
        // "close" is never left showing for a workbook that is not attached.
        EXPECT_FALSE(window.shown.count(kExcelCloseButton) && window.shown[kExcelCloseButton])
            << c.fileName;
    }
}

TEST_F(ExcelExportTest, ApplicationKeptWhenTheFileWasMissing) {
    g_run.XlsFileName = L"absent.xlsx";
    link_.OpenExcel();
    EXPECT_TRUE(link_.HoldsApplication());
    g_run.XlsFileName = L"book.xlsx";
    link_.OpenExcel();
    EXPECT_TRUE(g_run.ExcelConnected);
    EXPECT_EQ(state_->created, 1);
    EXPECT_TRUE(window_.shown[kExcelCloseButton]);
    EXPECT_FALSE(window_.shown[kExcelOpenButton]);
}

TEST_F(ExcelExportTest, NotWrittenWhenNotAttached) {
    g_run.ExcelOpen = false;
    link_.WriteExcelRecord(true);
    EXPECT_TRUE(state_->log.empty());
    EXPECT_EQ(g_run.RecordNumber, 0);
    EXPECT_NE(window_.exportProblem.find(L"not written"), std::wstring::npos);
}

TEST_F(ExcelExportTest, ErrorSkipsTheRestOfTheRecord) {
    g_run.ExcelSheet = L"Missing";
    link_.WriteExcelRecord(true);
    ASSERT_EQ(window_.messages.size(), 1u);
    EXPECT_NE(window_.messages[0].find(L"no sheet Missing"), std::wstring::npos);
    EXPECT_FALSE(Logged(L"Save"));
    EXPECT_EQ(state_->log.back(), L"Item Missing");  // edit stays off
    EXPECT_NE(window_.exportProblem.find(L"no sheet Missing"), std::wstring::npos);

    g_run.ExcelSheet = L"Tabelle1";
    link_.WriteExcelRecord(true);
    EXPECT_EQ(Cell(L"A1"), L"1");
    EXPECT_EQ(window_.exportProblem, L"");
}

TEST_F(ExcelExportTest, OnlyRecordsThatReachTheWorkbookAreReported) {
    g_run.ExcelSheet = L"Missing";
    link_.WriteExcelRecord(true);
    EXPECT_TRUE(window_.recordsWritten.empty());

    g_run.ExcelSheet = L"Tabelle1";
    link_.WriteExcelRecord(true);
    ASSERT_EQ(window_.recordsWritten.size(), 1u);
    EXPECT_EQ(window_.recordsWritten[0].when, L"12:00:00");
    EXPECT_EQ(window_.recordsWritten[0].where, g_run.ExportPath.str() + L"book.xlsx");
}

TEST_F(ExcelExportTest, OpenErrorKeepsTheApplication) {
    state_->failOpen = L"not a workbook";
    link_.OpenExcel();
    ASSERT_EQ(window_.messages.size(), 1u);
    EXPECT_NE(window_.messages[0].find(L"not a workbook"), std::wstring::npos);
    EXPECT_FALSE(g_run.ExcelConnected);
    EXPECT_TRUE(link_.HoldsApplication());
    EXPECT_TRUE(window_.shown[kExcelCloseButton]);
}

TEST_F(ExcelExportTest, EndSequence) {
    struct Case {
        bool visible;
        bool close;
        bool save;
        std::vector<std::wstring> tail;  // the calls of the end
    };
    const Case cases[] = {
        {true, true, true, {L"Save", L"Close", L"Quit"}},
        {true, false, true, {L"Save"}},  // the workbook is left with the application
        {false, false, false, {L"Close", L"Quit"}},
        {true, false, false, {}},
    };
    for (const Case& c : cases) {
        FakeWindow window;
        auto state = std::make_shared<FakeExcelState>();
        {
            ExcelLink link(window, FakeExcel::Factory(state));
            g_run.ExcelVisible = c.visible;
            g_run.ExcelClose = c.close;
            g_run.ExcelSave = c.save;
            link.OpenExcel();
            const std::size_t before = state->log.size();
            link.EndSequence();
            EXPECT_EQ(std::vector<std::wstring>(state->log.begin() + before, state->log.end()),
                      c.tail);
            EXPECT_FALSE(g_run.ExcelConnected);
            EXPECT_FALSE(link.HoldsApplication());
            EXPECT_FALSE(state->applicationAlive);
        }
    }
}

TEST_F(ExcelExportTest, SaveFailureAtTheEndIsReported) {
    link_.OpenExcel();
    state_->failSave = L"disk full";
    g_run.ExcelClose = false;
    link_.EndSequence();
    ASSERT_FALSE(window_.messages.empty());
    EXPECT_NE(window_.messages[0].find(L"disk full"), std::wstring::npos);
}

TEST_F(ExcelExportTest, OpenEveryRecordOnlySwapsButtonsOnceAttached) {
    link_.WriteExcelRecord(true);
    const std::size_t opens =
        std::count_if(state_->log.begin(), state_->log.end(),
                      [](const std::wstring& l) { return l.starts_with(L"Open"); });
    link_.WriteExcelRecord(true);
    EXPECT_EQ(std::count_if(state_->log.begin(), state_->log.end(),
                            [](const std::wstring& l) { return l.starts_with(L"Open"); }),
              static_cast<std::ptrdiff_t>(opens));
    EXPECT_EQ(Cell(L"A2"), L"2");

    // "close", then the next record attaches again and counts from 1.
    link_.CloseExcel();
    EXPECT_FALSE(g_run.ExcelConnected);
    link_.WriteExcelRecord(true);
    EXPECT_EQ(state_->created, 2);
    EXPECT_EQ(Cell(L"A3"), L"1");
}

}  // namespace
}  // namespace karvelo::exports
