// The export queue as the window's timers drive it into a workbook: records
// handed over while an export is stuck (a dialog of the application that
// dispatches the window's events, so the export timer fires inside it) and
// records for a workbook that is not open yet all reach their rows, in the
// order they were taken, once; the journal then has each of them as written.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "export/excel_export.h"
#include "export/export_record.h"
#include "export/record.h"
#include "export/record_journal.h"
#include "platform/text_encoding.h"
#include "state/run_state.h"
#include "station_fixture.h"
#include "support/export_now.h"
#include "support/fake_excel.h"
#include "support/noon_clock.h"

namespace karvelo::app::test {
namespace {

namespace excel = exports::excel;
using karvelo::testing::FakeExcel;
using karvelo::testing::FakeExcelState;

constexpr int kSylvac = 1;
constexpr wchar_t kWaiting[] = L"record(s) waiting: an earlier export was still open";

// What the fake application does while a call of the export is under way: a
// dialog of the application, during which the window's timers go on firing.
struct Stalls {
    std::function<void()> open;  // while a workbook is opened
    std::function<void()> save;  // while the workbook is saved
};

class StallingWorkbook : public excel::Workbook {
  public:
    StallingWorkbook(std::shared_ptr<excel::Workbook> inner, const Stalls& stalls)
        : inner_(std::move(inner)), stalls_(stalls) {}
    std::shared_ptr<excel::Worksheets> GetWorksheets() override { return inner_->GetWorksheets(); }
    void Save() override {
        if (stalls_.save) stalls_.save();
        inner_->Save();
    }

  private:
    std::shared_ptr<excel::Workbook> inner_;
    const Stalls& stalls_;
};

class StallingWorkbooks : public excel::Workbooks {
  public:
    StallingWorkbooks(std::shared_ptr<excel::Workbooks> inner, const Stalls& stalls)
        : inner_(std::move(inner)), stalls_(stalls) {}
    std::shared_ptr<excel::Workbook> Open(std::wstring_view name) override {
        if (stalls_.open) stalls_.open();
        return std::make_shared<StallingWorkbook>(inner_->Open(name), stalls_);
    }
    void Close() override { inner_->Close(); }

  private:
    std::shared_ptr<excel::Workbooks> inner_;
    const Stalls& stalls_;
};

class StallingApplication : public excel::Application {
  public:
    StallingApplication(std::shared_ptr<excel::Application> inner, const Stalls& stalls)
        : inner_(std::move(inner)), stalls_(stalls) {}
    void PutVisible(bool v) override { inner_->PutVisible(v); }
    void PutInteractive(bool v) override { inner_->PutInteractive(v); }
    void PutUserControl(bool v) override { inner_->PutUserControl(v); }
    std::shared_ptr<excel::Workbooks> GetWorkbooks() override {
        return std::make_shared<StallingWorkbooks>(inner_->GetWorkbooks(), stalls_);
    }
    std::unique_ptr<excel::Range> ActiveCell() override { return inner_->ActiveCell(); }
    void Quit() override { inner_->Quit(); }

  private:
    std::shared_ptr<excel::Application> inner_;
    const Stalls& stalls_;
};

class ExportQueueTest : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        SetRecordExporter(nullptr);  // the station's own export
        exports::CloseJournal();
        exports::SetLocalClock(&karvelo::testing::NoonClock);
        const std::wstring folder = Wide(dir.path().string()) + L"/";
        g_run.ConfigDir = folder;
        g_run.ExportPath = folder;
        dir.Write("book.xlsx", "stand-in");
        g_run.XlsFileName = L"book.xlsx";
        g_run.ExportType = ExportKind::Workbook;
        g_run.ExcelOpen = true;
        g_run.ExcelSave = true;
        // Each record fills a row from column A, the next one below it.
        for (int n = 1; n <= kExcelItems; ++n) {
            g_run.ExcelValueOn[n] = true;
            g_run.ExcelRelative[n] = true;
            g_run.ExcelColumn[n] = n - 1;
            g_run.ExcelRow[n] = 0;
        }
        g_run.ExcelSheet = L"Tabelle1";
        g_run.ExcelRefMode = 1;
        g_run.ExcelRefAddress = L"A1";
        g_run.ExcelShiftMode = 1;
        g_run.ExcelAutoShiftRow = 1;
        g_run.DeviceCount = 1;
        g_run.DeviceType[1] = kSylvac;
        g_run.ValueReady[1] = true;
    }
    void TearDown() override {
        exports::SetLocalClock(nullptr);
        exports::CloseJournal();
        StationTest::TearDown();
    }

    // The acquisition thread's hand-over of record k (slot 1 reads k + 0.5),
    // then the export timer's tick.
    void HandOver(int k) {
        g_run.TextLast[kIdEntry] = L"R-" + std::to_wstring(k);
        g_run.Value[1] = k + 0.5;
        g_run.TextLast[1] = std::to_wstring(k) + L".500";
        exports::Record record = karvelo::testing::RecordNow();
        ASSERT_TRUE(exports::CommitRecord(record))
            << platform::WideToUtf8(exports::JournalProblem());
        channel.Hand(std::move(record));
        window.StartTimer(kExportTimer, TimerPeriodMs(kExportTimer));
        OnTimerEvent(kExportTimer, window, {&channel, &link_});
    }

    std::size_t Queued() const { return channel.Queued(exports::RecordLane::Window); }

    // "number|slot 1" of each filled row of the sheet, from row 1 on.
    std::vector<std::string> SheetRows() {
        std::vector<std::string> rows;
        for (int r = 1;; ++r) {
            const std::wstring number = state_->Cell(L"Tabelle1", FakeExcelState::Address(r, 1));
            if (number.empty()) return rows;
            rows.push_back(platform::WideToUtf8(
                number + L"|" + state_->Cell(L"Tabelle1", FakeExcelState::Address(r, 4))));
        }
    }

    // The ID texts of the records the journal has not seen written, oldest first.
    static std::vector<std::string> Unwritten() {
        std::vector<std::string> ids;
        for (const exports::Record& r : exports::UnwrittenRecords()) {
            ids.push_back(platform::WideToUtf8(r.idText));
        }
        return ids;
    }

    Stalls stalls_;
    std::shared_ptr<FakeExcelState> state_ = std::make_shared<FakeExcelState>();
    exports::ExcelLink link_{
        window,
        [this](std::wstring_view progId) -> std::shared_ptr<excel::Application> {
            auto inner = FakeExcel::Factory(state_)(progId);
            if (inner == nullptr) return nullptr;
            return std::make_shared<StallingApplication>(inner, stalls_);
        },
        &karvelo::testing::NoonClock};
};

TEST_F(ExportQueueTest, RecordsHandedOverWhileAnExportIsStuckAreWrittenInOrderAfterIt) {
    int saves = 0;
    std::vector<std::wstring> said;  // the window's problem line after each stuck hand-over
    std::vector<std::size_t> queued;
    stalls_.save = [&] {
        ++saves;
        const auto stuckHandOver = [&](int k) {
            HandOver(k);
            said.push_back(window.exportProblem());
            queued.push_back(Queued());
        };
        if (saves == 1) {  // record 1's save
            stuckHandOver(2);
            stuckHandOver(3);
        } else if (saves == 2) {  // record 2's, written after record 1's save returned
            stuckHandOver(4);
        }
    };

    HandOver(1);

    EXPECT_EQ(SheetRows(),
              (std::vector<std::string>{"1|1.500000", "2|2.500000", "3|3.500000", "4|4.500000"}));
    EXPECT_EQ(said, (std::vector<std::wstring>{std::wstring(L"1 ") + kWaiting,
                                               std::wstring(L"2 ") + kWaiting,
                                               std::wstring(L"1 ") + kWaiting}));
    EXPECT_EQ(queued, (std::vector<std::size_t>{1, 2, 1}));
    EXPECT_EQ(saves, 4) << "each record saved once";
    EXPECT_EQ(Queued(), 0u);
    EXPECT_TRUE(Unwritten().empty()) << "each written record is marked in the journal";
    EXPECT_FALSE(ExportInProgress());
    EXPECT_EQ(channel.Open(), 0u) << "every hand-over has had its turn";
    EXPECT_TRUE(window.messages().empty());
}

TEST_F(ExportQueueTest, RecordsWaitForAWorkbookThatIsNotOpenAndFollowInOrderOnceItIs) {
    g_run.ExcelOpen = false;  // the operator has to press "open"
    for (int k = 1; k <= 3; ++k) {
        HandOver(k);
        EXPECT_EQ(channel.Open(), 0u) << "measuring goes on meanwhile";
    }
    EXPECT_EQ(state_->created, 0);
    EXPECT_TRUE(SheetRows().empty());
    EXPECT_EQ(Queued(), 3u);
    EXPECT_EQ(Unwritten(), (std::vector<std::string>{"R-1", "R-2", "R-3"}));
    EXPECT_NE(window.exportProblem().find(L"not open"), std::wstring::npos)
        << platform::WideToUtf8(window.exportProblem());

    link_.OpenExcel();
    HandOver(4);

    EXPECT_EQ(SheetRows(),
              (std::vector<std::string>{"1|1.500000", "2|2.500000", "3|3.500000", "4|4.500000"}));
    EXPECT_EQ(Queued(), 0u);
    EXPECT_TRUE(Unwritten().empty());
}

// A record the workbook cannot take (opening it fails, after a dialog during
// which further records were handed over) stays ahead of those records, and
// all of them follow in order once the workbook opens.
TEST_F(ExportQueueTest, RecordThatFailsWhileStuckStaysAheadOfThoseHandedOverMeanwhile) {
    state_->failOpen = L"The workbook is being repaired.";
    int opens = 0;
    stalls_.open = [&] {
        if (++opens > 1) return;
        HandOver(2);
        HandOver(3);
    };

    HandOver(1);

    EXPECT_TRUE(SheetRows().empty());
    EXPECT_EQ(Queued(), 3u);
    EXPECT_EQ(Unwritten(), (std::vector<std::string>{"R-1", "R-2", "R-3"}));
    EXPECT_FALSE(window.messages().empty()) << "the application's error is shown";

    state_->failOpen.clear();
    HandOver(4);

    EXPECT_EQ(SheetRows(),
              (std::vector<std::string>{"1|1.500000", "2|2.500000", "3|3.500000", "4|4.500000"}));
    EXPECT_EQ(Queued(), 0u);
    EXPECT_TRUE(Unwritten().empty());
}

// A save that fails (the workbook locked by another program) after the cells
// were filled: the record is already in the sheet and is saved with the next
// save, so trying it again must not put it into a second row.
TEST_F(ExportQueueTest, RecordWhoseSaveFailedIsInTheSheetOnce) {
    state_->failSave = L"The workbook is locked by another program.";
    HandOver(1);
    HandOver(2);
    state_->failSave.clear();
    HandOver(3);

    EXPECT_EQ(SheetRows(), (std::vector<std::string>{"1|1.500000", "2|2.500000", "3|3.500000"}));
    EXPECT_EQ(Queued(), 0u);
    // The successful save took the earlier records' cells with it.
    EXPECT_TRUE(Unwritten().empty());
}

}  // namespace
}  // namespace karvelo::app::test
