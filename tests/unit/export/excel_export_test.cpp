// The workbook export's logic against an application in memory: where each
// item of a record lands, how the reference cell moves on, which slots take
// part, the order of the calls, and what the operator is told; and the copy a
// workbook keeps of what a run writes over, also with the workbook engine on
// real .xlsx files.

#include "export/excel_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "export/csv_export.h"
#include "export/workbook_application.h"
#include "platform/text_encoding.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "support/fake_excel.h"
#include "support/fake_window.h"
#include "support/noon_clock.h"
#include "support/temp_dir.h"
#include "support/workbook_tool.h"

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
    void SetUp() override { Configure(dir_); }
    // The settings' defaults, for the workbook book.xlsx in `dir`.
    static void Configure(const TempDir& dir) {
        ResetRunState();
        SetLocalClock(&karvelo::testing::NoonClock);
        dir.Write("book.xlsx", "stand-in");
        g_run.ExportPath = std::wstring(dir.path().wstring()) + L"/";
        g_run.XlsFileName = L"book.xlsx";
        g_run.ExportType = ExportKind::Workbook;
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

    // The record of this moment, as the acquisition thread takes it.
    static Record Now() { return CaptureRecord(g_run, StampNow(), NewRecordId()); }

    std::wstring Cell(const std::wstring& address, const std::wstring& sheet = L"Tabelle1") {
        return state_->Cell(sheet, address);
    }
    bool Logged(const std::wstring& call) const {
        return std::find(state_->log.begin(), state_->log.end(), call) != state_->log.end();
    }

    TempDir dir_;
    FakeWindow window_;
    std::shared_ptr<FakeExcelState> state_ = std::make_shared<FakeExcelState>();
    ExcelLink link_{window_, FakeExcel::Factory(state_), &karvelo::testing::NoonClock};
};

// The copies of workbooks kept in `dir`, by name.
std::vector<std::string> Copies(const TempDir& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        if (name.find(".before-") != std::string::npos) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

constexpr char kNoonCopy[] = "book.before-20261209-120000.xlsx";

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
    link_.WriteExcelRecord(Now(), true);
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
    link_.WriteExcelRecord(Now(), true);
    EXPECT_EQ(Cell(L"A2"), L"2");
    EXPECT_EQ(Cell(L"D2"), L"-0.250000");
    EXPECT_EQ(Cell(L"M2"), L"10.500000");
    EXPECT_EQ(state_->created, 1);
    EXPECT_TRUE(window_.messages.empty());
}

TEST_F(ExcelExportTest, OneSlotWritesFourCells) {
    SetSlots(1);
    link_.WriteExcelRecord(Now(), true);
    EXPECT_EQ(Cell(L"D1"), L"1.500000");
    EXPECT_EQ(Cell(L"E1"), L"");
    EXPECT_FALSE(Logged(L"Value E1="));  // slots beyond the count are not touched
}

TEST_F(ExcelExportTest, CallsInOrder) {
    SetSlots(1);
    link_.WriteExcelRecord(Now(), true);
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
    link_.WriteExcelRecord(Now(), true);
    EXPECT_EQ(Cell(L"C5"), L"1");
    EXPECT_EQ(Cell(L"F5"), L"1.500000");
    EXPECT_EQ(Cell(L"Z1"), L"C6");
    EXPECT_EQ(g_run.ExcelRefAddress.str(), L"Z1");  // only the cell moves on
}

TEST_F(ExcelExportTest, ActiveCellModeStartsAtTheSelection) {
    g_run.ExcelRefMode = 0;
    state_->sheets[L"Tabelle1"].selection = {4, 3};
    SetSlots(1);
    link_.WriteExcelRecord(Now(), true);
    EXPECT_EQ(Cell(L"C4"), L"1");
    EXPECT_EQ(Cell(L"F4"), L"1.500000");
    EXPECT_EQ(state_->sheets[L"Tabelle1"].selection, std::make_pair(5, 3));
}

TEST_F(ExcelExportTest, FixedItemAlwaysInItsCell) {
    g_run.ExcelRelative[4] = false;
    g_run.ExcelColumnText[4] = L"F";
    g_run.ExcelRowText[4] = L"3";
    SetSlots(1);
    link_.WriteExcelRecord(Now(), true);
    link_.WriteExcelRecord(Now(), true);
    EXPECT_EQ(Cell(L"F3"), L"1.500000");
    EXPECT_EQ(Cell(L"D1"), L"");
    EXPECT_EQ(Cell(L"A2"), L"2");
}

TEST_F(ExcelExportTest, FailedReadingsClearTheirCells) {
    state_->sheets[L"Tabelle1"].cells[{1, 5}] = L"old";
    g_run.ValueError[2] = true;   // an error word
    g_run.ValueReady[3] = false;  // no reading
    link_.WriteExcelRecord(Now(), true);
    EXPECT_EQ(Cell(L"D1"), L"1.500000");
    EXPECT_TRUE(Logged(L"Value E1="));
    EXPECT_EQ(Cell(L"E1"), L"");
    EXPECT_EQ(Cell(L"F1"), L"");
}

TEST_F(ExcelExportTest, TextSlotsOnlyWithTypeFive) {
    SetSlots(2);
    g_run.DeviceType[2] = kTextSlot;
    g_run.TextLast[2] = L"LOT-7";
    link_.WriteExcelRecord(Now(), true);
    EXPECT_EQ(Cell(L"E1"), L"LOT-7");
    EXPECT_EQ(Cell(L"F1"), L"");  // slot 3 is beyond the count

    // Without text slots the count does not limit the instruments.
    link_.WriteExcelRecord(Now(), false);
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
    link_.WriteExcelRecord(Now(), true);
    EXPECT_EQ(g_run.ExcelRefAddress.str(), L"AA1");
    link_.WriteExcelRecord(Now(), true);
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
    link_.WriteExcelRecord(Now(), true);
    EXPECT_TRUE(state_->log.empty());
    EXPECT_EQ(g_run.RecordNumber, 0);
    EXPECT_NE(window_.exportProblem.find(L"not written"), std::wstring::npos);
}

TEST_F(ExcelExportTest, ErrorSkipsTheRestOfTheRecord) {
    g_run.ExcelSheet = L"Missing";
    link_.WriteExcelRecord(Now(), true);
    ASSERT_EQ(window_.messages.size(), 1u);
    EXPECT_NE(window_.messages[0].find(L"no sheet Missing"), std::wstring::npos);
    EXPECT_FALSE(Logged(L"Save"));
    EXPECT_EQ(state_->log.back(), L"Item Missing");  // edit stays off
    EXPECT_NE(window_.exportProblem.find(L"no sheet Missing"), std::wstring::npos);

    g_run.ExcelSheet = L"Tabelle1";
    link_.WriteExcelRecord(Now(), true);
    EXPECT_EQ(Cell(L"A1"), L"1");
    EXPECT_EQ(window_.exportProblem, L"");
}

TEST_F(ExcelExportTest, OnlyRecordsThatReachTheWorkbookAreReported) {
    g_run.ExcelSheet = L"Missing";
    link_.WriteExcelRecord(Now(), true);
    EXPECT_TRUE(window_.recordsWritten.empty());

    g_run.ExcelSheet = L"Tabelle1";
    link_.WriteExcelRecord(Now(), true);
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
    link_.WriteExcelRecord(Now(), true);
    const std::size_t opens =
        std::count_if(state_->log.begin(), state_->log.end(),
                      [](const std::wstring& l) { return l.starts_with(L"Open"); });
    link_.WriteExcelRecord(Now(), true);
    EXPECT_EQ(std::count_if(state_->log.begin(), state_->log.end(),
                            [](const std::wstring& l) { return l.starts_with(L"Open"); }),
              static_cast<std::ptrdiff_t>(opens));
    EXPECT_EQ(Cell(L"A2"), L"2");

    // "close", then the next record attaches again and counts from 1.
    link_.CloseExcel();
    EXPECT_FALSE(g_run.ExcelConnected);
    link_.WriteExcelRecord(Now(), true);
    EXPECT_EQ(state_->created, 2);
    EXPECT_EQ(Cell(L"A3"), L"1");
}

TEST_F(ExcelExportTest, FirstRecordOverFilledCellsKeepsTheWorkbookAsItWas) {
    dir_.Write("book.xlsx", "the earlier run's workbook");
    state_->sheets[L"Tabelle1"].cells[{1, 4}] = L"7.250000";
    SetSlots(1);
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(link_.WriteExcelRecord(Now(), true), WorkbookWrite::Written);
    const std::string told = ::testing::internal::GetCapturedStderr();

    ASSERT_EQ(Copies(dir_), std::vector<std::string>{kNoonCopy});
    EXPECT_EQ(dir_.Read(kNoonCopy), "the earlier run's workbook");
    EXPECT_EQ(Cell(L"D1"), L"1.500000");
    // One line, naming the copy.
    EXPECT_TRUE(told.starts_with("karvelo: ")) << told;
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
    EXPECT_NE(told.find(dir_.file(kNoonCopy)), std::string::npos) << told;
    ASSERT_EQ(window_.recordsWritten.size(), 1u);
    EXPECT_NE(window_.recordsWritten[0].where.find(L"book.before-20261209-120000.xlsx"),
              std::wstring::npos);
    EXPECT_EQ(window_.exportProblem, L"");  // news, not a problem

    // The same run goes on over filled cells (the file has been saved since):
    // nothing more is copied or told.
    dir_.Write("book.xlsx", "saved with the first record");
    state_->sheets[L"Tabelle1"].cells[{2, 4}] = L"8.000000";
    ::testing::internal::CaptureStderr();
    ASSERT_EQ(link_.WriteExcelRecord(Now(), true), WorkbookWrite::Written);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(Copies(dir_), std::vector<std::string>{kNoonCopy});
    EXPECT_EQ(dir_.Read(kNoonCopy), "the earlier run's workbook");
    EXPECT_EQ(window_.recordsWritten.back().where, g_run.ExportPath.str() + L"book.xlsx");
}

TEST_F(ExcelExportTest, OnlyTheCellsTheRecordWritesCount) {
    struct Case {
        const char* name;
        std::function<void(FakeExcelState::Sheet&)> setup;
        bool copied;
    };
    const Case cases[] = {
        {"empty cells", [](FakeExcelState::Sheet&) {}, false},
        {"a filled cell beside the record",
         [](auto& s) {
             s.cells[{1, 14}] = L"note";
         },
         false},
        {"a filled cell of a slot beyond the count",
         [](auto& s) {
             SetSlots(1);
             s.cells[{1, 5}] = L"old";
         },
         false},
        {"the address cell of reference mode 2",
         [](auto& s) {
             g_run.ExcelRefMode = 2;
             g_run.ExcelRefAddress = L"Z1";
             s.cells[{1, 26}] = L"C5";
         },
         false},
        {"the number's cell",
         [](auto& s) {
             s.cells[{1, 1}] = L"3";
         },
         true},
        {"the last slot's cell",
         [](auto& s) {
             s.cells[{1, 13}] = L"x";
         },
         true},
        {"a cell a failed reading clears",
         [](auto& s) {
             g_run.ValueReady[2] = false;
             s.cells[{1, 5}] = L"old";
         },
         true},
        {"a fixed cell",
         [](auto& s) {
             g_run.ExcelRelative[4] = false;
             g_run.ExcelColumnText[4] = L"F";
             g_run.ExcelRowText[4] = L"3";
             s.cells[{3, 6}] = L"last value";
         },
         true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        Configure(dir);
        FakeWindow window;
        auto state = std::make_shared<FakeExcelState>();
        c.setup(state->sheets[L"Tabelle1"]);
        ExcelLink link(window, FakeExcel::Factory(state), &karvelo::testing::NoonClock);
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(link.WriteExcelRecord(Now(), true), WorkbookWrite::Written) << c.name;
        const std::string told = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(Copies(dir).size(), c.copied ? 1u : 0u) << c.name;
        EXPECT_EQ(told.empty(), !c.copied) << c.name << ": " << told;
    }
}

TEST_F(ExcelExportTest, CopyNameKeepsTheExtensionAndNeverReplacesACopy) {
    struct Case {
        const char* file;
        std::vector<std::string> before;  // copies already there
        const char* copy;
    };
    const Case cases[] = {
        {"book.xlsx", {}, "book.before-20261209-120000.xlsx"},
        {"form.xlsm", {}, "form.before-20261209-120000.xlsm"},
        {"line.2.xlsx", {}, "line.2.before-20261209-120000.xlsx"},
        {"book.xlsx",
         {"book.before-20261209-120000.xlsx", "book.before-20261209-120000-2.xlsx"},
         "book.before-20261209-120000-3.xlsx"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        Configure(dir);
        dir.Write(c.file, "as it was");
        for (const std::string& name : c.before) dir.Write(name, "an earlier copy");
        g_run.XlsFileName = platform::Utf8ToWide(c.file);
        FakeWindow window;
        auto state = std::make_shared<FakeExcelState>();
        state->sheets[L"Tabelle1"].cells[{1, 1}] = L"1";
        ExcelLink link(window, FakeExcel::Factory(state), &karvelo::testing::NoonClock);
        ::testing::internal::CaptureStderr();
        link.WriteExcelRecord(Now(), true);
        ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(dir.Read(c.copy), "as it was") << c.copy;
        for (const std::string& name : c.before) EXPECT_EQ(dir.Read(name), "an earlier copy");
        EXPECT_EQ(Copies(dir).size(), c.before.size() + 1) << c.copy;
    }
}

TEST_F(ExcelExportTest, EachAttachmentKeepsItsOwnCopy) {
    dir_.Write("book.xlsx", "first");
    state_->sheets[L"Tabelle1"].cells[{1, 1}] = L"earlier";
    ::testing::internal::CaptureStderr();
    link_.WriteExcelRecord(Now(), true);

    // "close" (a set switch does the same), and the next run writes over
    // cells again.
    link_.CloseExcel();
    dir_.Write("book.xlsx", "second");
    state_->sheets[L"Tabelle1"].cells[{2, 1}] = L"earlier";
    link_.WriteExcelRecord(Now(), true);
    ::testing::internal::GetCapturedStderr();
    const std::vector<std::string> expected = {"book.before-20261209-120000-2.xlsx", kNoonCopy};
    EXPECT_EQ(Copies(dir_), expected);
    EXPECT_EQ(dir_.Read(kNoonCopy), "first");
    EXPECT_EQ(dir_.Read("book.before-20261209-120000-2.xlsx"), "second");
}

TEST_F(ExcelExportTest, ACopyThatCannotBeMadeIsToldAndTheRecordStillWritten) {
    // A workbook name so long that the copy's name, with ".before-...", is
    // more than the file system takes (root may write anywhere, so no
    // permission can make the copy fail).
    const std::string name = std::string(245, 'w') + ".xlsx";
    dir_.Write(name, "as it was");
    g_run.XlsFileName = platform::Utf8ToWide(name);
    state_->sheets[L"Tabelle1"].cells[{1, 4}] = L"7.250000";
    SetSlots(1);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(link_.WriteExcelRecord(Now(), true), WorkbookWrite::Written);
    const std::string told = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Cell(L"D1"), L"1.500000");
    EXPECT_TRUE(Copies(dir_).empty());
    EXPECT_TRUE(told.starts_with("karvelo: ")) << told;
    EXPECT_NE(told.find("no copy"), std::string::npos) << told;
    EXPECT_NE(window_.exportProblem.find(L"no copy"), std::wstring::npos) << window_.exportProblem;
    EXPECT_TRUE(window_.messages.empty());  // nobody may be there to answer a box
    ASSERT_EQ(window_.recordsWritten.size(), 1u);
}

// The fake application, except that no cell can be read back.
class WriteOnlyRange : public excel::Range {
  public:
    explicit WriteOnlyRange(std::unique_ptr<excel::Range> r) : r_(std::move(r)) {}
    void Select() override { r_->Select(); }
    std::unique_ptr<excel::Range> Offset(std::int16_t row, std::int16_t column) override {
        return std::make_unique<WriteOnlyRange>(r_->Offset(row, column));
    }
    void PutValue(std::wstring_view text) override { r_->PutValue(text); }
    excel::Variant GetValue2() override { throw excel::AutomationError(L"not implemented"); }
    void PutValue2(std::int32_t value) override { r_->PutValue2(value); }
    std::int32_t Column() override { return r_->Column(); }
    std::int32_t Row() override { return r_->Row(); }

  private:
    std::unique_ptr<excel::Range> r_;
};

class WriteOnlySheet : public excel::Worksheet {
  public:
    explicit WriteOnlySheet(std::shared_ptr<excel::Worksheet> s) : s_(std::move(s)) {}
    void Activate() override { s_->Activate(); }
    std::unique_ptr<excel::Range> GetRange(std::wstring_view address) override {
        return std::make_unique<WriteOnlyRange>(s_->GetRange(address));
    }

  private:
    std::shared_ptr<excel::Worksheet> s_;
};

class WriteOnlySheets : public excel::Worksheets {
  public:
    explicit WriteOnlySheets(std::shared_ptr<excel::Worksheets> s) : s_(std::move(s)) {}
    std::shared_ptr<excel::Worksheet> Item(std::wstring_view name) override {
        return std::make_shared<WriteOnlySheet>(s_->Item(name));
    }

  private:
    std::shared_ptr<excel::Worksheets> s_;
};

class WriteOnlyBook : public excel::Workbook {
  public:
    explicit WriteOnlyBook(std::shared_ptr<excel::Workbook> b) : b_(std::move(b)) {}
    std::shared_ptr<excel::Worksheets> GetWorksheets() override {
        return std::make_shared<WriteOnlySheets>(b_->GetWorksheets());
    }
    void Save() override { b_->Save(); }

  private:
    std::shared_ptr<excel::Workbook> b_;
};

class WriteOnlyBooks : public excel::Workbooks {
  public:
    explicit WriteOnlyBooks(std::shared_ptr<excel::Workbooks> b) : b_(std::move(b)) {}
    std::shared_ptr<excel::Workbook> Open(std::wstring_view name) override {
        return std::make_shared<WriteOnlyBook>(b_->Open(name));
    }
    void Close() override { b_->Close(); }

  private:
    std::shared_ptr<excel::Workbooks> b_;
};

class WriteOnlyApplication : public excel::Application {
  public:
    explicit WriteOnlyApplication(std::shared_ptr<excel::Application> a) : a_(std::move(a)) {}
    void PutVisible(bool v) override { a_->PutVisible(v); }
    void PutInteractive(bool v) override { a_->PutInteractive(v); }
    void PutUserControl(bool v) override { a_->PutUserControl(v); }
    std::shared_ptr<excel::Workbooks> GetWorkbooks() override {
        return std::make_shared<WriteOnlyBooks>(a_->GetWorkbooks());
    }
    std::unique_ptr<excel::Range> ActiveCell() override {
        return std::make_unique<WriteOnlyRange>(a_->ActiveCell());
    }
    void Quit() override { a_->Quit(); }

  private:
    std::shared_ptr<excel::Application> a_;
};

TEST_F(ExcelExportTest, CellsThatCannotBeReadBackDoNotCostTheRecord) {
    state_->sheets[L"Tabelle1"].cells[{1, 4}] = L"7.250000";
    SetSlots(1);
    const excel::ApplicationFactory fake = FakeExcel::Factory(state_);
    ExcelLink link(window_,
                   [fake](std::wstring_view progId) -> std::shared_ptr<excel::Application> {
                       auto application = fake(progId);
                       if (application == nullptr) return nullptr;
                       return std::make_shared<WriteOnlyApplication>(std::move(application));
                   });
    EXPECT_EQ(link.WriteExcelRecord(Now(), true), WorkbookWrite::Written);
    EXPECT_EQ(Cell(L"D1"), L"1.500000");
    EXPECT_EQ(window_.exportProblem, L"");
    EXPECT_TRUE(Copies(dir_).empty());
}

// The workbook engine on real workbooks, made and read by openpyxl.
TEST_F(ExcelExportTest, WorkbookEngineKeepsTheFileAsItWas) {
    namespace wb = karvelo::testing::workbook;
    struct Case {
        const char* name;
        void (*make)(const std::string& path);
        bool copied;
    };
    const Case cases[] = {
        // "header" in A1, numbers in C1 and D1 to D3.
        {"a filled sheet", [](const std::string& path) { wb::MakeRich(path); }, true},
        {"an empty sheet", [](const std::string& path) { wb::Make(path, {"Tabelle1"}); }, false},
    };
    for (const Case& c : cases) {
        TempDir dir;
        Configure(dir);
        const std::string path = dir.file("book.xlsx");
        c.make(path);
        const std::string before = dir.Read("book.xlsx");
        SetSlots(1);
        FakeWindow window;
        {
            ExcelLink link(window, WorkbookEngineFactory(), &karvelo::testing::NoonClock);
            ::testing::internal::CaptureStderr();
            ASSERT_EQ(link.WriteExcelRecord(Now(), true), WorkbookWrite::Written) << c.name;
            // The second record writes D2, which holds 2 in the filled sheet.
            ASSERT_EQ(link.WriteExcelRecord(Now(), true), WorkbookWrite::Written) << c.name;
            ::testing::internal::GetCapturedStderr();
            link.EndSequence();
        }
        EXPECT_EQ(wb::ReadCells(path, "Tabelle1").at("D2").value, "1.5") << c.name;
        if (!c.copied) {
            EXPECT_TRUE(Copies(dir).empty()) << c.name;
            continue;
        }
        ASSERT_EQ(Copies(dir), std::vector<std::string>{kNoonCopy}) << c.name;
        EXPECT_EQ(dir.Read(kNoonCopy), before);
        const auto kept = wb::ReadCells(dir.file(kNoonCopy), "Tabelle1");
        EXPECT_EQ(kept.at("A1"), (wb::Cell{'s', "header"}));
        EXPECT_EQ(kept.at("D2"), (wb::Cell{'n', "2"}));
        EXPECT_EQ(wb::ReadCells(path, "Tabelle1").at("A1").value, "1");
    }
}

}  // namespace
}  // namespace karvelo::exports
