#include "app/timers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <string>

#include "platform/profile.h"
#include "state/control_ids.h"
#include "state/marposs_handover.h"
#include "state/run_state.h"
#include "station_fixture.h"
#include "support/export_now.h"

namespace karvelo::app::test {
namespace {

using ::testing::ElementsAre;

// What the test wants to happen inside the export (a message box that lets
// other timers fire, say).
std::function<void(WindowPort&)> g_exportBody;
int g_exportDepth = 0;
int g_maxExportDepth = 0;

void ScriptedExport(WindowPort& window) {
    ++g_exportDepth;
    g_maxExportDepth = std::max(g_maxExportDepth, g_exportDepth);
    CaptureRecord(window);
    if (g_exportBody) g_exportBody(window);
    --g_exportDepth;
}

class TimersTest : public StationTest {
  protected:
    void SetUp() override {
        StationTest::SetUp();
        SetRecordExporter(&ScriptedExport);
        g_exportBody = nullptr;
        g_exportDepth = g_maxExportDepth = 0;
    }
    void TearDown() override {
        g_exportBody = nullptr;
        StationTest::TearDown();
    }

    // The state the acquisition thread leaves at the hand-over.
    void HandOver() {
        exports::QueueRecordForExport(karvelo::testing::RecordNow());
        g_run.RecordReady = true;
        g_run.ExportStarted = true;
        g_run.AcquisitionPaused = true;
        g_run.ExportDone = false;
        window.ShowControl(kSendButton, false);
        window.StartTimer(kExportTimer, 1);
        window.ClearLog();
    }

    std::wstring SavedText(const wchar_t* section) {
        return platform::ReadProfileString(section, L"textlast", L"<missing>",
                                           dir.file("karvelo.cfg"));
    }
};

TEST_F(TimersTest, ExportWritesSavesTheTextsAndReleasesTheAcquisition) {
    g_run.TextLast[0] = L"ID-7";
    g_run.TextLast[2] = L"1.500";
    HandOver();
    g_run.ExportDone = true;  // left over from the previous record
    bool doneDuringExport = true;
    g_exportBody = [&](WindowPort&) { doneDuringExport = g_run.ExportDone; };

    OnTimerEvent(kExportTimer, window);

    EXPECT_THAT(window.log(),
                ElementsAre("stop 1", "start 2 2000", "export", "stop 2", "show 1 on"));
    EXPECT_FALSE(doneDuringExport);
    EXPECT_TRUE(g_run.ExportDone);
    EXPECT_FALSE(g_run.RecordReady);
    EXPECT_FALSE(g_run.AcquisitionPaused);
    EXPECT_EQ(SavedText(L"IDNR"), L"ID-7");
    EXPECT_EQ(SavedText(L"DEVICE2"), L"1.500");
    EXPECT_FALSE(ExportInProgress());
}

TEST_F(TimersTest, StationExportAppendsEachRecordToTheCsvFile) {
    SetRecordExporter(nullptr);
    g_run.ExportPath = Wide(dir.path().string()) + L"/";
    g_run.CsvFileName = L"records.csv";
    g_run.TextLast[0] = L"ID-1";
    g_run.TextLast[1] = L"1.000";
    HandOver();
    OnTimerEvent(kExportTimer, window);
    EXPECT_EQ(SavedText(L"DEVICE1"), L"1.000");
    g_run.TextLast[1] = L"2.000";
    HandOver();
    OnTimerEvent(kExportTimer, window);

    const std::string csv = dir.Read("records.csv");
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 2);
    EXPECT_THAT(
        csv, ::testing::MatchesRegex("ID-1;[^;]*;[^;]*;1\\.000;.*\r\nID-1;[^;]*;[^;]*;2\\.000;.*"));
    // The second record came within the second: its texts follow with the
    // text-save timer.
    ASSERT_TRUE(window.RunningTimer(kTextSaveTimer));
    EXPECT_EQ(SavedText(L"DEVICE1"), L"1.000");
    OnTimerEvent(kTextSaveTimer, window);
    EXPECT_EQ(SavedText(L"DEVICE1"), L"2.000");
    EXPECT_FALSE(window.RunningTimer(kTextSaveTimer));
}

TEST_F(TimersTest, WatchdogLetsTheAcquisitionGoOnWhileASlowExportIsOpen) {
    HandOver();
    g_exportBody = [&](WindowPort& w) {
        OnTimerEvent(kExportWatchdogTimer, w);  // the export's message box is still open
        EXPECT_FALSE(g_run.AcquisitionPaused);
        EXPECT_FALSE(g_run.RecordReady);
        EXPECT_TRUE(window.IsShown(kSendButton));
        // The acquisition runs on and raises a record it cannot hand over yet.
        g_run.RecordReady = true;
    };

    OnTimerEvent(kExportTimer, window);

    EXPECT_TRUE(g_run.ExportDone);
    EXPECT_TRUE(g_run.RecordReady);  // the newer record is not lost
    EXPECT_EQ(RecordLog::Instance().size(), 1u);
}

TEST_F(TimersTest, WatchdogTickAfterTheExportChangesNothing) {
    g_run.RecordReady = true;
    g_run.AcquisitionPaused = true;
    OnTimerEvent(kExportWatchdogTimer, window);
    EXPECT_THAT(window.log(), ElementsAre("stop 2"));
    EXPECT_TRUE(g_run.RecordReady);
    EXPECT_TRUE(g_run.AcquisitionPaused);
}

TEST_F(TimersTest, ExportTimerInsideAnOpenExportRunsAfterIt) {
    HandOver();
    g_exportBody = [&](WindowPort& w) {
        if (RecordLog::Instance().size() != 1) return;
        g_run.TextLast[1] = L"second";
        OnTimerEvent(kExportTimer, w);  // a further hand-over while the first is open
        EXPECT_TRUE(ExportInProgress());
    };
    g_run.TextLast[1] = L"first";

    OnTimerEvent(kExportTimer, window);

    EXPECT_EQ(g_maxExportDepth, 1);
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].texts[1], L"first");
    EXPECT_EQ(records[1].texts[1], L"second");
    // The queued hand-over starts a watchdog of its own, then its export another.
    EXPECT_THAT(window.log(),
                ElementsAre("stop 1", "start 2 2000", "export", "stop 1", "start 2 2000",
                            "start 2 2000", "export", "stop 2", "show 1 on"));
    EXPECT_TRUE(g_run.ExportDone);
    EXPECT_FALSE(g_run.AcquisitionPaused);
}

// An export stuck in a message box: its watchdog lets the acquisition go on, and
// a record handed over then has a watchdog of its own, so the acquisition is
// never held longer than one watchdog period. The end of the late export is not
// taken for the newer record's.
TEST_F(TimersTest, RecordQueuedBehindAStuckExportHasItsOwnWatchdog) {
    HandOver();
    const std::uint64_t first = NextHandOver();
    std::uint64_t second = 0;
    g_exportBody = [&](WindowPort& w) {
        if (RecordLog::Instance().size() != 1) return;
        OnTimerEvent(kExportWatchdogTimer, w);  // the first record's watchdog
        ASSERT_FALSE(g_run.AcquisitionPaused);
        // The acquisition hands the next record over while the first is open.
        g_run.AcquisitionPaused = true;
        g_run.RecordReady = true;
        second = NextHandOver();
        OnTimerEvent(kExportTimer, w);
        EXPECT_FALSE(HandOverExported(second));
        OnTimerEvent(kExportWatchdogTimer, w);  // the queued record's watchdog
        EXPECT_FALSE(g_run.AcquisitionPaused) << "the acquisition is not held by a queued record";
    };

    OnTimerEvent(kExportTimer, window);

    EXPECT_TRUE(HandOverExported(first));
    EXPECT_TRUE(HandOverExported(second));
    EXPECT_EQ(RecordLog::Instance().size(), 2u);
}

// The end of the station waits for an open export to return: a record is
// never cut short by SIGTERM or FINISH / EXIT.
TEST_F(TimersTest, WorkAfterTheExportWaitsForTheOpenExport) {
    HandOver();
    bool ended = false;
    g_exportBody = [&](WindowPort&) {
        RunAfterExport([&] { ended = true; });
        EXPECT_FALSE(ended) << "the export is still open";
    };
    OnTimerEvent(kExportTimer, window);
    EXPECT_TRUE(ended);
    EXPECT_EQ(RecordLog::Instance().size(), 1u);

    bool atOnce = false;
    RunAfterExport([&] { atOnce = true; });
    EXPECT_TRUE(atOnce) << "no export open: the work runs at once";
}

TEST_F(TimersTest, SendAndIdTimersSetTheirTriggers) {
    OnTimerEvent(kSendTimer, window);
    EXPECT_THAT(window.log(), ElementsAre("stop 3"));
    EXPECT_EQ(g_run.TimerTrigger, TriggerStage::Pending);

    window.ClearLog();
    OnTimerEvent(kIdTimer, window);
    EXPECT_TRUE(window.log().empty());  // periodic: keeps running
    EXPECT_TRUE(g_run.IdReadRequest);

    g_run.TimerTrigger = TriggerStage::Idle;
    g_run.IdReadRequest = false;
    OnTimerEvent(7, window);
    EXPECT_TRUE(window.log().empty());
    EXPECT_EQ(g_run.TimerTrigger, TriggerStage::Idle);
    EXPECT_FALSE(g_run.IdReadRequest);
}

// A Marposs library whose channel c reads 40 + c.
struct MarpossReads42 final : MarpossValueRead {
    double ReadValue(int channel) override { return 40.0 + channel; }
};

TEST_F(TimersTest, MarpossRead) {
    struct Case {
        const char* name;
        int slot;
        int requested;
        bool libraryReady;
        int result;
        double value;
        bool ready;
        bool error;
        int state;
    };
    const Case cases[] = {
        {"not requested", 3, 0, true, -1, 0.0, false, false, 0},
        {"library not ready", 3, 1, false, -4, 0.0, false, false, 0},
        // The dispatch that waits for the result sets the status flags.
        {"value", 3, 1, true, 1, 42.0 * 2.0 + 0.5, true, true, 2},
        {"slot out of range still answers", 11, 1, true, -1, 7.0, true, true, 0},
    };
    MarpossReads42 library;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_run.Value[3] = 7.0;
        g_run.ValueReady[3] = true;
        g_run.ValueError[3] = true;
        g_run.SlotState[3] = SlotStage::Idle;
        g_run.Channel[3] = 2;
        g_run.Factor[3] = 2.0;
        g_run.Offset[3] = 0.5;
        g_marposs.Library = c.libraryReady ? &library : nullptr;
        g_marposs.Result = 0;
        g_marposs.Slot = c.slot;
        g_marposs.Requested = c.requested;

        OnTimerEvent(kMarpossTimer, window);

        EXPECT_EQ(g_marposs.Result, c.result);
        EXPECT_DOUBLE_EQ(g_run.Value[3], c.value);
        EXPECT_EQ(g_run.ValueReady[3], c.ready);
        EXPECT_EQ(g_run.ValueError[3], c.error);
        EXPECT_EQ(static_cast<int>(g_run.SlotState[3].load()), c.state);
    }
    g_marposs.Library = nullptr;
    EXPECT_EQ(window.log().back(), "stop 8");
}

TEST_F(TimersTest, SendTimerPeriodInMilliseconds) {
    EXPECT_EQ(SendTimerMs(5.0), 5000);
    EXPECT_EQ(SendTimerMs(0.0125), 12);  // cut, not rounded
    EXPECT_EQ(SendTimerMs(0.0), 0);
    EXPECT_EQ(SendTimerMs(-3.0), 0);
    EXPECT_EQ(SendTimerMs(1e12), INT_MAX);  // a period no timer can hold
    EXPECT_EQ(TimerPeriodMs(kIdTimer), 2000);
    EXPECT_EQ(TimerPeriodMs(kExportWatchdogTimer), 2000);
    EXPECT_EQ(TimerPeriodMs(5), -1);
}

}  // namespace
}  // namespace karvelo::app::test
