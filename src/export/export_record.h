#pragma once
// Records on their way from the journal to their export target. The
// acquisition thread queues each record once the journal has it; the export
// timer writes every queued record, in order, on the user-interface thread,
// and marks it in the journal once its file holds it. At start, records the
// journal has but their files do not (a crash between the two) are written.

#include <cstddef>

#include "export/record.h"
#include "state/window_port.h"

namespace karvelo::exports {

class ExcelLink;

// Hands a journaled record to its target (any thread).
void QueueRecordForExport(Record record);

// How many records wait for their target (any thread).
std::size_t QueuedRecordCount();

// Writes every queued record, oldest first: 1 and 3 as the only line of a CSV
// file, 2 and 4 appended, 5 and 6 into workbook cells through `excel`
// (without one, such a record is reported as not written). A workbook record
// that cannot be written stays queued, ahead of the later ones, and is tried
// again with the next export; nothing is dropped. Failures are reported to the
// operator (window and standard error) and never stop the station.
void ExportRecord(WindowPort& window, ExcelLink* excel = nullptr);

// At start: every record the journal holds and its file does not. A CSV line
// that is in its file already (the station stopped between the file and the
// journal's mark) is only marked, never written twice; the others are
// written. Records for the current workbook are queued for its next export.
void CatchUpRecords(WindowPort& window);

// Forgets the queue (tests, a new station start in the same process).
void ForgetQueuedRecords();

}  // namespace karvelo::exports
