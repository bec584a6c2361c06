#include "app/retention.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "export/journal_retention.h"
#include "export/record_journal.h"
#include "platform/report.h"
#include "state/run_state.h"

namespace karvelo::app {

void StartJournalRetention() {
    static std::mutex lock;
    static std::unique_ptr<exports::JournalRetention> retention;
    const int keepDays = g_run.KeepDays;
    const std::string path = exports::JournalFilePath();
    std::lock_guard<std::mutex> hold(lock);
    if (retention != nullptr || keepDays <= 0 || path.empty()) return;
    retention = std::make_unique<exports::JournalRetention>(
        path, keepDays, [] { return !g_run.DatabaseUrl.str().empty(); },
        [](const exports::RetentionPass& pass) {
            if (pass.tell) platform::Report(pass.problem);
        });
}

}  // namespace karvelo::app
