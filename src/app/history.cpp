#include "app/history.h"

#include <vector>

#include "export/journal.h"
#include "export/record_journal.h"
#include "platform/report.h"

namespace karvelo::app {

int PrintHistory(const std::string& journalPath, const std::string& from, const std::string& to,
                 std::FILE* out) {
    std::string problem;
    // Read-only: reading back must never create a journal or change one.
    const auto journal = exports::RecordJournal::Open(journalPath, true, problem);
    std::vector<exports::JournalRecord> records;
    if (journal == nullptr || !journal->Read(from, to, records, problem)) {
        platform::Report("cannot read the record journal " + journalPath + " (" + problem + ")");
        return 1;
    }
    for (const exports::JournalRecord& record : records) {
        const std::string line = exports::JournalCsvLine(record);
        std::fwrite(line.data(), 1, line.size(), out);
    }
    return std::fflush(out) == 0 ? 0 : 1;
}

}  // namespace karvelo::app
