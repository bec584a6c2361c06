#pragma once
// The window timers that carry work onto the user-interface thread: the export
// of a handed-over record and its watchdog, the send timer, the periodic ID
// read and the Marposs read. OnTimerEvent runs on the user-interface thread
// only; everything else here may be used from any thread.

#include <atomic>
#include <cstdint>
#include <functional>

#include "state/control_ids.h"
#include "state/window_port.h"

namespace karvelo::exports {
class ExcelLink;
}

namespace karvelo::app {

struct TimerInfo {
    int id;
    int periodMs;  // 0: the send timer, whose period comes from TimerPeriod
    bool periodic;
};

inline constexpr TimerInfo kTimerTable[] = {
    {kExportTimer, 1, false}, {kExportWatchdogTimer, 2000, false}, {kSendTimer, 0, false},
    {kIdTimer, 2000, true},   {kMarpossTimer, 10, false},          {kTextSaveTimer, 1000, false},
};

// The fixed period of a timer of the table; -1 for an unknown id.
int TimerPeriodMs(int id);

// The send timer's period in milliseconds for TimerPeriod seconds: cut to an
// integer, 0 for a non-positive period, at most the largest int.
int SendTimerMs(double periodSeconds);

// Handles timer `id` of the main window (user-interface thread). Unknown ids
// are ignored.
//
// The export (timer 1) never runs nested: a hand-over that arrives while an
// export is still open (the watchdog has let the acquisition run on) is queued
// and exported as soon as the open one has returned.
// `excel` is the window's workbook link, for export types 5 and 6.
void OnTimerEvent(int id, WindowPort& window, exports::ExcelLink* excel = nullptr);

// Writes the handed-over record. By default exports::ExportRecord; tests and
// benchmarks may install their own (nullptr restores the default), which then
// has no workbook link.
using RecordExporter = void (*)(WindowPort& window);
void SetRecordExporter(RecordExporter exporter);

// True while timer 1's export runs (user-interface thread).
bool ExportInProgress();

// Hand-overs are numbered, so that the end of a late export is never taken
// for a newer record's: the acquisition thread takes the next number when it
// hands a record over and waits until an export has written it.
std::uint64_t NextHandOver();
bool HandOverExported(std::uint64_t handOver);

// Runs `work` on the user-interface thread once no export is open: at once, or
// right after the open export has returned (the end of the station must not
// cut a record's export short).
void RunAfterExport(std::function<void()> work);

// Forgets the hand-over numbers and any work left waiting for an export. For a
// new station start in the same process (tests).
void ResetExportState();

}  // namespace karvelo::app
