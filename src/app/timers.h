#pragma once
// The window timers that carry work onto the user-interface thread: the export
// of a handed-over workbook record, the send timer, the periodic ID read and
// the Marposs read. OnTimerEvent runs on the user-interface thread
// only; everything else here may be used from any thread.

#include <functional>

#include "state/control_ids.h"
#include "state/window_port.h"

namespace karvelo::exports {
class ExcelLink;
class RecordChannel;
}  // namespace karvelo::exports

namespace karvelo::app {

struct TimerInfo {
    int id;
    int periodMs;  // 0: the send timer, whose period comes from TimerPeriod
    bool periodic;
};

inline constexpr TimerInfo kTimerTable[] = {
    {kExportTimer, 1, false},   {kSendTimer, 0, false},        {kIdTimer, 2000, true},
    {kMarpossTimer, 10, false}, {kTextSaveTimer, 1000, false},
};

// The export's watchdog: the acquisition waits this long for its record's
// turn, then goes on, leaving a slow export to finish by itself.
inline constexpr int kExportWatchdogMs = 2000;

// The fixed period of a timer of the table; -1 for an unknown id.
int TimerPeriodMs(int id);

// The send timer's period in milliseconds for TimerPeriod seconds: cut to an
// integer, 0 for a non-positive period, at most the largest int.
int SendTimerMs(double periodSeconds);

// Where the export timer writes: the window lane of `records`, into the
// workbook through `excel` (export types 5 and 6).
struct ExportTargets {
    exports::RecordChannel* records = nullptr;
    exports::ExcelLink* excel = nullptr;
};

// Handles timer `id` of the main window (user-interface thread). Unknown ids
// are ignored.
//
// The export (timer 1) never runs nested: a hand-over that arrives while an
// export is still open (a message box of the workbook) is written as soon as
// the open one has returned.
void OnTimerEvent(int id, WindowPort& window, const ExportTargets& targets = {});

// Writes the window lane's records. By default exports::ExportRecord; tests
// and benchmarks may install their own (nullptr restores the default).
using RecordExporter = void (*)(const ExportTargets& targets, WindowPort& window);
void SetRecordExporter(RecordExporter exporter);

// True while timer 1's export runs (user-interface thread).
bool ExportInProgress();

// Runs `work` on the user-interface thread once no export is open: at once, or
// right after the open export has returned (the end of the station must not
// cut a record's export short).
void RunAfterExport(std::function<void()> work);

// Forgets any work left waiting for an export. For a new station start in the
// same process (tests).
void ResetExportState();

}  // namespace karvelo::app
