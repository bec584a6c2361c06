#include "export/forwarder.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace karvelo::exports {

JournalForwarder::JournalForwarder(std::string journalPath, std::unique_ptr<RecordServer> server,
                                   StatusReport report, RetryPauses pauses, int batchSize)
    : journalPath_(std::move(journalPath)),
      report_(std::move(report)),
      pauses_(pauses),
      batchSize_(std::max(batchSize, 1)),
      nextServer_(std::move(server)) {
    thread_ = std::thread([this] { Run(); });
}

JournalForwarder::~JournalForwarder() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void JournalForwarder::Wake() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        woken_ = true;
    }
    wake_.notify_all();
}

void JournalForwarder::UseServer(std::unique_ptr<RecordServer> server) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        nextServer_ = std::move(server);
        serverChanged_ = true;
    }
    wake_.notify_all();
}

bool JournalForwarder::StopAsked() {
    std::lock_guard<std::mutex> hold(lock_);
    return stop_;
}

void JournalForwarder::Report(ForwardingStatus status) {
    if (reportedOnce_ && status == reported_) return;
    reportedOnce_ = true;
    reported_ = std::move(status);
    if (report_) report_(reported_);
}

JournalForwarder::Pass JournalForwarder::SendAll(RecordJournal& journal, RecordServer& server,
                                                 std::string& problem) {
    for (;;) {
        std::vector<JournalRecord> batch;
        std::string why;
        if (!journal.Unsent(batchSize_, batch, why)) {
            problem = "cannot read the record journal " + journalPath_ + ": " + why;
            return Pass::JournalFailed;
        }
        if (batch.empty()) return Pass::AllSent;
        if (!server.Send(batch, problem)) return Pass::ServerFailed;
        // Only now, with the server's commit done, is the record sent. Should
        // this mark fail or never happen, the batch goes again and the server
        // keeps its first copy.
        if (!journal.MarkSent(batch, why)) {
            problem =
                "cannot mark forwarded records in the record journal " + journalPath_ + ": " + why;
            return Pass::JournalFailed;
        }
        if (static_cast<int>(batch.size()) < batchSize_) return Pass::AllSent;
        if (StopAsked()) return Pass::Stopped;
    }
}

void JournalForwarder::Run() {
    using Clock = std::chrono::steady_clock;
    std::unique_ptr<RecordServer> server;
    std::unique_ptr<RecordJournal> journal;
    std::optional<Clock::time_point> retryAt;  // set while a failure waits out its pause
    std::chrono::milliseconds pause = pauses_.first;
    std::string problem;

    const auto failed = [&](std::string why) {
        problem = std::move(why);
        retryAt = Clock::now() + pause;
        pause = std::min(pause * 2, pauses_.longest);
    };

    for (;;) {
        {
            std::unique_lock<std::mutex> hold(lock_);
            const auto ready = [this] { return stop_ || woken_ || serverChanged_; };
            if (retryAt) {
                wake_.wait_until(hold, *retryAt, ready);
            } else {
                wake_.wait(hold, ready);
            }
            if (stop_) return;
            woken_ = false;
            if (serverChanged_) {
                // Another server is tried at once, whatever the last one did.
                serverChanged_ = false;
                server = std::move(nextServer_);
                problem.clear();
                retryAt.reset();
                pause = pauses_.first;
            }
        }
        // A record journaled while a failure waits is only counted: the
        // server is tried again when the pause is over, not at every record.
        const bool due = !retryAt || Clock::now() >= *retryAt;
        if (due && server != nullptr) {
            retryAt.reset();
            std::string why;
            if (journal == nullptr) {
                journal = RecordJournal::Open(journalPath_, false, why);
                if (journal != nullptr && !journal->UseLightCommits(why)) journal.reset();
            }
            if (journal == nullptr) {
                failed("cannot open the record journal " + journalPath_ + ": " + why);
            } else {
                switch (SendAll(*journal, *server, why)) {
                    case Pass::AllSent:
                        problem.clear();
                        pause = pauses_.first;
                        break;
                    case Pass::ServerFailed:
                        failed(std::move(why));
                        break;
                    case Pass::JournalFailed:
                        journal.reset();
                        failed(std::move(why));
                        break;
                    case Pass::Stopped:
                        return;
                }
            }
        }
        // Without a server nothing waits for one.
        ForwardingStatus status;
        if (server != nullptr) {
            status = {reported_.waiting, problem};
            std::string why;
            if (journal != nullptr && !journal->CountUnsent(status.waiting, why)) {
                status.waiting = reported_.waiting;
            }
        }
        Report(std::move(status));
    }
}

}  // namespace karvelo::exports
