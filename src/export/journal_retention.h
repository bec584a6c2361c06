#pragma once
// Journal retention: a thread of its own that, at start and then once a
// period (a day), deletes the journal's records older than a number of days
// that every target is done with (RecordJournal::DeleteDone). It deletes in
// small batches with a pause between them, so the station's writer, which
// waits for a busy journal only briefly, always finds it free soon enough.
// The connection is opened for each pass and closed after it: none is held
// on a journal that may be replaced while the station runs.

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace karvelo::exports {

struct RetentionPass {
    long long deleted = 0;  // records the pass deleted
    std::string problem;    // why it stopped early; empty when it went through
    bool tell = false;      // the problem is new since the last pass: to be told
};

struct RetentionTiming {
    std::chrono::milliseconds period = std::chrono::hours(24);
    std::chrono::milliseconds pause{100};  // between batches
    int batchSize = 500;
};

class JournalRetention {
  public:
    // Whether a plant server is configured now: its records must be sent too.
    using ServerConfigured = std::function<bool()>;
    // Called on the retention thread after every pass.
    using PassReport = std::function<void(const RetentionPass&)>;

    // Starts the thread, whose first pass runs at once, on the journal at
    // `journalPath` (created when missing). `keepDays` above 0.
    JournalRetention(std::string journalPath, int keepDays, ServerConfigured serverConfigured,
                     PassReport report, RetentionTiming timing = {});
    // Stops the thread; a pass on its way ends after its current batch.
    ~JournalRetention();
    JournalRetention(const JournalRetention&) = delete;
    JournalRetention& operator=(const JournalRetention&) = delete;

  private:
    void Run();
    RetentionPass Pass();
    // Waits up to `pause`; true when the thread is to stop.
    bool Wait(std::chrono::milliseconds pause);

    const std::string journalPath_;
    const int keepDays_;
    const ServerConfigured serverConfigured_;
    const PassReport report_;
    const RetentionTiming timing_;

    std::mutex lock_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

// "YYYY-MM-DDTHH:MM:SSZ" of `keepDays` days before `now`: records taken
// earlier are old. Never before the epoch, so a huge number keeps everything.
std::string RetentionCutoff(std::time_t now, int keepDays);

}  // namespace karvelo::exports
