#pragma once
// The plant server: a PostgreSQL database that collects the records of every
// bench. The forwarder (forwarder.h) hands it the journal's records in
// batches; each batch is committed whole or not at all, and a record the
// server holds already (sent again after a crash before the journal learnt of
// the commit) is left as it is, so no record is ever there twice.
//
//   karvelo_records(id uuid PRIMARY KEY, station text, config_set integer,
//                   taken_utc timestamptz, local_date text, local_time text,
//                   id_text text, received timestamptz DEFAULT now())
//   karvelo_slots(record_id uuid REFERENCES karvelo_records(id), slot smallint,
//                 type_name text, title text, value double precision, text text,
//                 status text, PRIMARY KEY(record_id, slot))

#include <memory>
#include <string>
#include <vector>

#include "export/journal.h"

struct pg_conn;
struct pg_result;

namespace karvelo::exports {

// Where the forwarder sends records: the plant server, or a fake in tests.
class RecordServer {
  public:
    virtual ~RecordServer() = default;
    // Commits the records on the server, all of them or none. True only once
    // the server has committed them; otherwise `problem` says why.
    virtual bool Send(const std::vector<JournalRecord>& records, std::string& problem) = 0;
};

class PlantServer : public RecordServer {
  public:
    // `connection`: a libpq connection string, "host=... dbname=..." or
    // "postgresql://user@host/db". Nothing is contacted yet.
    explicit PlantServer(std::string connection);
    ~PlantServer() override;
    PlantServer(const PlantServer&) = delete;
    PlantServer& operator=(const PlantServer&) = delete;

    // Connects when not connected, creating the tables when they are missing.
    // Any failure drops the connection, so the next call starts afresh, and
    // `problem` reads "cannot forward records to <name>: <the server's words>".
    bool Send(const std::vector<JournalRecord>& records, std::string& problem) override;

  private:
    bool Connect(std::string& problem);
    // Takes a command's result: whether it succeeded, else `problem` says why.
    bool Done(pg_result* result, std::string& problem);
    bool Run(const char* sql, std::string& problem);
    // Inserts the rows (`fields` values each, `casts` for their types),
    // leaving alone those the server holds already.
    bool Insert(const char* head, const char* const* casts, int fields,
                const std::vector<std::string>& values, const std::vector<bool>& isNull,
                std::string& problem);
    void Drop();

    std::string connection_;
    std::string name_;  // PlantServerName, for the problem texts
    pg_conn* conn_ = nullptr;
};

// The server a connection string names, for the operator and the log:
// "bench@plant-db:5432/plant", never with its password.
std::string PlantServerName(const std::string& connection);

// Why a connection string cannot be read, naming the key after which it goes
// wrong and never a value (libpq's own message quotes the text it stumbled
// on, which may be part of a password); empty when it can be read.
std::string ConnectionStringProblem(const std::string& connection);

// Whether a connection string holds a password.
bool ConnectionHasPassword(const std::string& connection);

}  // namespace karvelo::exports
