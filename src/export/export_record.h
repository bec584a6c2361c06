#pragma once
// The export of one completed record to the target chosen by ExportType, as
// the export timer runs it on the user-interface thread.

#include "state/window_port.h"

namespace karvelo::exports {

class ExcelLink;

// 1 and 3: the CSV file holds only this record; 2 and 4: the record is appended;
// 5 and 6: workbook cells through `excel` (without one, such a record is
// reported as not written); 0: nothing. Failures are reported to the operator
// (window and standard error) and never stop the station.
void ExportRecord(WindowPort& window, ExcelLink* excel = nullptr);

}  // namespace karvelo::exports
