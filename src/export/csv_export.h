#pragma once
// The CSV export: the record line and the two writers (a file that holds only
// the newest record, and a file that collects every record), which write a
// Record as it was taken. Runs on the user-interface thread.

#include <string>
#include <string_view>

#include "export/record.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::exports {

// Waits until a file's data is on the disk; 0 or -1 with errno, as fdatasync().
using DataSync = int (*)(int fd);

// Replaces the sync the writers call after each record (tests); nullptr
// restores fdatasync().
void SetDataSync(DataSync sync);

// The name of an ID-named file: the ID text (at most 254 characters) and ".csv",
// or "ID.csv" for an empty ID, with every character other than an ASCII letter,
// digit, '-' or '.' replaced by '_'.
std::wstring IdFileName(std::wstring_view idText);

// A CSV line of the same form from its texts: the ID, date, time and the ten
// slot fields.
std::string CsvLine(std::wstring_view id, std::wstring_view date, std::wstring_view time,
                    const std::wstring (&slots)[kMaxSlots]);

// The file that records of the current export type go to, as a full path:
// ExportPath followed by CsvFileName (types 1, 2), by the file name shown in
// `fileNameField` (types 3, 4: its last part only, at most 254 characters, as
// the folder is always ExportPath) or by XlsFileName (types 5, 6). A relative
// path is taken from the configuration folder, never from the folder the
// station was started in. Empty when the type writes no file or no file name
// has been chosen.
std::wstring ExportFilePath(std::wstring_view fileNameField);

// The export folder as a full path: ExportPath, taken from the configuration
// folder when it is relative or empty.
std::wstring ExportFolder();

// ExportFilePath of the CSV types, with the window's file-name field; empty for
// the other types.
std::wstring CsvTargetPath(WindowPort& window);

// Writes the record as the only line of its file (types 1, 3), synced to the
// disk before it returns. A record that cannot be written (no file chosen
// included) is reported and not kept: only the newest record counts in such a
// file. Returns whether the line was written.
bool WriteCsvSingle(const Record& record, WindowPort& window);

// Appends the record to its file (types 2, 4), after the lines still waiting
// for that file, in one write, synced to the disk before it returns. A record
// that cannot be written is reported and kept (also across a restart) until
// the file can be written; without a file name (type 2) it is kept for the
// file the operator chooses next. Returns whether the record is safe: in the
// file, or kept in a spool file that survives a restart.
bool WriteCsvMulti(const Record& record, WindowPort& window);

// Whether the file `path` ends with `lines`, a run of whole CSV lines.
bool FileEndsWith(const std::string& path, std::string_view lines);

// The last `bytes` bytes of the file `path` (all of a shorter one; empty when
// it cannot be read).
std::string FileTail(const std::string& path, std::size_t bytes);

// Tries again to write the lines waiting for any file and shows the operator
// what still waits (an empty text when nothing does). The writers do this after
// every record.
void RetryPendingRecords(WindowPort& window);

// Whether the lines waiting for the file `target` hold `line`.
bool LineKeptFor(const std::string& target, const std::string& line);

// After the operator has chosen an export target: lines kept while
// "*.csv multi" had no file name go into the file it names now, every waiting
// file is tried again, and the window shows what still waits.
void ExportTargetChosen(WindowPort& window);

// RetryPendingRecords, and for each file still waiting a line on standard
// error that names the spool file holding its lines: what the station does at
// start, so that lines kept by an earlier run never wait unseen.
void ReportPendingRecords(WindowPort& window);

// Tells the operator, in the window and on standard error, that the current
// record is not written and why (an export that writes no file), then retries
// and shows the lines still waiting for a file as the writers do.
void ReportRecordNotWritten(WindowPort& window, std::wstring_view why);

}  // namespace karvelo::exports
