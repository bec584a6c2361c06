// What the record journal costs the station per record, and how fast the
// forwarder empties it into a plant server.
//
// JournalAppend: RecordJournal::Append of a ten-slot record (one of them a
// failed reading without a value) into records.sqlite on the disk, with the
// journal's full sync, as the acquisition thread does it; the record's id is
// made in the loop too. Time is wall time per record, CPU the whole
// process's CPU time per record (the forwarder's thread included where one
// runs). Arguments:
//   held        records the journal holds already (bulk-loaded beforehand)
//   unsent      0: they were all forwarded, 1: none was (server down for days)
//   forwarding  1: a JournalForwarder to a server that takes every batch at
//               once runs beside it and is woken after each record, so its
//               reads and marks compete with the appends for the file
//
// DiskSync: one 4 KiB write and fdatasync to a file in the same folder, the
// floor under every commit of the journal, which syncs its write-ahead log.
//
// Forward: a journal holding `records` unsent ten-slot records, a
// JournalForwarder with a real PlantServer to a private PostgreSQL server
// (fsync off) on this machine; from the forwarder's start until its status
// reports none waiting. records_per_s is the throughput, cpu_us_per_record
// this process's CPU time for it (the server's not counted); the server's row
// counts are checked afterwards.
//
// ForwardLatency: single records at 50 ms intervals to a forwarder already
// connected: from before Append (with its sync) and Wake until a second
// connection sees the record marked sent. Time is the median; append_median_ms
// the part of it spent in Append.
//
// The files live in a fresh folder under KARVELO_BENCH_DIR, or under the
// system's temporary folder without it: a tmpfs there syncs for free, so point
// it at the disk the station writes to.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_folder.h"
#include "export/forwarder.h"
#include "export/journal.h"
#include "export/plant_server.h"
#include "support/postgres_server.h"

namespace {

using namespace karvelo;
using exports::ForwardingStatus;
using exports::JournalForwarder;
using exports::JournalRecord;
using exports::JournalSlot;
using exports::RecordJournal;
using karvelo::bench::BenchFolder;
using karvelo::testing::PostgresServer;
using Clock = std::chrono::steady_clock;

constexpr double kGoalMs = 1.0;  // journaling one record, wall time
constexpr int kSlots = 10;

double ProcessCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double MsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// A record as a ten-gauge bench writes it; slot 7's gauge did not answer.
JournalRecord TenSlotRecord(int n) {
    static const char* const kTypes[] = {"Sylvac duplex", "Mitutoyo Digimatic", "Marposs E4N",
                                         "Almemo 2590", "Text entry"};
    JournalRecord r;
    r.id = exports::NewRecordId();
    r.station = "Bench 3 - final inspection";
    r.configSet = 2;
    r.utc = "2026-12-09T07:05:03Z";
    r.localDate = "09.12.2026";
    r.localTime = "08:05:03";
    r.idText = "LOT-4711-" + std::to_string(n);
    for (int s = 1; s <= kSlots; ++s) {
        JournalSlot slot;
        slot.slot = s;
        slot.typeName = kTypes[(s - 1) % 5];
        slot.title = "Diameter " + std::to_string(s) + " (mm)";
        if (s == 7) {
            slot.status = "unavailable";
        } else {
            slot.value = 12.0 + s * 0.125 + (n % 100) * 0.001;
            char text[32];
            std::snprintf(text, sizeof text, "%.3f", *slot.value);
            slot.text = text;
            slot.status = "ok";
        }
        r.slots.push_back(std::move(slot));
    }
    return r;
}

// Creates the journal at `path` holding `count` ten-slot records, all marked
// sent or none. In one transaction without syncs: appending them one by one
// with the journal's full sync would take minutes.
bool BulkLoad(const std::string& path, int count, bool sent, std::string& problem) {
    if (RecordJournal::Open(path, false, problem) == nullptr) return false;  // the tables
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
        problem = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return false;
    }
    sqlite3_stmt* head = nullptr;
    sqlite3_stmt* slot = nullptr;
    bool ok =
        sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db,
                           "INSERT INTO records(id, station, config_set, utc, local_date,"
                           " local_time, id_text, sent) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)",
                           -1, &head, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db,
                           "INSERT INTO slots(record_id, slot, type_name, title, value, text,"
                           " status) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)",
                           -1, &slot, nullptr) == SQLITE_OK;
    for (int n = 0; ok && n < count; ++n) {
        const JournalRecord r = TenSlotRecord(n);
        sqlite3_bind_text(head, 1, r.id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(head, 2, r.station.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(head, 3, r.configSet);
        sqlite3_bind_text(head, 4, r.utc.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(head, 5, r.localDate.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(head, 6, r.localTime.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(head, 7, r.idText.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int(head, 8, sent ? 1 : 0);
        ok = sqlite3_step(head) == SQLITE_DONE;
        sqlite3_reset(head);
        for (const JournalSlot& s : r.slots) {
            if (!ok) break;
            sqlite3_bind_text(slot, 1, r.id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(slot, 2, s.slot);
            sqlite3_bind_text(slot, 3, s.typeName.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(slot, 4, s.title.c_str(), -1, SQLITE_TRANSIENT);
            if (s.value) {
                sqlite3_bind_double(slot, 5, *s.value);
            } else {
                sqlite3_bind_null(slot, 5);
            }
            sqlite3_bind_text(slot, 6, s.text.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(slot, 7, s.status.c_str(), -1, SQLITE_TRANSIENT);
            ok = sqlite3_step(slot) == SQLITE_DONE;
            sqlite3_reset(slot);
        }
    }
    ok = ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok) problem = sqlite3_errmsg(db);
    sqlite3_finalize(head);
    sqlite3_finalize(slot);
    sqlite3_close(db);
    return ok;
}

// Takes every batch at once: what is left is the forwarder's own work.
class AcceptingServer : public exports::RecordServer {
  public:
    bool Send(const std::vector<JournalRecord>&, std::string&) override { return true; }
};

void BM_JournalAppend(benchmark::State& state) {
    const int held = static_cast<int>(state.range(0));
    const bool unsent = state.range(1) != 0;
    const bool forwarding = state.range(2) != 0;
    BenchFolder folder;
    if (folder.path().empty()) {
        state.SkipWithError("no bench folder");
        return;
    }
    const std::string path = folder.path() + "/records.sqlite";
    std::string problem;
    if (held > 0 && !BulkLoad(path, held, !unsent, problem)) {
        state.SkipWithError(("cannot fill the journal: " + problem).c_str());
        return;
    }
    std::unique_ptr<RecordJournal> journal = RecordJournal::Open(path, false, problem);
    if (journal == nullptr) {
        state.SkipWithError(("cannot open the journal: " + problem).c_str());
        return;
    }
    std::unique_ptr<JournalForwarder> forwarder;
    if (forwarding) {
        forwarder =
            std::make_unique<JournalForwarder>(path, std::make_unique<AcceptingServer>(), nullptr);
    }

    int n = 0;
    const double cpu0 = ProcessCpuMs();
    const Clock::time_point t0 = Clock::now();
    for (auto _ : state) {
        const JournalRecord record = TenSlotRecord(n++);
        if (!journal->Append(record, problem)) {
            state.SkipWithError(("Append failed: " + problem).c_str());
            break;
        }
        if (forwarder) forwarder->Wake();
    }
    const double wallMs = MsBetween(t0, Clock::now()) / std::max(n, 1);
    const double cpuMs = (ProcessCpuMs() - cpu0) / std::max(n, 1);
    forwarder.reset();

    state.counters["wall_ms"] = wallMs;
    state.counters["cpu_ms"] = cpuMs;
    char label[96];
    std::snprintf(label, sizeof label, "goal < %.0f ms per record: %s", kGoalMs,
                  wallMs < kGoalMs ? "met" : "MISSED");
    state.SetLabel(label);
}
BENCHMARK(BM_JournalAppend)
    ->ArgNames({"held", "unsent", "forwarding"})
    ->Args({0, 0, 0})
    ->Args({100000, 0, 0})
    ->Args({100000, 1, 0})
    ->Args({0, 0, 1})
    ->Args({100000, 0, 1})
    ->Iterations(400)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

void BM_DiskSync(benchmark::State& state) {
    BenchFolder folder;
    const std::string path = folder.path() + "/sync.bin";
    const int fd = folder.path().empty() ? -1 : ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    if (fd < 0) {
        state.SkipWithError("no file to sync");
        return;
    }
    const std::string block(4096, 'x');
    off_t at = 0;
    for (auto _ : state) {
        if (::pwrite(fd, block.data(), block.size(), at) != static_cast<ssize_t>(block.size()) ||
            ::fdatasync(fd) != 0) {
            state.SkipWithError("write or sync failed");
            break;
        }
        at += static_cast<off_t>(block.size());
    }
    ::close(fd);
}
BENCHMARK(BM_DiskSync)
    ->Iterations(400)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// One server for the whole run; null when there is none here.
PostgresServer* Postgres(std::string& problem) {
    static std::string why;
    static const std::unique_ptr<PostgresServer> server = PostgresServer::Start(why);
    problem = why;
    return server.get();
}

void DropServerTables(PostgresServer& server) {
    server.Query("DROP TABLE IF EXISTS karvelo_slots, karvelo_records");
}

// The forwarder's reports, for a thread that waits for one.
class StatusWatch {
  public:
    JournalForwarder::StatusReport Callback() {
        return [this](const ForwardingStatus& status) {
            std::lock_guard<std::mutex> hold(lock_);
            last_ = status;
            at_ = Clock::now();
            ++reports_;
            changed_.notify_all();
        };
    }
    // Until no record waits or a problem is reported; false on timeout.
    bool WaitSettled(std::chrono::seconds timeout, ForwardingStatus& status,
                     Clock::time_point& at) {
        std::unique_lock<std::mutex> hold(lock_);
        const bool settled = changed_.wait_for(hold, timeout, [this] {
            return reports_ > 0 && (last_.waiting == 0 || !last_.problem.empty());
        });
        status = last_;
        at = at_;
        return settled;
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    ForwardingStatus last_;
    Clock::time_point at_;
    int reports_ = 0;
};

// The server and the journal's path for a forwarding figure; null (the
// figure skipped with the reason) when either is missing.
PostgresServer* ForwardingSetUp(benchmark::State& state, const BenchFolder& folder,
                                std::string& path) {
    std::string problem;
    PostgresServer* server = Postgres(problem);
    if (server == nullptr) {
        state.SkipWithError(("skipped, no PostgreSQL server: " + problem).c_str());
        return nullptr;
    }
    if (folder.path().empty()) {
        state.SkipWithError("no bench folder");
        return nullptr;
    }
    path = folder.path() + "/records.sqlite";
    return server;
}

void BM_Forward(benchmark::State& state) {
    const int batch = static_cast<int>(state.range(0));
    const int count = static_cast<int>(state.range(1));
    std::string problem;
    BenchFolder folder;
    std::string path;
    PostgresServer* server = ForwardingSetUp(state, folder, path);
    if (server == nullptr) return;
    if (!BulkLoad(path, count, false, problem)) {
        state.SkipWithError(("cannot fill the journal: " + problem).c_str());
        return;
    }
    DropServerTables(*server);

    for (auto _ : state) {
        StatusWatch watch;
        const double cpu0 = ProcessCpuMs();
        const Clock::time_point t0 = Clock::now();
        ForwardingStatus status;
        Clock::time_point done;
        bool settled = false;
        {
            JournalForwarder forwarder(
                path, std::make_unique<exports::PlantServer>(server->ConnectionString()),
                watch.Callback(), {}, batch);
            settled = watch.WaitSettled(std::chrono::seconds(120), status, done);
        }
        const double cpuMs = ProcessCpuMs() - cpu0;
        if (!settled) {
            state.SkipWithError("the forwarder did not finish within 120 s");
            break;
        }
        if (!status.problem.empty()) {
            state.SkipWithError(("forwarding failed, " + std::to_string(status.waiting) +
                                 " records waiting: " + status.problem)
                                    .substr(0, 400)
                                    .c_str());
            break;
        }
        const double seconds = MsBetween(t0, done) / 1e3;
        state.SetIterationTime(seconds);
        state.counters["records_per_s"] = count / seconds;
        state.counters["cpu_us_per_record"] = cpuMs * 1e3 / count;
    }
    if (state.error_occurred()) return;
    const std::vector<std::string> records = server->Query("SELECT count(*) FROM karvelo_records");
    const std::vector<std::string> slots = server->Query("SELECT count(*) FROM karvelo_slots");
    const std::string want = std::to_string(count);
    const std::string wantSlots = std::to_string(count * kSlots);
    if (records != std::vector<std::string>{want} || slots != std::vector<std::string>{wantSlots}) {
        state.SkipWithError(("the server holds " + (records.empty() ? "?" : records[0]) +
                             " records, " + (slots.empty() ? "?" : slots[0]) + " slots")
                                .c_str());
        return;
    }
    state.SetLabel("server holds " + want + " records, " + wantSlots + " slots");
}
BENCHMARK(BM_Forward)
    ->ArgNames({"batch", "records"})
    ->Args({1, 2000})
    ->Args({50, 20000})
    ->Args({250, 20000})
    ->Args({1000, 20000})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MeasureProcessCPUTime();

void BM_ForwardLatency(benchmark::State& state) {
    constexpr int kRecords = 20;
    constexpr auto kInterval = std::chrono::milliseconds(50);
    std::string problem;
    BenchFolder folder;
    std::string path;
    PostgresServer* server = ForwardingSetUp(state, folder, path);
    if (server == nullptr) return;
    std::unique_ptr<RecordJournal> journal = RecordJournal::Open(path, false, problem);
    std::unique_ptr<RecordJournal> reader =
        journal != nullptr ? RecordJournal::Open(path, true, problem) : nullptr;
    if (reader == nullptr) {
        state.SkipWithError(("cannot open the journal: " + problem).c_str());
        return;
    }
    DropServerTables(*server);

    JournalForwarder forwarder(
        path, std::make_unique<exports::PlantServer>(server->ConnectionString()), nullptr);
    // Polls the second connection until the forwarder has marked everything sent.
    const auto waitSent = [&](Clock::time_point& at) {
        const Clock::time_point limit = Clock::now() + std::chrono::seconds(10);
        long long waiting = 1;
        while (Clock::now() < limit) {
            if (reader->CountUnsent(waiting, problem) && waiting == 0) {
                at = Clock::now();
                return true;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        return false;
    };

    for (auto _ : state) {
        // The first record connects and makes the tables: not steady state.
        Clock::time_point at;
        if (!journal->Append(TenSlotRecord(0), problem)) {
            state.SkipWithError(("Append failed: " + problem).c_str());
            break;
        }
        forwarder.Wake();
        if (!waitSent(at)) {
            state.SkipWithError("the first record was not marked sent within 10 s");
            break;
        }
        std::vector<double> latencies;
        std::vector<double> appends;
        for (int n = 1; n <= kRecords; ++n) {
            std::this_thread::sleep_for(kInterval);
            const JournalRecord record = TenSlotRecord(n);
            const Clock::time_point t0 = Clock::now();
            if (!journal->Append(record, problem)) {
                state.SkipWithError(("Append failed: " + problem).c_str());
                break;
            }
            appends.push_back(MsBetween(t0, Clock::now()));
            forwarder.Wake();
            if (!waitSent(at)) {
                state.SkipWithError("a record was not marked sent within 10 s");
                break;
            }
            latencies.push_back(MsBetween(t0, at));
        }
        if (state.error_occurred()) break;
        const auto medianOf = [](std::vector<double>& v) {
            std::sort(v.begin(), v.end());
            return (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
        };
        const double median = medianOf(latencies);
        state.counters["append_median_ms"] = medianOf(appends);
        state.SetIterationTime(median / 1e3);
        state.counters["median_ms"] = median;
        state.counters["min_ms"] = latencies.front();
        state.counters["max_ms"] = latencies.back();
    }
}
BENCHMARK(BM_ForwardLatency)->Iterations(1)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
