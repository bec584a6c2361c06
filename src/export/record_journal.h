#pragma once
// The station's record journal (export/journal.h): records.sqlite in the
// configuration folder, written by the acquisition thread the moment a record
// is complete, whatever the export type. A journal that cannot be written is
// reported like a file that cannot be, and the station measures on.

#include <string>
#include <vector>

#include "export/journal.h"

namespace karvelo::exports {

// ConfigDir followed by "records.sqlite"; empty while no configuration folder
// is known.
std::string JournalFilePath();

// The current record as the journal keeps it: the stamp and texts of g_run
// and the slots in use.
JournalRecord CurrentJournalRecord();

// Stamps the completed record (StampCompletedRecord) and commits it to the
// journal, which is opened (again) as needed. A failure is kept for
// JournalProblem and told on standard error when it begins and when it ends.
// Returns whether the record is in the journal (true without a configuration
// folder, where there is no journal to keep).
bool JournalCompletedRecord();

// Why the newest record is not in the journal; empty when it is.
std::wstring JournalProblem();

// Closes the journal; the next record opens it again (tests).
void CloseJournal();

// A journal record as the CSV line the "*.csv multi" export wrote for it.
std::string JournalCsvLine(const JournalRecord& record);

}  // namespace karvelo::exports
