#include "app/timers.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>

#include "app/acquisition_thread.h"
#include "app/configuration.h"
#include "export/export_record.h"
#include "export/record.h"
#include "platform/numbers.h"
#include "platform/text_encoding.h"
#include "state/control_ids.h"
#include "state/marposs_handover.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::app {

namespace {

std::atomic<RecordExporter> g_exporter{nullptr};

// The export's own state. Only the user-interface thread touches it; atomics
// keep it well-defined for tests that play that thread from several threads.
struct ExportState {
    std::atomic<bool> running{false};          // timer 1's export is open
    std::atomic<bool> queued{false};           // a further hand-over came while it was open
    std::atomic<bool> watchdogFired{false};    // the open export has been given up on
    std::atomic<std::uint64_t> handedOver{0};  // the newest hand-over's number
    std::atomic<std::uint64_t> exported{0};    // the newest number an export has written
    std::function<void()> afterExport;         // user-interface thread only
};
ExportState g_export;

// Lets the acquisition go on after an export (or its watchdog). A pause the
// thread holds for a command is the command's to lift.
void ReleaseAcquisition(WindowPort& window) {
    g_run.RecordReady = false;
    LiftExportPause();
    window.ShowControl(kSendButton, true);
}

void WriteRecord(WindowPort& window, exports::ExcelLink* excel) {
    RecordExporter exporter = g_exporter.load();
    if (exporter != nullptr) {
        exporter(window);
    } else {
        exports::ExportRecord(window, excel);
    }
}

// Records handed over while an export is stuck (a message box of the
// workbook) wait in the export queue, in order, until it has returned. Say so.
void ReportWaiting(WindowPort& window) {
    const auto count = static_cast<std::int64_t>(exports::QueuedRecordCount());
    if (count == 0) return;
    const std::wstring text =
        platform::FormatInt(count) + L" record(s) waiting: an earlier export was still open";
    std::fprintf(stderr, "karvelo: %s\n", platform::WideToUtf8(text).c_str());
    window.ShowExportProblem(text);
}

void OnExport(WindowPort& window, exports::ExcelLink* excel) {
    window.StopTimer(kExportTimer);
    // A hand-over while an export is open (its message box dispatches the
    // window's events): the open export runs it when it returns, never nested.
    if (g_export.running.exchange(true)) {
        g_export.queued = true;
        ReportWaiting(window);
        // The queued record gets a watchdog of its own: an export stuck in a
        // message box must not hold the acquisition longer than any other.
        g_export.watchdogFired = false;
        window.StartTimer(kExportWatchdogTimer, TimerPeriodMs(kExportWatchdogTimer));
        return;
    }
    do {
        g_export.queued = false;
        g_export.watchdogFired = false;
        g_run.ExportDone = false;
        window.StartTimer(kExportWatchdogTimer, TimerPeriodMs(kExportWatchdogTimer));
        const std::uint64_t handOver = g_export.handedOver.load();
        WriteRecord(window, excel);
        g_export.exported = handOver;
        // The texts of the record just written survive a restart.
        SaveTextsSoon(window);
    } while (g_export.queued.load());

    g_run.ExportDone = true;
    window.StopTimer(kExportWatchdogTimer);
    g_export.running = false;
    // After the watchdog the acquisition has run on: RecordReady and the pause
    // are no longer this record's, and clearing them would lose a newer record.
    if (!g_export.watchdogFired) ReleaseAcquisition(window);
    if (g_export.afterExport) std::exchange(g_export.afterExport, nullptr)();
}

void OnExportWatchdog(WindowPort& window) {
    window.StopTimer(kExportWatchdogTimer);
    // A tick left over from an export that has already finished changes nothing.
    if (!g_export.running) return;
    g_export.watchdogFired = true;
    ReleaseAcquisition(window);
}

void OnSendTimer(WindowPort& window) {
    window.StopTimer(kSendTimer);
    g_run.TimerTrigger = TriggerStage::Pending;
}

void OnIdTimer(WindowPort&) {
    g_run.IdReadRequest = true;
}

void ClearSlotResult(int s) {
    g_run.ValueReady[s] = false;
    g_run.ValueError[s] = false;
    g_run.Value[s] = 0.0;
}

void OnMarposs(WindowPort& window) {
    window.StopTimer(kMarpossTimer);
    const int s = g_marposs.Slot;
    int result = -1;
    if (s >= 1 && s <= kMaxSlots) {
        MarpossValueRead* library = g_marposs.Library.load();
        if (g_marposs.Requested == 0) {
            ClearSlotResult(s);
            result = -1;
        } else if (library == nullptr) {
            ClearSlotResult(s);
            result = -4;
        } else {
            const double v = library->ReadValue(g_run.Channel[s]);
            g_run.SlotState[s] = SlotStage::Read;
            g_run.ValueReady[s] = true;
            g_run.Value[s] = v * g_run.Factor[s].load() + g_run.Offset[s].load();
            result = 1;
        }
    }
    // Last: the waiting dispatch takes any result but 0 as the answer.
    g_marposs.Result = result;
}

void OnTextSaveTimer(WindowPort& window) {
    window.StopTimer(kTextSaveTimer);
    FlushTexts();
}

struct TimerHandler {
    int id;
    void (*handle)(WindowPort&, exports::ExcelLink*);
};

// Only the export writes into the workbook.
template <void (*Handle)(WindowPort&)>
void WithoutWorkbook(WindowPort& window, exports::ExcelLink*) {
    Handle(window);
}

constexpr TimerHandler kHandlers[] = {
    {kExportTimer, &OnExport},
    {kExportWatchdogTimer, &WithoutWorkbook<&OnExportWatchdog>},
    {kSendTimer, &WithoutWorkbook<&OnSendTimer>},
    {kIdTimer, &WithoutWorkbook<&OnIdTimer>},
    {kMarpossTimer, &WithoutWorkbook<&OnMarposs>},
    {kTextSaveTimer, &WithoutWorkbook<&OnTextSaveTimer>},
};

}  // namespace

int TimerPeriodMs(int id) {
    for (const TimerInfo& t : kTimerTable) {
        if (t.id == id) return t.periodMs;
    }
    return -1;
}

int SendTimerMs(double periodSeconds) {
    const double ms = periodSeconds * 1000.0;
    if (!(ms > 0.0)) return 0;
    if (ms >= static_cast<double>(std::numeric_limits<int>::max())) {
        return std::numeric_limits<int>::max();
    }
    return static_cast<int>(ms);
}

void OnTimerEvent(int id, WindowPort& window, exports::ExcelLink* excel) {
    for (const TimerHandler& h : kHandlers) {
        if (h.id == id) {
            h.handle(window, excel);
            return;
        }
    }
}

void SetRecordExporter(RecordExporter exporter) {
    g_exporter.store(exporter);
}

bool ExportInProgress() {
    return g_export.running.load();
}

std::uint64_t NextHandOver() {
    return ++g_export.handedOver;
}

bool HandOverExported(std::uint64_t handOver) {
    return g_export.exported.load() >= handOver;
}

void RunAfterExport(std::function<void()> work) {
    if (!g_export.running) {
        work();
        return;
    }
    g_export.afterExport = std::move(work);
}

void ResetExportState() {
    g_export.handedOver = 0;
    g_export.exported = 0;
    g_export.afterExport = nullptr;
}

}  // namespace karvelo::app
