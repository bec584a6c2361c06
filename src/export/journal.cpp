#include "export/journal.h"

#include <sqlite3.h>
#include <sys/random.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>

namespace karvelo::exports {
namespace {

// A busy journal (a reader holding it, say `--history`) is waited for this
// long at most: measuring must not stall behind it.
constexpr int kBusyTimeoutMs = 200;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS records("
    " id TEXT PRIMARY KEY, station TEXT, config_set INTEGER, utc TEXT,"
    " local_date TEXT, local_time TEXT, id_text TEXT, sent INTEGER DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS slots("
    " record_id TEXT REFERENCES records(id), slot INTEGER, type_name TEXT,"
    " title TEXT, value REAL, text TEXT, status TEXT,"
    " PRIMARY KEY(record_id, slot));"
    // Finds what the forwarder has still to send without reading the whole journal.
    "CREATE INDEX IF NOT EXISTS records_unsent ON records(sent) WHERE sent = 0;";

// The export file's columns, added to journals that were made without them.
struct AddedColumn {
    const char* name;
    const char* sql;
};
constexpr AddedColumn kAddedColumns[] = {
    {"export_type", "ALTER TABLE records ADD COLUMN export_type INTEGER DEFAULT 0"},
    {"target", "ALTER TABLE records ADD COLUMN target TEXT DEFAULT ''"},
    // Records from before the column were exported the old way: done.
    {"written", "ALTER TABLE records ADD COLUMN written INTEGER DEFAULT 1"},
    {"payload", "ALTER TABLE records ADD COLUMN payload TEXT"},
};
constexpr const char* kUnwrittenIndex =
    "CREATE INDEX IF NOT EXISTS records_unwritten ON records(written) WHERE written = 0";

constexpr const char* kHeadColumns =
    "id, station, config_set, utc, local_date, local_time, id_text, export_type, target,"
    " written, payload";

std::string Message(sqlite3* db) {
    return db != nullptr ? sqlite3_errmsg(db) : "out of memory";
}

bool Exec(sqlite3* db, const char* sql, std::string& problem) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    problem = Message(db);
    return false;
}

bool RandomBytes(std::uint8_t* data, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::getrandom(data + got, size - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

// A prepared statement, finalized with its scope.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }

    void Text(int index, std::string_view text) {
        // An empty view may have no data at all, which SQLite would take for NULL.
        sqlite3_bind_text(stmt_, index, text.empty() ? "" : text.data(),
                          static_cast<int>(text.size()), SQLITE_TRANSIENT);
    }
    void Int(int index, int value) { sqlite3_bind_int(stmt_, index, value); }
    void Real(int index, const std::optional<double>& value) {
        if (value) {
            sqlite3_bind_double(stmt_, index, *value);
        } else {
            sqlite3_bind_null(stmt_, index);
        }
    }
    // Runs a statement that returns no rows, ready to run again.
    bool Run() {
        const int rc = sqlite3_step(stmt_);
        sqlite3_reset(stmt_);
        return rc == SQLITE_DONE;
    }
    std::string Column(int index) const {
        const unsigned char* text = sqlite3_column_text(stmt_, index);
        return text != nullptr ? reinterpret_cast<const char*>(text) : std::string();
    }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

std::string NewRecordId() {
    std::array<std::uint8_t, 16> b{};
    if (!RandomBytes(b.data(), b.size())) {
        // Without the kernel's source the id still has to be unique enough:
        // clock and address bits, never a fixed value.
        const auto t =
            static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        const auto a = reinterpret_cast<std::uintptr_t>(&b);
        for (std::size_t i = 0; i < 8; ++i) {
            b[i] = static_cast<std::uint8_t>(t >> (8 * i));
            b[i + 8] = static_cast<std::uint8_t>(a >> (8 * i));
        }
    }
    const auto ms =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count());
    for (std::size_t i = 0; i < 6; ++i) b[i] = static_cast<std::uint8_t>(ms >> (8 * (5 - i)));
    b[6] = static_cast<std::uint8_t>((b[6] & 0x0F) | 0x70);  // version 7
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 9562 variant
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id;
    id.reserve(36);
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) id.push_back('-');
        id.push_back(kHex[b[i] >> 4]);
        id.push_back(kHex[b[i] & 0x0F]);
    }
    return id;
}

std::string UtcText(std::time_t when) {
    std::tm t{};
    if (::gmtime_r(&when, &t) == nullptr) return {};
    std::string text;
    const auto digits = [&text](int value, int width) {
        std::string part;
        for (int i = 0; i < width; ++i, value /= 10)
            part.insert(part.begin(), char('0' + value % 10));
        text += part;
    };
    digits(t.tm_year + 1900, 4);
    text += '-';
    digits(t.tm_mon + 1, 2);
    text += '-';
    digits(t.tm_mday, 2);
    text += 'T';
    digits(t.tm_hour, 2);
    text += ':';
    digits(t.tm_min, 2);
    text += ':';
    digits(t.tm_sec, 2);
    text += 'Z';
    return text;
}

bool IsCorruptionCode(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

namespace {

// Gives journals made before the export file's columns those columns.
bool AddMissingColumns(sqlite3* db, std::string& problem) {
    Statement info(db, "PRAGMA table_info(records)");
    if (!info.ok()) {
        problem = Message(db);
        return false;
    }
    std::vector<std::string> have;
    int rc;
    while ((rc = sqlite3_step(info.get())) == SQLITE_ROW) have.push_back(info.Column(1));
    if (rc != SQLITE_DONE) {
        problem = Message(db);
        return false;
    }
    for (const AddedColumn& column : kAddedColumns) {
        if (std::find(have.begin(), have.end(), column.name) != have.end()) continue;
        if (!Exec(db, column.sql, problem)) return false;
    }
    return Exec(db, kUnwrittenIndex, problem);
}

}  // namespace

std::unique_ptr<RecordJournal> RecordJournal::Open(const std::string& path, Access access,
                                                   std::string& problem, bool* corrupt) {
    if (corrupt != nullptr) *corrupt = false;
    const bool reader = access == Access::Reader;
    sqlite3* db = nullptr;
    // A reader opens the journal for writing too where it may, without
    // creating it: the write-ahead log a killed station left behind is only
    // recovered by a connection that can write.
    const int flags = SQLITE_OPEN_READWRITE | (reader ? 0 : SQLITE_OPEN_CREATE);
    int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK && reader) {
        sqlite3_close(db);
        db = nullptr;
        rc =
            sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    }
    const auto failed = [&]() -> std::unique_ptr<RecordJournal> {
        problem = Message(db);
        if (corrupt != nullptr && db != nullptr) {
            *corrupt = IsCorruptionCode(sqlite3_extended_errcode(db));
        }
        return nullptr;
    };
    if (rc != SQLITE_OK) {
        auto none = failed();
        sqlite3_close(db);
        return none;
    }
    std::unique_ptr<RecordJournal> journal(new RecordJournal(db));
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (access != Access::Writer) {
        // Closing the last connection would checkpoint the write-ahead log
        // and delete it. Another connection may only take itself for the
        // last one (its locks were lost), and the station would go on
        // writing into a log nobody reads: only the writer ever does this.
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    }
    if (reader) {
        // A file that is not a journal is told now, not at the first query.
        if (!Exec(db, "SELECT count(*) FROM records", problem)) return failed();
        return journal;
    }
    // WAL with a full sync: a committed record is on the disk before Append
    // returns, so a power cut right after it cannot take it away.
    if (!Exec(db, "PRAGMA journal_mode=WAL", problem) ||
        !Exec(db, "PRAGMA synchronous=FULL", problem) || !Exec(db, kSchema, problem) ||
        !AddMissingColumns(db, problem)) {
        return failed();
    }
    return journal;
}

RecordJournal::RecordJournal(sqlite3* db) : db_(db) {}

bool RecordJournal::LastFailureCorrupt() const {
    return IsCorruptionCode(lastCode_);
}

RecordJournal::~RecordJournal() {
    insertHead_.reset();
    insertSlot_.reset();
    sqlite3_close(db_);
}

bool RecordJournal::AppendOne(const JournalRecord& record) {
    if (insertHead_ == nullptr) {
        insertHead_ =
            std::make_unique<Statement>(db_,
                                        "INSERT OR IGNORE INTO records(id, station, config_set, "
                                        "utc, local_date, local_time, id_text,"
                                        " export_type, target, written, payload)"
                                        " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)");
        insertSlot_ = std::make_unique<Statement>(
            db_,
            "INSERT OR IGNORE INTO slots(record_id, slot, type_name, title, value, text,"
            " status) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)");
    }
    Statement& head = *insertHead_;
    Statement& slot = *insertSlot_;
    if (!head.ok() || !slot.ok()) {
        insertHead_.reset();
        insertSlot_.reset();
        return false;
    }
    head.Text(1, record.id);
    head.Text(2, record.station);
    head.Int(3, record.configSet);
    head.Text(4, record.utc);
    head.Text(5, record.localDate);
    head.Text(6, record.localTime);
    head.Text(7, record.idText);
    head.Int(8, record.exportType);
    head.Text(9, record.target);
    head.Int(10, record.written ? 1 : 0);
    head.Text(11, record.payload);
    if (!head.Run()) return false;
    for (const JournalSlot& s : record.slots) {
        slot.Text(1, record.id);
        slot.Int(2, s.slot);
        slot.Text(3, s.typeName);
        slot.Text(4, s.title);
        slot.Real(5, s.value);
        slot.Text(6, s.text);
        slot.Text(7, s.status);
        if (!slot.Run()) return false;
    }
    return true;
}

bool RecordJournal::Append(const JournalRecord& record, std::string& problem) {
    return AppendAll({record}, problem);
}

bool RecordJournal::AppendAll(const std::vector<JournalRecord>& records, std::string& problem) {
    lastCode_ = SQLITE_OK;
    const auto fail = [&] {
        problem = Message(db_);
        // Kept before the rollback, which would answer for itself.
        lastCode_ = sqlite3_extended_errcode(db_);
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    };
    if (sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        return fail();
    }
    for (const JournalRecord& record : records) {
        if (!AppendOne(record)) return fail();
    }
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return fail();
    return true;
}

bool RecordJournal::Unwritten(int limit, std::vector<JournalRecord>& records,
                              std::string& problem) {
    return ReadOldestWhere("written = 0", limit, records, problem);
}

bool RecordJournal::ReadOldestWhere(const char* condition, int limit,
                                    std::vector<JournalRecord>& records, std::string& problem) {
    const std::string sql = std::string("SELECT ") + kHeadColumns + " FROM records WHERE " +
                            condition + " ORDER BY rowid LIMIT ?1";
    Statement head(db_, sql.c_str());
    if (!head.ok()) {
        problem = Message(db_);
        return false;
    }
    head.Int(1, limit);
    return ReadRecords(head, records, problem);
}

bool RecordJournal::MarkWritten(const std::vector<std::string>& ids, std::string& problem) {
    return SetMark("UPDATE records SET written = 1 WHERE id = ?1", ids, problem);
}

bool RecordJournal::SetMark(const char* update, const std::vector<std::string>& ids,
                            std::string& problem) {
    if (ids.empty()) return true;
    if (!Exec(db_, "BEGIN IMMEDIATE", problem)) return false;
    {
        Statement mark(db_, update);
        bool ok = mark.ok();
        for (std::size_t i = 0; ok && i < ids.size(); ++i) {
            mark.Text(1, ids[i]);
            ok = mark.Run();
        }
        if (!ok) {
            problem = Message(db_);
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return false;
        }
    }
    return Exec(db_, "COMMIT", problem);
}

bool RecordJournal::AssignTarget(const std::string& id, int exportType, const std::string& target,
                                 const std::string& payload, std::string& problem) {
    Statement update(db_,
                     "UPDATE records SET export_type = ?2, target = ?3, written = ?4,"
                     " payload = ?5 WHERE id = ?1");
    if (!update.ok()) {
        problem = Message(db_);
        return false;
    }
    update.Text(1, id);
    update.Int(2, exportType);
    update.Text(3, target);
    update.Int(4, target.empty() ? 1 : 0);
    update.Text(5, payload);
    if (!update.Run()) {
        problem = Message(db_);
        return false;
    }
    return true;
}

bool RecordJournal::Read(std::string_view fromDate, std::string_view toDate,
                         std::vector<JournalRecord>& records, std::string& problem) {
    const std::string sql = std::string("SELECT ") + kHeadColumns +
                            " FROM records WHERE (?1 = '' OR substr(utc, 1, 10) >= ?1)"
                            " AND (?2 = '' OR substr(utc, 1, 10) <= ?2) ORDER BY rowid";
    Statement head(db_, sql.c_str());
    if (!head.ok()) {
        problem = Message(db_);
        return false;
    }
    head.Text(1, fromDate);
    head.Text(2, toDate);
    return ReadRecords(head, records, problem);
}

bool RecordJournal::UseFullCommits(std::string& problem) {
    return Exec(db_, "PRAGMA synchronous=FULL", problem);
}

bool RecordJournal::UseLightCommits(std::string& problem) {
    return Exec(db_, "PRAGMA synchronous=NORMAL", problem);
}

bool RecordJournal::Unsent(int limit, std::vector<JournalRecord>& records, std::string& problem) {
    return ReadOldestWhere("sent = 0", limit, records, problem);
}

bool RecordJournal::CountUnsent(long long& count, std::string& problem) {
    Statement query(db_, "SELECT count(*) FROM records WHERE sent = 0");
    if (!query.ok() || sqlite3_step(query.get()) != SQLITE_ROW) {
        problem = Message(db_);
        return false;
    }
    count = sqlite3_column_int64(query.get(), 0);
    return true;
}

bool RecordJournal::MarkSent(const std::vector<JournalRecord>& records, std::string& problem) {
    std::vector<std::string> ids;
    ids.reserve(records.size());
    for (const JournalRecord& r : records) ids.push_back(r.id);
    return SetMark("UPDATE records SET sent = 1 WHERE id = ?1", ids, problem);
}

bool RecordJournal::ReadRecords(Statement& head, std::vector<JournalRecord>& records,
                                std::string& problem) {
    Statement slot(db_,
                   "SELECT slot, type_name, title, value, text, status FROM slots"
                   " WHERE record_id = ?1 ORDER BY slot");
    if (!slot.ok()) {
        problem = Message(db_);
        return false;
    }
    int rc;
    while ((rc = sqlite3_step(head.get())) == SQLITE_ROW) {
        JournalRecord r;
        r.id = head.Column(0);
        r.station = head.Column(1);
        r.configSet = sqlite3_column_int(head.get(), 2);
        r.utc = head.Column(3);
        r.localDate = head.Column(4);
        r.localTime = head.Column(5);
        r.idText = head.Column(6);
        r.exportType = sqlite3_column_int(head.get(), 7);
        r.target = head.Column(8);
        r.written = sqlite3_column_int(head.get(), 9) != 0;
        r.payload = head.Column(10);
        slot.Text(1, r.id);
        int src;
        while ((src = sqlite3_step(slot.get())) == SQLITE_ROW) {
            JournalSlot s;
            s.slot = sqlite3_column_int(slot.get(), 0);
            s.typeName = slot.Column(1);
            s.title = slot.Column(2);
            if (sqlite3_column_type(slot.get(), 3) != SQLITE_NULL) {
                s.value = sqlite3_column_double(slot.get(), 3);
            }
            s.text = slot.Column(4);
            s.status = slot.Column(5);
            r.slots.push_back(std::move(s));
        }
        sqlite3_reset(slot.get());
        if (src != SQLITE_DONE) {
            problem = Message(db_);
            return false;
        }
        records.push_back(std::move(r));
    }
    if (rc != SQLITE_DONE) {
        problem = Message(db_);
        return false;
    }
    return true;
}

bool RecordJournal::DeleteDone(std::string_view beforeUtc, bool needSent, int batch, int& deleted,
                               std::string& problem) {
    deleted = 0;
    // Chosen outside the transaction: in WAL mode this read holds no lock the
    // station's writer would wait for, however much of the journal it scans.
    std::vector<std::string> ids;
    {
        Statement due(db_,
                      "SELECT id FROM records WHERE utc < ?1 AND written = 1"
                      " AND (?2 = 0 OR sent = 1) ORDER BY rowid LIMIT ?3");
        if (!due.ok()) {
            problem = Message(db_);
            return false;
        }
        due.Text(1, beforeUtc);
        due.Int(2, needSent ? 1 : 0);
        due.Int(3, std::max(batch, 1));
        int rc;
        while ((rc = sqlite3_step(due.get())) == SQLITE_ROW) ids.push_back(due.Column(0));
        if (rc != SQLITE_DONE) {
            problem = Message(db_);
            return false;
        }
    }
    if (ids.empty()) return true;
    if (!Exec(db_, "BEGIN IMMEDIATE", problem)) return false;
    int gone = 0;
    {
        // Asked again under the lock: a record given an export file since
        // (AssignTarget) is no longer done and stays.
        Statement record(db_,
                         "DELETE FROM records WHERE id = ?1 AND utc < ?2 AND written = 1"
                         " AND (?3 = 0 OR sent = 1)");
        Statement slots(db_, "DELETE FROM slots WHERE record_id = ?1");
        bool ok = record.ok() && slots.ok();
        record.Text(2, beforeUtc);
        record.Int(3, needSent ? 1 : 0);
        for (std::size_t i = 0; ok && i < ids.size(); ++i) {
            record.Text(1, ids[i]);
            ok = record.Run();
            if (!ok || sqlite3_changes(db_) == 0) continue;
            slots.Text(1, ids[i]);
            ok = slots.Run();
            ++gone;
        }
        if (!ok) {
            problem = Message(db_);
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            return false;
        }
    }
    if (!Exec(db_, "COMMIT", problem)) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return false;
    }
    deleted = gone;
    return true;
}

}  // namespace karvelo::exports
