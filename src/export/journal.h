#pragma once
// The record journal: every record the station completes, committed to an
// SQLite database (records.sqlite in the configuration folder), one
// transaction per record so that neither a crash nor a power cut leaves half a
// record behind. Texts are stored as UTF-8.
//
//   records(id TEXT PRIMARY KEY, station TEXT, config_set INTEGER, utc TEXT,
//           local_date TEXT, local_time TEXT, id_text TEXT, sent INTEGER DEFAULT 0,
//           export_type INTEGER, target TEXT, written INTEGER, payload TEXT)
//   slots(record_id TEXT REFERENCES records(id), slot INTEGER, type_name TEXT,
//         title TEXT, value REAL, text TEXT, status TEXT,
//         PRIMARY KEY(record_id, slot))
//
// Each target keeps its own mark: `sent` is 1 once the plant server has
// committed the record (forwarder.h), `written` once the export file (CSV or
// workbook `target`, of `export_type`) holds it. `payload` is the whole record
// (export/record.h), so that a target can write it again after a crash.
// Journals from before these columns get them when opened; their records
// count as written.

#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace karvelo::exports {

struct JournalSlot {
    int slot = 0;                 // 1..10
    std::string typeName;         // the device type's display name
    std::string title;            // the slot's title
    std::optional<double> value;  // none when the reading failed or the slot holds a text
    std::string text;             // the slot's field as the CSV line carries it
    std::string status;           // the status word shown with the reading
};

struct JournalRecord {
    std::string id;                  // a UUID, unique across stations
    std::string station;             // the station's name
    int configSet = 0;               // the configuration set the record was taken with
    std::string utc;                 // "2026-12-09T07:05:03Z"
    std::string localDate;           // "09.12.2026", as the CSV line has it
    std::string localTime;           // "08:05:03"
    std::string idText;              // the record's ID
    std::vector<JournalSlot> slots;  // the slots in use, in slot order
    int exportType = 0;              // the export type it was taken with
    std::string target;              // its export file; empty: none
    bool written = true;             // the export file holds it (or it has none)
    std::string payload;             // the encoded record
};

// A time-ordered (version 7) UUID in its usual text form: 48 bits of Unix
// milliseconds, then random bits from the kernel's source. Ids taken later
// sort later, so the journal's index grows at its end.
std::string NewRecordId();

// "YYYY-MM-DDTHH:MM:SSZ" for a moment.
std::string UtcText(std::time_t when);

class Statement;

class RecordJournal {
  public:
    enum class Access {
        Writer,  // the station's own connection: creates the journal, checkpoints it
        Helper,  // another connection of the station (the forwarder): never checkpoints
        Reader,  // reading back (--history): never creates, writes nor checkpoints
    };
    // Opens the journal at `path`, creating the file and its tables when
    // missing (Writer, Helper). Only the writer checkpoints the write-ahead
    // log when it closes, so that no other connection ever removes the log
    // while the station writes into it. Null with `problem` set when it
    // cannot; `corrupt` then tells whether SQLite found the file damaged or
    // not a database.
    static std::unique_ptr<RecordJournal> Open(const std::string& path, Access access,
                                               std::string& problem, bool* corrupt = nullptr);
    static std::unique_ptr<RecordJournal> Open(const std::string& path, bool readOnly,
                                               std::string& problem) {
        return Open(path, readOnly ? Access::Reader : Access::Helper, problem);
    }
    ~RecordJournal();
    RecordJournal(const RecordJournal&) = delete;
    RecordJournal& operator=(const RecordJournal&) = delete;

    // Commits the record and its slots in one transaction; on failure nothing
    // of it is kept and `problem` says why.
    bool Append(const JournalRecord& record, std::string& problem);
    // Commits several records in one transaction (records kept while the
    // journal could not be written); all or none.
    bool AppendAll(const std::vector<JournalRecord>& records, std::string& problem);
    // Whether the last failure was SQLite finding the file damaged.
    bool LastFailureCorrupt() const;

    // Up to `limit` records whose export file does not hold them yet, oldest
    // first, with their payload.
    bool Unwritten(int limit, std::vector<JournalRecord>& records, std::string& problem);
    // Marks records as held by their export file.
    bool MarkWritten(const std::vector<std::string>& ids, std::string& problem);
    // Gives a record taken without an export type the file it goes to now.
    bool AssignTarget(const std::string& id, int exportType, const std::string& target,
                      const std::string& payload, std::string& problem);

    // The forwarder's connection: its commits only mark records as sent, so
    // they skip the sync to the disk. A mark lost in a power cut only sends
    // the record again, which the server ignores.
    bool UseLightCommits(std::string& problem);
    // Back to commits that sync to the disk before they return.
    bool UseFullCommits(std::string& problem);

    // Up to `limit` records the server has not committed yet, oldest first.
    bool Unsent(int limit, std::vector<JournalRecord>& records, std::string& problem);
    // How many records the server has not committed yet.
    bool CountUnsent(long long& count, std::string& problem);
    // Marks the records as committed by the server, all in one transaction.
    bool MarkSent(const std::vector<JournalRecord>& records, std::string& problem);

    // The records whose UTC date (YYYY-MM-DD) lies from `fromDate` to `toDate`,
    // both included (an empty bound is open), in the order they were taken.
    bool Read(std::string_view fromDate, std::string_view toDate,
              std::vector<JournalRecord>& records, std::string& problem);

    // Deletes, with their slots, up to `batch` of the oldest records taken
    // before `beforeUtc` (as `utc` has it) that every target is done with:
    // written, and sent as well when `needSent`. The records are chosen
    // without a lock and deleted in one short transaction, so the station's
    // own writes wait for a batch at most. `deleted` tells how many went;
    // fewer than `batch` when no more were due.
    bool DeleteDone(std::string_view beforeUtc, bool needSent, int batch, int& deleted,
                    std::string& problem);

  private:
    explicit RecordJournal(sqlite3* db);
    bool AppendOne(const JournalRecord& record);
    // Runs `update` (one id parameter) for every id, in one transaction.
    bool SetMark(const char* update, const std::vector<std::string>& ids, std::string& problem);
    // Up to `limit` records matching `condition` (SQL, ours only), oldest first.
    bool ReadOldestWhere(const char* condition, int limit, std::vector<JournalRecord>& records,
                         std::string& problem);
    // Reads the records a prepared head query (id .. id_text) returns, with their slots.
    bool ReadRecords(Statement& head, std::vector<JournalRecord>& records, std::string& problem);
    sqlite3* db_;
    // The inserts of every record, prepared once.
    std::unique_ptr<Statement> insertHead_;
    std::unique_ptr<Statement> insertSlot_;
    int lastCode_ = 0;  // SQLite's code of the last failed append
};

// Whether an SQLite result code means a damaged file or one that is no database.
bool IsCorruptionCode(int code);

}  // namespace karvelo::exports
