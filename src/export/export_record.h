#pragma once
// Records on their way from the journal to their export target. The
// acquisition thread hands each record to the record channel once the journal
// has it; the files lane is written by the file writer's thread, the window
// lane (the workbook) by the export timer on the user-interface thread. Each
// record is marked in the journal once its file holds it. At start, records
// the journal has but their files do not (a crash between the two) are
// written.

#include <cstddef>

#include "export/record.h"
#include "export/record_channel.h"
#include "state/window_port.h"

namespace karvelo::exports {

class ExcelLink;

// Writes the records of the files lane, oldest first: 1 and 3 as the only
// line of a CSV file, 2 and 4 appended. Each is settled in `channel` once
// it has had its turn. Failures are reported to the operator (window and
// standard error) and never stop the station. Any thread.
void WriteFileRecords(std::deque<HandedRecord> records, RecordChannel& channel, WindowPort& window);

// Writes every record queued in the window lane, oldest first, into workbook
// cells through `excel` (without one, such a record is reported as not
// written). A record that cannot be written stays queued, ahead of the later
// ones, and is tried again with the next export; nothing is dropped.
// User-interface thread.
void ExportRecord(RecordChannel& channel, WindowPort& window, ExcelLink* excel = nullptr);

// Tells the operator (window and standard error) that `count` records wait
// behind an export that is still open.
void ReportRecordsWaiting(WindowPort& window, std::size_t count);

// At start: every record the journal holds and its file does not. A CSV line
// that is in its file already (the station stopped between the file and the
// journal's mark) is only marked, never written twice; the others are
// written. Records for the current workbook are handed to `channel` for the
// workbook's next export.
void CatchUpRecords(RecordChannel& channel, WindowPort& window);

}  // namespace karvelo::exports
