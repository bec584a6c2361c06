#include "app/timers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <functional>
#include <string>

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

// Writes the window lane's records into the record log.
void ScriptedExport(const ExportTargets& targets, WindowPort& window) {
    ++g_exportDepth;
    g_maxExportDepth = std::max(g_maxExportDepth, g_exportDepth);
    for (exports::HandedRecord& handed : targets.records->Take(exports::RecordLane::Window)) {
        static_cast<karvelo::testing::ThreadedFakeWindow&>(window).Log("export");
        RecordLog::Instance().Add(TextsOf(handed.record));
        if (g_exportBody) g_exportBody(window);
        targets.records->Settle(handed.number);
    }
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

    // What the acquisition thread does at a workbook record's hand-over.
    void HandOver() {
        exports::Record record = karvelo::testing::RecordNow();
        record.exportType = ExportKind::Workbook;
        channel.Hand(std::move(record));
        window.StartTimer(kExportTimer, 1);
        window.ClearLog();
    }
    void FireExport(WindowPort& w) { OnTimerEvent(kExportTimer, w, {&channel, nullptr}); }
};

TEST_F(TimersTest, ExportWritesTheWindowLaneAndSettlesEachRecord) {
    g_run.TextLast[0] = L"ID-7";
    HandOver();

    FireExport(window);

    EXPECT_THAT(window.log(), ElementsAre("stop 1", "export"));
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].texts[0], L"ID-7");
    EXPECT_EQ(channel.Open(), 0u);
    EXPECT_FALSE(ExportInProgress());
}

TEST_F(TimersTest, ExportTimerInsideAnOpenExportRunsAfterIt) {
    g_run.TextLast[1] = L"first";
    HandOver();
    g_exportBody = [&](WindowPort& w) {
        if (RecordLog::Instance().size() != 1) return;
        g_run.TextLast[1] = L"second";
        HandOver();  // a further hand-over while the first is open
        FireExport(w);
        EXPECT_TRUE(ExportInProgress());
        EXPECT_EQ(window.exportProblem(), L"1 record(s) waiting: an earlier export was still open");
    };

    FireExport(window);

    EXPECT_EQ(g_maxExportDepth, 1);
    const auto records = Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].texts[1], L"first");
    EXPECT_EQ(records[1].texts[1], L"second");
    EXPECT_THAT(window.log(), ElementsAre("stop 1", "export"));  // since the second hand-over
    EXPECT_EQ(channel.Open(), 0u);
    EXPECT_FALSE(ExportInProgress());
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
    FireExport(window);
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
    EXPECT_EQ(TimerPeriodMs(5), -1);
}

}  // namespace
}  // namespace karvelo::app::test
