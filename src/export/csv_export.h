#pragma once
// The CSV export: the record's timestamp, the record line and the two writers
// (a file that holds only the newest record, and a file that collects every
// record). Runs on the user-interface thread while the acquisition waits.

#include <ctime>
#include <string>
#include <string_view>

#include "state/window_port.h"

namespace karvelo::exports {

// The local time now; false when it cannot be determined.
using LocalClock = bool (*)(std::tm& local);

// time() and localtime_r().
bool SystemLocalTime(std::tm& local);

// Replaces the clock StampRecordTime reads (tests); nullptr restores the system clock.
void SetLocalClock(LocalClock clock);

// Sets RecordDate ("09.12.2026") and RecordTime ("08:05:03") from one reading of
// the clock, so date and time always belong to the same second. Without a local
// time both are empty and the record is still written.
void StampRecordTime();

// The name of an ID-named file: the ID text (at most 254 characters) and ".csv",
// or "ID.csv" for an empty ID, with every character other than an ASCII letter,
// digit, '-' or '.' replaced by '_'.
std::wstring IdFileName(std::wstring_view idText);

// The current record as it goes into the file: ID;date;time;slot 1;...;slot 10;
// then CR LF, in ISO 8859-1 ('?' for other characters). Nothing is quoted; a ';'
// inside a text is written as it is. Line ends inside a text (the end of a list
// file's line taken with its last field) are left out, so a record stays on one
// line.
std::string CsvRecordLine();

// The file of the CSV export types: ExportPath followed by CsvFileName (types 1
// and 2) or by the text of the window's file-name field (types 3 and 4, at most
// 254 characters). Empty for the other types.
std::wstring CsvTargetPath(WindowPort& window);

// Stamps the record and writes it as the only line of its file (types 1, 3).
// A record that cannot be written is reported and not kept: only the newest
// record counts in such a file. Returns whether the line was written.
bool WriteCsvSingle(WindowPort& window);

// Stamps the record and appends it to its file (types 2, 4), after the lines
// still waiting for that file, in one write. A record that cannot be written is
// reported and kept (also across a restart) until the file can be written.
// Returns whether the line was written.
bool WriteCsvMulti(WindowPort& window);

// Tries again to write the lines waiting for any file and shows the operator
// what still waits (an empty text when nothing does). The writers do this after
// every record; the station may also call it at start.
void RetryPendingRecords(WindowPort& window);

}  // namespace karvelo::exports
