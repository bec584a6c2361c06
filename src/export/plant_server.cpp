#include "export/plant_server.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <iterator>
#include <string_view>
#include <utility>

namespace karvelo::exports {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS karvelo_records("
    " id uuid PRIMARY KEY, station text NOT NULL, config_set integer,"
    " taken_utc timestamptz NOT NULL, local_date text, local_time text, id_text text,"
    " received timestamptz NOT NULL DEFAULT now());"
    "CREATE TABLE IF NOT EXISTS karvelo_slots("
    " record_id uuid NOT NULL REFERENCES karvelo_records(id), slot smallint NOT NULL,"
    " type_name text, title text, value double precision, text text, status text,"
    " PRIMARY KEY(record_id, slot));"
    "CREATE INDEX IF NOT EXISTS karvelo_records_station_taken"
    " ON karvelo_records(station, taken_utc);";

// A plant network may lose a server without a word: these settle how long a
// dead connection can hold the forwarder. The connection string may say
// otherwise; what it says wins.
const char* const kDefaultKeys[] = {"connect_timeout",
                                    "keepalives_idle",
                                    "keepalives_interval",
                                    "keepalives_count",
                                    "tcp_user_timeout",
                                    "application_name",
                                    "dbname",
                                    nullptr};
const char* const kDefaultValues[] = {"10", "10", "5", "3", "30000", "karvelo", nullptr, nullptr};

constexpr int kRecordFields = 7;
constexpr int kSlotFields = 7;
constexpr std::size_t kMaxParameters = 65535;

// libpq's messages end in a newline and may run over several lines, the
// later ones indented hints: one line for the status band and the log.
std::string OneLine(const char* message) {
    std::string line;
    bool gap = false;
    for (const char* p = message; p != nullptr && *p != '\0'; ++p) {
        const char c = *p;
        if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
            gap = gap || c == '\n';
            if (!line.empty() && line.back() != ' ') line += ' ';
            continue;
        }
        if (gap && !line.empty()) {
            if (line.back() == ' ') line.pop_back();
            line += "; ";
        }
        gap = false;
        line += c;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line.empty() ? std::string("no answer from the server") : line;
}

// Locale-free, and exact: the shortest text that reads back as the same double.
std::string NumberText(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// "INSERT ... VALUES ($1::uuid, $2, ...), (...) ON CONFLICT DO NOTHING" for
// `rows` rows of the given casts.
std::string InsertSql(const char* head, const char* const* casts, int fields, std::size_t rows) {
    std::string sql = head;
    int n = 0;
    for (std::size_t r = 0; r < rows; ++r) {
        sql += r == 0 ? " VALUES (" : ", (";
        for (int f = 0; f < fields; ++f) {
            if (f > 0) sql += ", ";
            sql += '$' + std::to_string(++n) + casts[f];
        }
        sql += ')';
    }
    sql += " ON CONFLICT DO NOTHING";
    return sql;
}

void IgnoreNotice(void*, const char*) {}

}  // namespace

PlantServer::PlantServer(std::string connection)
    : connection_(std::move(connection)), name_(PlantServerName(connection_)) {}

PlantServer::~PlantServer() {
    Drop();
}

void PlantServer::Drop() {
    if (conn_ != nullptr) PQfinish(conn_);
    conn_ = nullptr;
}

bool PlantServer::Connect(std::string& problem) {
    if (conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK) return true;
    Drop();
    // A string libpq cannot parse is never handed to it: its message would
    // quote the text, password and all.
    if (std::string why = ConnectionStringProblem(connection_); !why.empty()) {
        problem = std::move(why);
        return false;
    }
    const char* values[std::size(kDefaultValues)];
    std::copy(std::begin(kDefaultValues), std::end(kDefaultValues), values);
    values[6] = connection_.c_str();  // dbname, expanded as a connection string
    conn_ = PQconnectdbParams(kDefaultKeys, values, 1);
    if (conn_ == nullptr) {
        problem = "out of memory";
        return false;
    }
    if (PQstatus(conn_) != CONNECTION_OK) {
        problem = OneLine(PQerrorMessage(conn_));
        Drop();
        return false;
    }
    // "relation already exists, skipping" and the like are not for the operator.
    PQsetNoticeProcessor(conn_, IgnoreNotice, nullptr);
    // On first contact with a server the tables are made. They are looked
    // for first: a plant may make them for its benches, whose role may then
    // insert and do nothing else, not even a CREATE ... IF NOT EXISTS.
    PGresult* found = PQexec(conn_,
                             "SELECT to_regclass('karvelo_records') IS NOT NULL"
                             " AND to_regclass('karvelo_slots') IS NOT NULL");
    const bool ok = PQresultStatus(found) == PGRES_TUPLES_OK && PQntuples(found) == 1;
    const bool there = ok && PQgetvalue(found, 0, 0)[0] == 't';
    if (!ok) problem = OneLine(PQerrorMessage(conn_));
    PQclear(found);
    if (!ok) return false;
    return there || Run(kSchema, problem);
}

bool PlantServer::Done(pg_result* result, std::string& problem) {
    const bool ok = PQresultStatus(result) == PGRES_COMMAND_OK;
    if (!ok) problem = OneLine(PQerrorMessage(conn_));
    PQclear(result);
    return ok;
}

bool PlantServer::Run(const char* sql, std::string& problem) {
    return Done(PQexec(conn_, sql), problem);
}

bool PlantServer::Insert(const char* head, const char* const* casts, int fields,
                         const std::vector<std::string>& values, const std::vector<bool>& isNull,
                         std::string& problem) {
    // A statement carries at most 65535 parameters: a large batch goes in
    // several statements of the same transaction.
    const std::size_t rowsPerStatement = kMaxParameters / static_cast<std::size_t>(fields);
    const std::size_t rows = values.size() / static_cast<std::size_t>(fields);
    std::vector<const char*> params;
    for (std::size_t first = 0; first < rows; first += rowsPerStatement) {
        const std::size_t count = std::min(rowsPerStatement, rows - first);
        const std::string sql = InsertSql(head, casts, fields, count);
        params.clear();
        for (std::size_t i = first * fields; i < (first + count) * fields; ++i) {
            params.push_back(isNull[i] ? nullptr : values[i].c_str());
        }
        if (!Done(PQexecParams(conn_, sql.c_str(), static_cast<int>(params.size()), nullptr,
                               params.data(), nullptr, nullptr, 0),
                  problem)) {
            return false;
        }
    }
    return true;
}

bool PlantServer::Send(const std::vector<JournalRecord>& records, std::string& problem) {
    if (records.empty()) return true;

    static const char* const kRecordCasts[kRecordFields] = {
        "::uuid", "", "::integer", "::timestamptz", "", "", ""};
    static const char* const kSlotCasts[kSlotFields] = {"::uuid",   "::smallint", "", "",
                                                        "::float8", "",           ""};
    std::vector<std::string> recordValues;
    std::vector<bool> recordNull;
    std::vector<std::string> slotValues;
    std::vector<bool> slotNull;
    recordValues.reserve(records.size() * kRecordFields);
    for (const JournalRecord& r : records) {
        for (std::string v : {r.id, r.station, std::to_string(r.configSet), r.utc, r.localDate,
                              r.localTime, r.idText}) {
            recordValues.push_back(std::move(v));
            recordNull.push_back(false);
        }
        for (const JournalSlot& s : r.slots) {
            slotValues.insert(slotValues.end(),
                              {r.id, std::to_string(s.slot), s.typeName, s.title,
                               s.value ? NumberText(*s.value) : std::string(), s.text, s.status});
            slotNull.insert(slotNull.end(), {false, false, false, false, !s.value, false, false});
        }
    }
    // Text fields may hold anything the operator typed; parameters carry them
    // to the server untouched, never as part of the statement.
    const auto transaction = [&] {
        return Connect(problem) && Run("BEGIN", problem) &&
               Insert(
                   "INSERT INTO karvelo_records(id, station, config_set, taken_utc, local_date,"
                   " local_time, id_text)",
                   kRecordCasts, kRecordFields, recordValues, recordNull, problem) &&
               Insert(
                   "INSERT INTO karvelo_slots(record_id, slot, type_name, title, value, text,"
                   " status)",
                   kSlotCasts, kSlotFields, slotValues, slotNull, problem) &&
               Run("COMMIT", problem);
    };
    // A connection kept since the last batch may have died meanwhile (the
    // server restarted): one fresh connection is tried at once before the
    // batch counts as failed.
    const bool kept = conn_ != nullptr;
    bool sent = transaction();
    if (!sent && kept && (conn_ == nullptr || PQstatus(conn_) == CONNECTION_BAD)) {
        Drop();
        sent = transaction();
    }
    // Whatever went wrong, the next batch starts on a fresh connection: an
    // open transaction or a half-dead socket is never carried over. A COMMIT
    // whose answer was lost counts as failed; sending again is harmless.
    if (!sent) {
        Drop();
        problem = "cannot forward records to " + name_ + ": " + problem;
    }
    return sent;
}

std::string ConnectionStringProblem(const std::string& connection) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(connection.c_str(), &error);
    if (options != nullptr) {
        PQconninfoFree(options);
        return {};
    }
    PQfreemem(error);
    const std::string head = "the url in section DATABASE cannot be read";
    if (connection.rfind("postgresql://", 0) == 0 || connection.rfind("postgres://", 0) == 0) {
        return head + ": it is not a valid postgresql:// address";
    }
    // key = value pairs, the value bare or in single quotes with \ escapes:
    // the last key read whole is where the fault lies behind.
    std::string lastKey;
    std::size_t i = 0;
    const auto blank = [&] {
        while (i < connection.size() && std::isspace(static_cast<unsigned char>(connection[i])))
            ++i;
    };
    for (;;) {
        blank();
        if (i >= connection.size()) break;
        std::string key;
        while (i < connection.size() && connection[i] != '=' &&
               !std::isspace(static_cast<unsigned char>(connection[i]))) {
            key += connection[i++];
        }
        blank();
        if (i >= connection.size() || connection[i] != '=') break;
        ++i;
        blank();
        if (i < connection.size() && connection[i] == '\'') {
            ++i;
            bool closed = false;
            while (i < connection.size()) {
                if (connection[i] == '\\' && i + 1 < connection.size()) {
                    i += 2;
                } else if (connection[i++] == '\'') {
                    closed = true;
                    break;
                }
            }
            if (!closed) return head + ": the value of its key " + key + " has no closing quote";
        } else {
            while (i < connection.size() &&
                   !std::isspace(static_cast<unsigned char>(connection[i]))) {
                ++i;
            }
        }
        lastKey = key;
    }
    return lastKey.empty()
               ? head + ": it does not begin with a key=value pair"
               : head + ": something that is no key=value pair follows its key " + lastKey;
}

bool ConnectionHasPassword(const std::string& connection) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(connection.c_str(), &error);
    if (options == nullptr) {
        PQfreemem(error);
        return connection.find("password") != std::string::npos;
    }
    bool has = false;
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        if (o->val != nullptr && *o->val != '\0' && std::string_view(o->keyword) == "password") {
            has = true;
        }
    }
    PQconninfoFree(options);
    return has;
}

std::string PlantServerName(const std::string& connection) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(connection.c_str(), &error);
    if (options == nullptr) {
        PQfreemem(error);
        return "(unreadable connection string)";
    }
    std::string host, hostaddr, port, dbname, user;
    for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
        if (o->val == nullptr) continue;
        const std::string key = o->keyword;
        if (key == "host") host = o->val;
        if (key == "hostaddr") hostaddr = o->val;
        if (key == "port") port = o->val;
        if (key == "dbname") dbname = o->val;
        if (key == "user") user = o->val;
    }
    PQconninfoFree(options);
    if (host.empty()) host = hostaddr.empty() ? "localhost" : hostaddr;
    std::string name = user.empty() ? host : user + '@' + host;
    if (!port.empty()) name += ':' + port;
    if (!dbname.empty()) name += '/' + dbname;
    return name;
}

}  // namespace karvelo::exports
