#pragma once
// The forwarder: a thread of its own that sends the journal's unsent records
// to the plant server, oldest first and in batches, and marks them sent once
// the server has committed them. Measuring never waits for it: a record is
// journaled by the acquisition thread, which only wakes the forwarder. A
// server that cannot be reached is tried again after a pause that doubles up
// to a limit; the records wait in the journal meanwhile, however many.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "export/plant_server.h"

namespace karvelo::exports {

struct ForwardingStatus {
    long long waiting = 0;  // journal records the server has not committed
    std::string problem;    // why they wait; empty while the server takes them
    bool operator==(const ForwardingStatus&) const = default;
};

struct RetryPauses {
    std::chrono::milliseconds first{1000};
    std::chrono::milliseconds longest{30000};
};

class JournalForwarder {
  public:
    // Called on the forwarder's thread whenever the status changes.
    using StatusReport = std::function<void(const ForwardingStatus&)>;

    // Starts the thread, which sends what the journal at `journalPath` holds
    // unsent (a journal that does not exist yet is created).
    JournalForwarder(std::string journalPath, std::unique_ptr<RecordServer> server,
                     StatusReport report, RetryPauses pauses = {}, int batchSize = 250);
    // Stops the thread; a batch on its way is finished first.
    ~JournalForwarder();
    JournalForwarder(const JournalForwarder&) = delete;
    JournalForwarder& operator=(const JournalForwarder&) = delete;

    // A record has been journaled. Returns at once.
    void Wake();
    // Sends to another server from the next batch on (the configuration
    // changed); null: to none, until another is given. Returns at once.
    void UseServer(std::unique_ptr<RecordServer> server);

  private:
    void Run();
    enum class Pass { AllSent, ServerFailed, JournalFailed, Stopped };
    // Sends every unsent record, batch after batch, up to the first failure.
    Pass SendAll(RecordJournal& journal, RecordServer& server, std::string& problem);
    bool StopAsked();
    void Report(ForwardingStatus status);

    const std::string journalPath_;
    const StatusReport report_;
    const RetryPauses pauses_;
    const int batchSize_;

    std::mutex lock_;
    std::condition_variable wake_;
    bool woken_ = true;  // the first pass runs at once
    bool stop_ = false;
    std::unique_ptr<RecordServer> nextServer_;  // taken by the thread at its next pass
    bool serverChanged_ = true;

    ForwardingStatus reported_;  // the thread's own
    bool reportedOnce_ = false;
    std::thread thread_;
};

}  // namespace karvelo::exports
