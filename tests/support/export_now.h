#pragma once
// The export of "the record of this moment", as a test wants it: the record
// taken from the run-time state now, queued as the acquisition thread queues
// it, and written by the export as the export timer runs it.

#include "export/export_record.h"
#include "export/journal.h"
#include "export/record.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::testing {

inline exports::Record RecordNow() {
    return exports::CaptureRecord(g_run, exports::StampNow(), exports::NewRecordId());
}

inline void ExportNow(WindowPort& window, exports::ExcelLink* excel = nullptr) {
    exports::QueueRecordForExport(RecordNow());
    exports::ExportRecord(window, excel);
}

}  // namespace karvelo::testing
