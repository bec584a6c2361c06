// Forwarding to the plant server with the real station and a private
// PostgreSQL server: a server that goes away for a while gets every journal
// record once it is back, each exactly once; a server the station cannot log
// in to or cannot find is named on standard error and the records wait in the
// journal until the configuration is put right.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "export/journal.h"
#include "export/record_journal.h"
#include "platform/profile.h"
#include "platform/text_encoding.h"
#include "support/postgres_server.h"
#include "support/process.h"
#include "support/sim_process.h"
#include "support/station_process.h"
#include "support/temp_dir.h"

namespace karvelo {
namespace {

using karvelo::testing::Lines;
using karvelo::testing::PostgresServer;
using karvelo::testing::RunProcess;
using karvelo::testing::SimProcess;
using karvelo::testing::Station;
using karvelo::testing::TempDir;
using karvelo::testing::WaitForLines;
using namespace std::chrono_literals;

// Polls `done` until it holds or `limit` passed; whether it held.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return done();
}

class PlantServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string problem;
        server = PostgresServer::Start(problem);
        if (server == nullptr) GTEST_SKIP() << problem;
    }

    // A station in its own folder: a gauge on a fast send timer writing
    // records to records.csv, and the plant server at `url`.
    struct Bench {
        explicit Bench(const std::string& url) {
            std::filesystem::copy_file(KARVELO_BINARY, install.file("karvelo"));
            sim = std::make_unique<SimProcess>(
                bench.path(),
                "[gauge]\nlink=" + bench.file("ttyGauge") + "\ntype=1\nvalues=12.345 12.350\n");
            install.Write("karvelo.cfg",
                          "[PORTS]\r\nCOM3=" + bench.file("ttyGauge") +
                              "\r\n[WINDOW]\r\nmaxno=2\r\n[IDNR]\r\ntextlast=LOT-7\r\n"
                              "[DATABASE]\r\nstation=bench-12\r\nurl=" +
                              url +
                              "\r\n[EXPORT]\r\nexporttype=2\r\npath=" + install.path().string() +
                              "/\r\nfile_csv=records.csv\r\n"
                              "[DEVICE1]\r\ntyp=1\r\nport=3\r\nsendmode=3\r\nsendtime=0.2\r\n"
                              "format=3\r\n[DEVICE2]\r\ntyp=0\r\ntextlast=operator\r\n");
        }

        std::string Err() const { return install.Read("station.err"); }
        bool ErrSays(const std::string& words) const {
            return Err().find(words) != std::string::npos;
        }

        testing::ProcessResult History() const {
            return RunProcess({install.file("karvelo"), "--history"}, bench.path().string());
        }

        // The journal's records in the order they were taken, and the ids of
        // those the server has not committed yet. False while it cannot be read.
        bool Journal(std::vector<exports::JournalRecord>& records,
                     std::set<std::string>* unsent = nullptr) const {
            std::string problem;
            auto journal =
                exports::RecordJournal::Open(install.file("records.sqlite"), true, problem);
            records.clear();
            if (journal == nullptr || !journal->Read({}, {}, records, problem)) return false;
            if (unsent == nullptr) return true;
            std::vector<exports::JournalRecord> waiting;
            if (!journal->Unsent(1 << 30, waiting, problem)) return false;
            unsent->clear();
            for (const auto& r : waiting) unsent->insert(r.id);
            return true;
        }
        std::size_t JournalCount() const {
            std::vector<exports::JournalRecord> records;
            return Journal(records) ? records.size() : 0;
        }

        TempDir install;
        TempDir bench;
        std::unique_ptr<SimProcess> sim;
    };

    // The station makes the tables on its first contact with the server.
    bool TablesMade() const {
        return server->Query("SELECT to_regclass('karvelo_records') IS NOT NULL") ==
               std::vector<std::string>{"t"};
    }

    std::size_t ServerCount() const {
        if (!TablesMade()) return 0;
        const auto rows = server->Query("SELECT count(*) FROM karvelo_records");
        return rows.size() == 1 ? std::stoul(rows[0]) : 0;
    }

    // Every server record rebuilt as the CSV line its fields make, by id.
    std::map<std::string, std::string> ServerLines() const {
        std::map<std::string, exports::JournalRecord> records;
        if (!TablesMade()) return {};
        for (const std::string& row :
             server->Query("SELECT id, id_text, local_date, local_time FROM karvelo_records")) {
            const auto f = Fields(row);
            exports::JournalRecord& r = records[f.at(0)];
            r.id = f.at(0);
            r.localDate = f.at(2);
            r.localTime = f.at(3);
            r.idText = f.at(1);
        }
        for (const std::string& row :
             server->Query("SELECT record_id, slot, text FROM karvelo_slots ORDER BY slot")) {
            const auto f = Fields(row);
            exports::JournalSlot slot;
            slot.slot = std::stoi(f.at(1));
            slot.text = f.at(2);
            records[f.at(0)].slots.push_back(slot);
        }
        std::map<std::string, std::string> lines;
        for (const auto& [id, record] : records) lines[id] = exports::JournalCsvLine(record);
        return lines;
    }

    static std::vector<std::string> Fields(const std::string& row) {
        std::vector<std::string> fields;
        std::size_t start = 0;
        for (std::size_t bar; (bar = row.find('|', start)) != std::string::npos; start = bar + 1) {
            fields.push_back(row.substr(start, bar - start));
        }
        fields.push_back(row.substr(start));
        return fields;
    }

    // The server holds exactly the journal's records the journal counts as
    // sent, each once and with its fields, and the unsent ones only follow
    // them (they are sent oldest first). The journal's lines are the CSV
    // file's. Returns how many are on the server.
    std::size_t ExpectServerHoldsTheJournal(const Bench& b) const {
        const std::string csv = b.install.Read("records.csv");
        const auto history = b.History();
        EXPECT_EQ(history.exitCode, 0) << history.err;
        EXPECT_EQ(history.out.substr(0, csv.size()), csv) << "the journal holds the CSV lines";

        std::vector<exports::JournalRecord> journal;
        std::set<std::string> unsent;
        EXPECT_TRUE(b.Journal(journal, &unsent));
        EXPECT_EQ(Lines(history.out).size(), journal.size());
        const auto onServer = ServerLines();
        std::size_t sent = 0;
        for (std::size_t i = 0; i < journal.size(); ++i) {
            const auto& r = journal[i];
            SCOPED_TRACE("journal record " + std::to_string(i) + " " + r.id);
            const auto it = onServer.find(r.id);
            if (unsent.contains(r.id)) {
                EXPECT_EQ(it, onServer.end()) << "on the server, yet unsent in the journal";
                continue;
            }
            EXPECT_EQ(sent++, i) << "a sent record after an unsent one";
            if (it == onServer.end()) {
                ADD_FAILURE() << "marked sent, yet not on the server";
                continue;
            }
            EXPECT_EQ(it->second, exports::JournalCsvLine(r));
        }
        EXPECT_EQ(onServer.size(), sent) << "the server holds records the journal does not";
        // One row per slot in use: the gauge and the text.
        if (TablesMade()) {
            EXPECT_EQ(server->Query("SELECT count(*) FROM karvelo_slots"),
                      std::vector<std::string>{std::to_string(2 * sent)});
        }
        return sent;
    }

    std::unique_ptr<PostgresServer> server;
};

TEST_F(PlantServerTest, ServerStoppedForAWhileGetsEveryRecordExactlyOnce) {
    Bench b(server->ConnectionString());
    ASSERT_TRUE(b.sim->ready()) << b.sim->Log();
    const std::string name = "bench@127.0.0.1:" + std::to_string(server->port()) + "/plant";
    Station station(b.install);

    ASSERT_TRUE(WaitFor([&] { return ServerCount() >= 5; }, 30s)) << b.Err() << b.sim->Log();
    ASSERT_TRUE(server->Stop());
    // Records go on while the server is away; the operator learns why they
    // wait, naming the server without its password.
    const std::size_t atStop = b.JournalCount();
    ASSERT_TRUE(
        WaitFor([&] { return b.ErrSays("karvelo: cannot forward records to " + name); }, 30s))
        << b.Err();
    ASSERT_TRUE(WaitFor([&] { return b.JournalCount() >= atStop + 10; }, 30s)) << b.Err();
    EXPECT_FALSE(b.ErrSays("bench-secret")) << b.Err();

    ASSERT_TRUE(server->Restart());
    const std::size_t atRestart = b.JournalCount();
    ASSERT_TRUE(WaitFor([&] { return b.JournalCount() >= atRestart + 3; }, 30s)) << b.Err();
    // The back-off is at most a few seconds after so short a stop; 60 s
    // leaves room for a loaded machine.
    const std::size_t target = b.JournalCount();
    ASSERT_TRUE(WaitFor([&] { return ServerCount() >= target; }, 60s))
        << ServerCount() << " of " << target << " records on the server\n"
        << b.Err();
    EXPECT_EQ(station.Stop(SIGTERM, 30s), 0) << b.Err();

    EXPECT_GE(ExpectServerHoldsTheJournal(b), target);
    EXPECT_EQ(server->Query("SELECT DISTINCT station FROM karvelo_records"),
              std::vector<std::string>{"bench-12"});
    const std::string err = b.Err();
    EXPECT_NE(err.find("karvelo: records are forwarded to " + name + " again"), std::string::npos)
        << err;
}

struct RefusedCase {
    const char* name;
    std::function<std::string(const PostgresServer&)> url;
    std::function<std::string(const PostgresServer&)> serverName;
    const char* why;  // libpq's words
    bool putRight;    // then with the right password
};

TEST_F(PlantServerTest, WrongPasswordOrUnknownHostSaysSoAndKeepsTheRows) {
    const RefusedCase cases[] = {
        {"wrong password", [](const PostgresServer& s) { return s.ConnectionString("wrong"); },
         [](const PostgresServer& s) {
             return "bench@127.0.0.1:" + std::to_string(s.port()) + "/plant";
         },
         "password authentication failed", true},
        {"unknown host",
         [](const PostgresServer&) {
             return std::string(
                 "host=nosuchhost.invalid port=5432 dbname=plant user=bench "
                 "password=bench-secret connect_timeout=5");
         },
         [](const PostgresServer&) { return std::string("bench@nosuchhost.invalid:5432/plant"); },
         "could not translate host name", false},
    };
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case starts from a server that has never seen a bench.
        server->Query("DROP TABLE IF EXISTS karvelo_slots, karvelo_records");
        Bench b(c.url(*server));
        ASSERT_TRUE(b.sim->ready()) << b.sim->Log();
        {
            Station station(b.install);
            EXPECT_TRUE(WaitFor(
                [&] {
                    return b.ErrSays("karvelo: cannot forward records to " + c.serverName(*server) +
                                     ": ") &&
                           b.ErrSays(c.why) && b.ErrSays(" records wait in the journal)");
                },
                30s))
                << b.Err();
            EXPECT_TRUE(WaitForLines(b.install, "records.csv", 5, 30s)) << b.Err();
            EXPECT_EQ(station.Stop(SIGTERM, 30s), 0) << b.Err();
        }
        EXPECT_FALSE(b.ErrSays("password=")) << b.Err();
        EXPECT_EQ(ServerCount(), 0u);
        // Every record waits, none counted as sent.
        EXPECT_EQ(ExpectServerHoldsTheJournal(b), 0u);
        if (!c.putRight) continue;

        // The station wrote its configuration back at its end; put the
        // password right there and keep the timer from taking new records,
        // so the server gets exactly the records of the first run.
        auto cfg = platform::ProfileDocument::Load(b.install.file("karvelo.cfg"));
        ASSERT_TRUE(cfg.Find(L"DATABASE", L"url")) << cfg.Serialize();
        ASSERT_TRUE(cfg.Set(L"DATABASE", L"url", platform::Utf8ToWide(server->ConnectionString())));
        ASSERT_TRUE(cfg.Set(L"DEVICE1", L"sendmode", L"1"));
        ASSERT_TRUE(cfg.Save(b.install.file("karvelo.cfg")));
        const std::size_t taken = Lines(b.install.Read("records.csv")).size();
        Station station(b.install);
        EXPECT_TRUE(WaitFor([&] { return ServerCount() >= taken; }, 60s))
            << ServerCount() << " of " << taken << " records on the server\n"
            << b.Err();
        EXPECT_EQ(station.Stop(SIGTERM, 30s), 0) << b.Err();
        EXPECT_EQ(ExpectServerHoldsTheJournal(b), taken);
        EXPECT_EQ(b.JournalCount(), taken) << "no new records";
    }
}

}  // namespace
}  // namespace karvelo
