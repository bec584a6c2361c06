#include "export/journal_retention.h"

#include <algorithm>
#include <utility>

#include "export/journal.h"

namespace karvelo::exports {

std::string RetentionCutoff(std::time_t now, int keepDays) {
    constexpr std::time_t kDay = 24 * 60 * 60;
    const std::time_t back = static_cast<std::time_t>(std::max(keepDays, 0)) * kDay;
    return UtcText(now > back ? now - back : 0);
}

JournalRetention::JournalRetention(std::string journalPath, int keepDays,
                                   ServerConfigured serverConfigured, PassReport report,
                                   RetentionTiming timing)
    : journalPath_(std::move(journalPath)),
      keepDays_(keepDays),
      serverConfigured_(std::move(serverConfigured)),
      report_(std::move(report)),
      timing_(timing) {
    thread_ = std::thread([this] { Run(); });
}

JournalRetention::~JournalRetention() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

bool JournalRetention::Wait(std::chrono::milliseconds pause) {
    std::unique_lock<std::mutex> hold(lock_);
    return wake_.wait_for(hold, pause, [this] { return stop_; });
}

RetentionPass JournalRetention::Pass() {
    RetentionPass pass;
    std::string why;
    auto journal = RecordJournal::Open(journalPath_, RecordJournal::Access::Helper, why);
    // A delete lost in a power cut is only done again at the next pass.
    if (journal != nullptr && !journal->UseLightCommits(why)) journal.reset();
    if (journal == nullptr) {
        pass.problem =
            "cannot open the record journal " + journalPath_ + " to delete old records: " + why;
        return pass;
    }
    // Asked at every pass: a server configured since then still gets its
    // records before they go.
    const bool needSent = serverConfigured_ && serverConfigured_();
    const std::string before = RetentionCutoff(std::time(nullptr), keepDays_);
    const int batch = std::max(timing_.batchSize, 1);
    for (;;) {
        int deleted = 0;
        if (!journal->DeleteDone(before, needSent, batch, deleted, why)) {
            pass.problem =
                "cannot delete old records from the record journal " + journalPath_ + ": " + why;
            return pass;
        }
        pass.deleted += deleted;
        if (deleted < batch) return pass;
        // The writer waits for a busy journal only briefly and retries within
        // that time: a pause between batches lets it in.
        if (Wait(timing_.pause)) return pass;
    }
}

void JournalRetention::Run() {
    std::string told;  // the failure last told; empty after a pass that went through
    for (;;) {
        RetentionPass pass = Pass();
        pass.tell = !pass.problem.empty() && pass.problem != told;
        told = pass.problem;
        if (report_) report_(pass);
        if (Wait(timing_.period)) return;
    }
}

}  // namespace karvelo::exports
