// Journal retention on a real journal: only old records every target is done
// with go, their slots with them, in batches; the thread deletes at start and
// at every period, tells a failure once and stops at once when asked.

#include "export/journal_retention.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "export/journal.h"
#include "support/temp_dir.h"

namespace karvelo::exports {
namespace {

using karvelo::testing::TempDir;
using namespace std::chrono_literals;

constexpr const char* kOld = "2026-11-01T10:00:00Z";
constexpr const char* kCutoff = "2026-12-01T00:00:00Z";
constexpr const char* kNew = "2026-12-05T10:00:00Z";

// A record as the station takes it: ten slots, one of them failed.
JournalRecord Taken(const std::string& idText, const std::string& utc, bool written) {
    JournalRecord r;
    r.id = NewRecordId();
    r.station = "bench-7";
    r.utc = utc;
    r.localDate = "01.11.2026";
    r.localTime = "11:00:00";
    r.idText = idText;
    for (int s = 1; s <= 10; ++s) {
        if (s == 4) {
            r.slots.push_back({s, "Sylvac", "Bore 4", std::nullopt, "", "unavailable"});
        } else {
            r.slots.push_back({s, "Sylvac", "Bore " + std::to_string(s), 12.5 + s, "12.500", ""});
        }
    }
    r.exportType = 2;
    r.target = "/data/parts.csv";
    r.written = written;
    r.payload = "encoded " + idText;
    return r;
}

class Journal {
  public:
    explicit Journal(const std::string& path) : path_(path) {
        std::string problem;
        journal_ = RecordJournal::Open(path, RecordJournal::Access::Writer, problem);
        if (journal_ == nullptr) ADD_FAILURE() << problem;
    }
    RecordJournal& operator*() { return *journal_; }
    RecordJournal* operator->() { return journal_.get(); }

    void Add(const JournalRecord& r, bool sent) {
        std::string problem;
        ASSERT_TRUE(journal_->Append(r, problem)) << problem;
        if (sent) {
            ASSERT_TRUE(journal_->MarkSent({r}, problem)) << problem;
        }
    }
    // The ID texts of the records left, in journal order.
    std::string Left() {
        std::vector<JournalRecord> all;
        std::string problem;
        EXPECT_TRUE(journal_->Read({}, {}, all, problem)) << problem;
        std::string ids;
        for (const JournalRecord& r : all) ids += (ids.empty() ? "" : " ") + r.idText;
        return ids;
    }
    // One count over the raw tables: slots whose record is gone count too.
    long long Count(const char* sql) {
        sqlite3* db = nullptr;
        long long n = -1;
        if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_stmt* stmt = nullptr;
            if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
                sqlite3_step(stmt) == SQLITE_ROW) {
                n = sqlite3_column_int64(stmt, 0);
            }
            sqlite3_finalize(stmt);
        }
        sqlite3_close(db);
        return n;
    }
    long long Slots() { return Count("SELECT count(*) FROM slots"); }

  private:
    std::string path_;
    std::unique_ptr<RecordJournal> journal_;
};

struct DoneCase {
    const char* idText;
    const char* utc;
    bool written;
    bool sent;
    bool goesWithoutServer;
    bool goesWithServer;
};

const DoneCase kDone[] = {
    {"old-written-sent", kOld, true, true, true, true},
    {"old-written-unsent", kOld, true, false, true, false},
    {"old-unwritten-sent", kOld, false, true, false, false},
    {"old-unwritten-unsent", kOld, false, false, false, false},
    {"new-written-sent", kNew, true, true, false, false},
    {"new-written-unsent", kNew, true, false, false, false},
    {"new-unwritten-sent", kNew, false, true, false, false},
    {"new-unwritten-unsent", kNew, false, false, false, false},
    // Taken at the cutoff itself: not older than it.
    {"cutoff-written-sent", kCutoff, true, true, false, false},
    {"second-before-written-sent", "2026-11-30T23:59:59Z", true, true, true, true},
};

TEST(JournalRetention, OnlyOldRecordsEveryTargetIsDoneWithGoWithTheirSlots) {
    for (const bool server : {false, true}) {
        SCOPED_TRACE(server ? "with a plant server" : "without a plant server");
        TempDir dir;
        Journal journal(dir.file("records.sqlite"));
        std::string kept;
        int goes = 0;
        for (const DoneCase& c : kDone) {
            journal.Add(Taken(c.idText, c.utc, c.written), c.sent);
            if (server ? c.goesWithServer : c.goesWithoutServer) {
                ++goes;
            } else {
                kept += (kept.empty() ? "" : " ") + std::string(c.idText);
            }
        }
        int deleted = -1;
        std::string problem;
        ASSERT_TRUE(journal->DeleteDone(kCutoff, server, 500, deleted, problem)) << problem;
        EXPECT_EQ(deleted, goes);
        EXPECT_EQ(journal.Left(), kept);
        const long long left = static_cast<long long>(std::size(kDone)) - goes;
        EXPECT_EQ(journal.Slots(), left * 10);
        EXPECT_EQ(journal.Count("SELECT count(*) FROM slots WHERE record_id NOT IN"
                                " (SELECT id FROM records)"),
                  0);
        // Nothing more is due.
        ASSERT_TRUE(journal->DeleteDone(kCutoff, server, 500, deleted, problem)) << problem;
        EXPECT_EQ(deleted, 0);
        EXPECT_EQ(journal.Left(), kept);
    }
}

TEST(JournalRetention, BatchesTakeTheOldestFirstAndPassOverWhatMustStay) {
    TempDir dir;
    Journal journal(dir.file("records.sqlite"));
    for (const char* id : {"d1", "d2", "u1", "d3", "d4", "d5", "d6", "d7"}) {
        journal.Add(Taken(id, kOld, id[0] == 'd'), true);
    }
    journal.Add(Taken("n1", kNew, true), true);
    const char* const left[] = {"u1 d4 d5 d6 d7 n1", "u1 d7 n1", "u1 n1", "u1 n1"};
    const int deleted[] = {3, 3, 1, 0};
    for (int b = 0; b < 4; ++b) {
        SCOPED_TRACE(b);
        int n = -1;
        std::string problem;
        ASSERT_TRUE(journal->DeleteDone(kCutoff, true, 3, n, problem)) << problem;
        EXPECT_EQ(n, deleted[b]);
        EXPECT_EQ(journal.Left(), left[b]);
    }
    EXPECT_EQ(journal.Slots(), 20);
}

struct CutoffCase {
    int keepDays;
    const char* cutoff;
};

TEST(JournalRetention, CutoffIsKeepDaysBeforeNowAndNeverBeforeTheEpoch) {
    constexpr std::time_t kNow = 1796799903;  // 2026-12-09T07:05:03Z
    const CutoffCase cases[] = {
        {0, "2026-12-09T07:05:03Z"},     {1, "2026-12-08T07:05:03Z"},
        {30, "2026-11-09T07:05:03Z"},    {-4, "2026-12-09T07:05:03Z"},
        {20797, "1970-01-01T00:00:00Z"}, {INT_MAX, "1970-01-01T00:00:00Z"},
    };
    for (const CutoffCase& c : cases) {
        SCOPED_TRACE(c.keepDays);
        EXPECT_EQ(RetentionCutoff(kNow, c.keepDays), c.cutoff);
    }
}

// The passes a retention thread reported, shared with the test.
struct Passes {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<RetentionPass> seen;

    JournalRetention::PassReport Report(std::function<void(int)> after = {}) {
        return [this, after](const RetentionPass& pass) {
            int n;
            {
                std::lock_guard<std::mutex> hold(lock);
                seen.push_back(pass);
                n = static_cast<int>(seen.size());
            }
            // On the retention thread, before it waits for the next pass.
            if (after) after(n);
            changed.notify_all();
        };
    }
    bool WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> hold(lock);
        return changed.wait_for(hold, 20s, [&] { return seen.size() >= count; });
    }
    RetentionPass At(std::size_t i) {
        std::lock_guard<std::mutex> hold(lock);
        return seen.at(i);
    }
};

TEST(JournalRetention, ThreadDeletesAtStartAndStopsAtOnce) {
    TempDir dir;
    const std::string path = dir.file("records.sqlite");
    Journal journal(path);
    // Old records, older than any run of this test by far.
    const std::string old = "2001-01-01T00:00:00Z";
    for (int i = 1; i <= 5; ++i) journal.Add(Taken("d" + std::to_string(i), old, true), true);
    journal.Add(Taken("unwritten", old, false), true);
    journal.Add(Taken("unsent", old, true), false);
    journal.Add(Taken("today", UtcText(std::time(nullptr)), true), true);

    Passes passes;
    auto retention = std::make_unique<JournalRetention>(
        path, 30, [] { return true; }, passes.Report(), RetentionTiming{24h, 0ms, 2});
    ASSERT_TRUE(passes.WaitFor(1));
    EXPECT_EQ(passes.At(0).deleted, 5);
    EXPECT_EQ(passes.At(0).problem, "");
    EXPECT_EQ(journal.Left(), "unwritten unsent today");
    EXPECT_EQ(journal.Slots(), 30);

    // Waiting for its next day, the thread ends as soon as it is asked to.
    const auto asked = std::chrono::steady_clock::now();
    retention.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 5s);
    EXPECT_EQ(passes.seen.size(), 1u);
}

TEST(JournalRetention, EveryPeriodDeletesWhatIsDueThenAndAsksForTheServerAgain) {
    TempDir dir;
    const std::string path = dir.file("records.sqlite");
    Journal journal(path);
    const std::string old = "2001-01-01T00:00:00Z";
    journal.Add(Taken("unsent", old, true), false);

    std::atomic<bool> server{true};
    Passes passes;
    // Between the passes, on the retention thread: the first finds the record
    // waiting for the server, which is then removed from the configuration.
    auto report = passes.Report([&](int n) {
        if (n == 1) server = false;
    });
    JournalRetention retention(
        path, 1, [&] { return server.load(); }, report, RetentionTiming{10ms, 0ms, 500});
    ASSERT_TRUE(passes.WaitFor(1));
    EXPECT_EQ(passes.At(0).deleted, 0);
    ASSERT_TRUE(passes.WaitFor(2));
    EXPECT_EQ(passes.At(1).deleted, 1);
    EXPECT_EQ(journal.Left(), "");

    // A record that becomes due while the thread runs goes at a later pass.
    journal.Add(Taken("later", old, true), false);
    std::unique_lock<std::mutex> hold(passes.lock);
    EXPECT_TRUE(passes.changed.wait_for(hold, 20s, [&] {
        for (std::size_t i = 2; i < passes.seen.size(); ++i) {
            if (passes.seen[i].deleted == 1) return true;
        }
        return false;
    }));
    hold.unlock();
    EXPECT_EQ(journal.Left(), "");
}

TEST(JournalRetention, AFailureIsToldOnceUntilAPassGoesThrough) {
    TempDir dir;
    const std::filesystem::path folder = dir.path() / "config";
    const std::string path = (folder / "records.sqlite").string();
    Passes passes;
    // The folder comes and goes between passes, on the retention thread.
    auto report = passes.Report([&](int n) {
        if (n == 2) std::filesystem::create_directory(folder);
        if (n == 3) std::filesystem::remove_all(folder);
    });
    {
        JournalRetention retention(
            path, 7, [] { return false; }, report, RetentionTiming{1ms, 0ms, 500});
        ASSERT_TRUE(passes.WaitFor(5));
    }
    const bool told[] = {true, false, false, true, false};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const RetentionPass pass = passes.At(i);
        EXPECT_EQ(pass.tell, told[i]);
        if (i == 2) {
            EXPECT_EQ(pass.problem, "");
        } else {
            EXPECT_NE(pass.problem.find("cannot open the record journal " + path),
                      std::string::npos)
                << pass.problem;
        }
    }
}

}  // namespace
}  // namespace karvelo::exports
