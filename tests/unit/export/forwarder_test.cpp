// The forwarder with a stand-in server and a real journal: every record goes
// once and in order, a failure keeps the records and is tried again after a
// growing pause, and the journal's writer never waits for the server.

#include "export/forwarder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace karvelo::exports {
namespace {

using karvelo::testing::TempDir;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

JournalRecord Numbered(int n) {
    JournalRecord r;
    r.id = NewRecordId();
    r.station = "bench-3";
    r.utc = "2026-12-11T08:00:00Z";
    r.localDate = "11.12.2026";
    r.localTime = "09:00:00";
    r.idText = "part-" + std::to_string(n);
    r.slots.push_back({1, "Sylvac", "Bore", 12.5 + n, "12.500", ""});
    return r;
}

// What the stand-in server saw and did, shared with the test.
struct ServerLog {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::vector<std::string>> batches;  // the ID texts of each Send
    std::vector<Clock::time_point> calls;
    std::vector<std::string> committed;  // ID texts, each once, like the server's table
    int failuresLeft = 0;                // the next Sends that fail
    bool commitThenFail = false;         // the next Send commits but its answer is lost
    bool hold = false;                   // Send waits while this is set
    std::vector<ForwardingStatus> reports;
};

class StandInServer : public RecordServer {
  public:
    explicit StandInServer(ServerLog& log) : log_(log) {}
    bool Send(const std::vector<JournalRecord>& records, std::string& problem) override {
        std::unique_lock<std::mutex> hold(log_.lock);
        log_.calls.push_back(Clock::now());
        std::vector<std::string> ids;
        for (const JournalRecord& r : records) ids.push_back(r.idText);
        log_.batches.push_back(ids);
        log_.changed.notify_all();
        log_.changed.wait(hold, [this] { return !log_.hold; });
        if (log_.failuresLeft > 0) {
            --log_.failuresLeft;
            problem = "cannot forward records to plant: server down";
            return false;
        }
        for (const std::string& id : ids) {
            if (std::find(log_.committed.begin(), log_.committed.end(), id) ==
                log_.committed.end()) {
                log_.committed.push_back(id);
            }
        }
        if (log_.commitThenFail) {
            log_.commitThenFail = false;
            problem = "cannot forward records to plant: connection lost during COMMIT";
            return false;
        }
        return true;
    }

  private:
    ServerLog& log_;
};

class ForwarderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string problem;
        writer = RecordJournal::Open(path, false, problem);
        ASSERT_NE(writer, nullptr) << problem;
    }

    void Append(int from, int to) {
        for (int n = from; n <= to; ++n) {
            std::string problem;
            ASSERT_TRUE(writer->Append(Numbered(n), problem)) << problem;
        }
    }

    std::unique_ptr<JournalForwarder> Start(RetryPauses pauses, int batchSize) {
        return std::make_unique<JournalForwarder>(
            path, std::make_unique<StandInServer>(log),
            [this](const ForwardingStatus& status) {
                std::lock_guard<std::mutex> hold(log.lock);
                log.reports.push_back(status);
                log.changed.notify_all();
            },
            pauses, batchSize);
    }

    // Waits until the forwarder reports `status`.
    bool WaitForReport(const ForwardingStatus& status) {
        std::unique_lock<std::mutex> hold(log.lock);
        return log.changed.wait_for(
            hold, 20s, [&] { return !log.reports.empty() && log.reports.back() == status; });
    }

    long long Unsent() {
        long long count = -1;
        std::string problem;
        EXPECT_TRUE(writer->CountUnsent(count, problem)) << problem;
        return count;
    }

    static std::vector<std::string> Parts(int from, int to) {
        std::vector<std::string> ids;
        for (int n = from; n <= to; ++n) ids.push_back("part-" + std::to_string(n));
        return ids;
    }

    TempDir dir;
    const std::string path = dir.file("records.sqlite");
    std::unique_ptr<RecordJournal> writer;
    ServerLog log;
};

TEST_F(ForwarderTest, EveryUnsentRecordGoesOnceInOrderInBatches) {
    Append(1, 7);
    auto forwarder = Start({}, 3);
    ASSERT_TRUE(WaitForReport({0, ""}));
    Append(8, 8);
    forwarder->Wake();
    ASSERT_TRUE(WaitForReport({0, ""}));
    {
        std::unique_lock<std::mutex> hold(log.lock);
        ASSERT_TRUE(log.changed.wait_for(hold, 20s, [&] { return log.committed.size() == 8; }));
        const std::vector<std::vector<std::string>> expected = {
            {"part-1", "part-2", "part-3"}, {"part-4", "part-5", "part-6"}, {"part-7"}, {"part-8"}};
        EXPECT_EQ(log.batches, expected);
        EXPECT_EQ(log.committed, Parts(1, 8));
    }
    // A batch the server took is marked before the forwarder stops.
    forwarder.reset();
    EXPECT_EQ(Unsent(), 0);
    // A forwarder started afresh knows what went: nothing is sent twice.
    log.batches.clear();
    forwarder = Start({}, 3);
    ASSERT_TRUE(WaitForReport({0, ""}));
    forwarder.reset();
    EXPECT_TRUE(log.batches.empty());
}

TEST_F(ForwarderTest, AFailedSendKeepsTheRecordsAndIsTriedAgainAfterAGrowingPause) {
    log.failuresLeft = 3;
    Append(1, 2);
    const RetryPauses pauses{300ms, 600ms};
    auto forwarder = Start(pauses, 250);
    ASSERT_TRUE(WaitForReport({2, "cannot forward records to plant: server down"}));
    // Records journaled meanwhile are counted at once, not sent at once.
    for (int n = 3; n <= 5; ++n) {
        Append(n, n);
        forwarder->Wake();
    }
    ASSERT_TRUE(WaitForReport({5, "cannot forward records to plant: server down"}));
    ASSERT_TRUE(WaitForReport({0, ""}));
    std::lock_guard<std::mutex> hold(log.lock);
    EXPECT_EQ(log.committed, Parts(1, 5));
    // Three failures, then the success: the pauses between the tries are
    // at least 300, 600 and (at the limit) 600 ms, however often it was woken.
    ASSERT_EQ(log.calls.size(), 4u);
    const std::chrono::milliseconds least[] = {pauses.first, pauses.longest, pauses.longest};
    for (std::size_t i = 1; i < log.calls.size(); ++i) {
        EXPECT_GE(log.calls[i] - log.calls[i - 1], least[i - 1]) << "try " << i;
    }
    // The last try sent everything that had come meanwhile, oldest first.
    EXPECT_EQ(log.batches.back(), Parts(1, 5));
}

TEST_F(ForwarderTest, ACommitWhoseAnswerIsLostIsSentAgainAndKeptOnce) {
    log.commitThenFail = true;
    Append(1, 3);
    auto forwarder = Start({10ms, 10ms}, 250);
    ASSERT_TRUE(WaitForReport({0, ""}));
    std::lock_guard<std::mutex> hold(log.lock);
    // The records were not marked after the failed answer, so they went again.
    EXPECT_EQ(log.batches, (std::vector<std::vector<std::string>>{Parts(1, 3), Parts(1, 3)}));
    EXPECT_EQ(log.committed, Parts(1, 3));
}

TEST_F(ForwarderTest, TheJournalIsWrittenWhileTheServerHangs) {
    log.hold = true;
    Append(1, 1);
    auto forwarder = Start({}, 250);
    {
        std::unique_lock<std::mutex> hold(log.lock);
        ASSERT_TRUE(log.changed.wait_for(hold, 20s, [&] { return !log.batches.empty(); }));
    }
    // The forwarder is inside Send and holds its read of the journal: the
    // station's writer and a wake still go through.
    Append(2, 4);
    forwarder->Wake();
    EXPECT_EQ(Unsent(), 4);
    {
        std::lock_guard<std::mutex> hold(log.lock);
        log.hold = false;
        log.changed.notify_all();
    }
    ASSERT_TRUE(WaitForReport({0, ""}));
    std::lock_guard<std::mutex> hold(log.lock);
    EXPECT_EQ(log.committed, Parts(1, 4));
}

TEST_F(ForwarderTest, WithoutAServerNothingWaitsAndNothingIsSent) {
    log.failuresLeft = 100;
    Append(1, 2);
    auto forwarder = Start({10ms, 10ms}, 250);
    ASSERT_TRUE(WaitForReport({2, "cannot forward records to plant: server down"}));
    // The url was removed from the configuration.
    forwarder->UseServer(nullptr);
    ASSERT_TRUE(WaitForReport({0, ""}));
    EXPECT_EQ(Unsent(), 2);
}

TEST(Forwarder, AJournalThatCannotBeOpenedIsReportedAndTriedAgain) {
    TempDir dir;
    ServerLog log;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<ForwardingStatus> reports;
    JournalForwarder forwarder(dir.file("missing-folder/records.sqlite"),
                               std::make_unique<StandInServer>(log),
                               [&](const ForwardingStatus& status) {
                                   std::lock_guard<std::mutex> hold(lock);
                                   reports.push_back(status);
                                   changed.notify_all();
                               },
                               {10ms, 10ms});
    std::unique_lock<std::mutex> hold(lock);
    ASSERT_TRUE(changed.wait_for(hold, 20s, [&] { return !reports.empty(); }));
    EXPECT_NE(reports.back().problem.find("cannot open the record journal " +
                                          dir.file("missing-folder/records.sqlite")),
              std::string::npos)
        << reports.back().problem;
}

}  // namespace
}  // namespace karvelo::exports
