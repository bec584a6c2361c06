#include "app/timers.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>

#include "app/configuration.h"
#include "export/export_record.h"
#include "export/record_channel.h"
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
    std::atomic<bool> running{false};   // timer 1's export is open
    std::atomic<bool> queued{false};    // a further hand-over came while it was open
    std::function<void()> afterExport;  // user-interface thread only
};
ExportState g_export;

void WriteRecords(WindowPort& window, const ExportTargets& targets) {
    RecordExporter exporter = g_exporter.load();
    if (exporter != nullptr) {
        exporter(targets, window);
    } else if (targets.records != nullptr) {
        exports::ExportRecord(*targets.records, window, targets.excel);
    }
}

void OnExport(WindowPort& window, const ExportTargets& targets) {
    window.StopTimer(kExportTimer);
    // A hand-over while an export is open (its message box dispatches the
    // window's events): the open export writes it when it returns, never nested.
    if (g_export.running.exchange(true)) {
        g_export.queued = true;
        if (targets.records != nullptr) {
            exports::ReportRecordsWaiting(window,
                                          targets.records->Queued(exports::RecordLane::Window));
        }
        return;
    }
    do {
        g_export.queued = false;
        WriteRecords(window, targets);
    } while (g_export.queued.load());
    g_export.running = false;
    if (g_export.afterExport) std::exchange(g_export.afterExport, nullptr)();
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
    void (*handle)(WindowPort&, const ExportTargets&);
};

// Only the export writes records.
template <void (*Handle)(WindowPort&)>
void WithoutWorkbook(WindowPort& window, const ExportTargets&) {
    Handle(window);
}

constexpr TimerHandler kHandlers[] = {
    {kExportTimer, &OnExport},
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

void OnTimerEvent(int id, WindowPort& window, const ExportTargets& targets) {
    for (const TimerHandler& h : kHandlers) {
        if (h.id == id) {
            h.handle(window, targets);
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

void RunAfterExport(std::function<void()> work) {
    if (!g_export.running) {
        work();
        return;
    }
    g_export.afterExport = std::move(work);
}

void ResetExportState() {
    g_export.afterExport = nullptr;
}

}  // namespace karvelo::app
