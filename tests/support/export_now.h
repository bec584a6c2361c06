#pragma once
// The export of "the record of this moment", as a test wants it: the record
// taken from the run-time state now, handed over as the acquisition thread
// hands it, and written on this thread by its lane's writer.

#include <utility>

#include "export/export_record.h"
#include "export/journal.h"
#include "export/record.h"
#include "export/record_channel.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::testing {

inline exports::Record RecordNow() {
    return exports::CaptureRecord(g_run, exports::StampNow(), exports::NewRecordId());
}

inline void ExportNow(WindowPort& window, exports::ExcelLink* excel = nullptr) {
    exports::RecordChannel channel;
    exports::Record record = RecordNow();
    const exports::RecordLane lane = exports::LaneOf(record.exportType);
    channel.Hand(std::move(record));
    if (lane == exports::RecordLane::Files) {
        exports::WriteFileRecords(channel.Take(lane), channel, window);
    } else {
        exports::ExportRecord(channel, window, excel);
    }
}

}  // namespace karvelo::testing
