#pragma once
// The station's record journal (export/journal.h): records.sqlite in the
// configuration folder, the write-ahead log of every record. The acquisition
// thread commits a record here the moment it is complete, whatever the export
// type, before any target sees it; each target then marks the record once its
// file holds it, and at start catches up on what is not marked.
//
// The journal never loses a record: one that cannot be committed (disk full,
// the journal locked or read-only) is kept in memory and in the spool file
// "records.sqlite.pending" beside it, and committed, in order, before the next
// record once the journal can be written again. A journal that SQLite finds
// damaged is moved aside as "records.sqlite.corrupt-<time>", what can still
// be read of it goes into a new one, and the operator is told.

#include <string>
#include <vector>

#include "export/journal.h"
#include "export/record.h"

namespace karvelo::exports {

// ConfigDir followed by "records.sqlite"; empty while no configuration folder
// is known.
std::string JournalFilePath();

// Commits the record, after any kept earlier. A failure is kept for
// JournalProblem and told on standard error when it begins and when it ends.
// Returns whether the record is in the journal (true without a configuration
// folder, where there is no journal to keep).
bool CommitRecord(const Record& record);

// A record taken while there was no export type goes to `record.target` now.
void AssignRecordTarget(const Record& record);

// The record's export file holds it.
void MarkRecordWritten(const std::string& id);

// Every record whose export file does not hold it yet, oldest first: the
// journal's and those kept while it could not be written.
std::vector<Record> UnwrittenRecords();

// Why records are not in the journal, or what happened to a damaged one;
// empty when all is well.
std::wstring JournalProblem();

// Closes the journal and forgets what was kept in memory; the next record
// opens it again and reads the spool (tests, as a restart would).
void CloseJournal();

// A journal record as the CSV line the "*.csv multi" export wrote for it.
std::string JournalCsvLine(const JournalRecord& record);

}  // namespace karvelo::exports
