#include "export/export_record.h"

#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "export/csv_export.h"
#include "export/excel_export.h"
#include "export/pending_records.h"
#include "export/record_journal.h"
#include "platform/numbers.h"
#include "platform/program_path.h"
#include "platform/text_encoding.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::exports {
namespace {

enum class Target { None, CsvSingle, CsvMulti, WorkbookWithTexts, WorkbookWithoutTexts, Unknown };

// A number outside the list comes only from a hand-edited file.
Target TargetOf(ExportKind exportType) {
    switch (exportType) {
        case ExportKind::CsvSingle:
        case ExportKind::IdCsvSingle:
            return Target::CsvSingle;
        case ExportKind::CsvMulti:
        case ExportKind::IdCsvMulti:
            return Target::CsvMulti;
        case ExportKind::Workbook:
            return Target::WorkbookWithTexts;
        case ExportKind::WorkbookNoTexts:
            return Target::WorkbookWithoutTexts;
        case ExportKind::None:
            return Target::None;
    }
    return Target::Unknown;
}

bool IsWorkbook(Target t) {
    return t == Target::WorkbookWithTexts || t == Target::WorkbookWithoutTexts;
}

struct ExportQueue {
    std::mutex lock;
    std::deque<Record> records;
    // In the workbook's cells, not yet in its file (a save failed): marked
    // written with the next save that succeeds.
    std::vector<std::string> unsaved;
};
ExportQueue g_queue;

std::deque<Record> TakeQueue() {
    std::lock_guard<std::mutex> hold(g_queue.lock);
    return std::exchange(g_queue.records, {});
}

// Puts records that could not be written back in front of those queued meanwhile.
void Requeue(std::deque<Record> kept) {
    if (kept.empty()) return;
    std::lock_guard<std::mutex> hold(g_queue.lock);
    for (Record& r : g_queue.records) kept.push_back(std::move(r));
    g_queue.records = std::move(kept);
}

// What became of a record handed to its target.
enum class Outcome {
    Done,     // its file holds it, or it needs none
    Pending,  // on its way into its file by itself: not to be written again
    Again,    // to be written again
};

Outcome FromWorkbook(WorkbookWrite w) {
    switch (w) {
        case WorkbookWrite::Written:
            return Outcome::Done;
        case WorkbookWrite::NotSaved:
            return Outcome::Pending;
        case WorkbookWrite::NotWritten:
            break;
    }
    return Outcome::Again;
}

Outcome WriteOne(const Record& record, WindowPort& window, ExcelLink* excel) {
    switch (TargetOf(record.exportType)) {
        case Target::CsvSingle:
            // Only the newest record counts in such a file: one that cannot
            // be written is not tried again.
            WriteCsvSingle(record, window);
            return Outcome::Done;
        case Target::CsvMulti:
            // A line that is not safe yet is in the CSV spool in memory and
            // goes out with its file's next write; at the next start the
            // journal's catch-up finds it there or writes it.
            return WriteCsvMulti(record, window) ? Outcome::Done : Outcome::Pending;
        case Target::WorkbookWithTexts:
        case Target::WorkbookWithoutTexts:
            if (excel == nullptr) {
                ReportRecordNotWritten(window,
                                       L"The workbook export (\"EXCEL-cells\") is not available "
                                       L"here: this record is not written.");
                return Outcome::Again;
            }
            return FromWorkbook(excel->WriteExcelRecord(
                record, TargetOf(record.exportType) == Target::WorkbookWithTexts));
        case Target::Unknown: {
            const int type = static_cast<int>(record.exportType);
            ReportRecordNotWritten(window, L"Export type " + platform::FormatInt(type) +
                                               L" is not known (key exporttype): this record is "
                                               L"not written.");
            return Outcome::Done;
        }
        case Target::None:
            break;
    }
    // Records still waiting for a CSV file get their chance with every export.
    RetryPendingRecords(window);
    return Outcome::Done;
}

// Whether the lines waiting for `target` in the CSV spool hold `line`.
bool KeptForFile(const std::string& target, const std::string& line) {
    const PendingLines* kept = PendingRecords().Find(target);
    return kept != nullptr && kept->bytes.find(line) != std::string::npos;
}

}  // namespace

void QueueRecordForExport(Record record) {
    std::lock_guard<std::mutex> hold(g_queue.lock);
    g_queue.records.push_back(std::move(record));
}

std::size_t QueuedRecordCount() {
    std::lock_guard<std::mutex> hold(g_queue.lock);
    return g_queue.records.size();
}

void ExportRecord(WindowPort& window, ExcelLink* excel) {
    // Taken as a whole: a record queued while one of these is written (a
    // message box of the workbook dispatches events) waits for the next turn.
    std::deque<Record> records = TakeQueue();
    if (records.empty()) {
        RetryPendingRecords(window);
        return;
    }
    std::deque<Record> kept;
    for (Record& record : records) {
        const bool workbook = IsWorkbook(TargetOf(record.exportType));
        // Workbook records keep their order: once one fails, the later ones wait behind it.
        if (workbook && !kept.empty()) {
            kept.push_back(std::move(record));
            continue;
        }
        switch (WriteOne(record, window, excel)) {
            case Outcome::Done:
                if (workbook) {
                    // This save took the cells of earlier records with it.
                    for (const std::string& id : std::exchange(g_queue.unsaved, {})) {
                        MarkRecordWritten(id);
                    }
                }
                if (!record.target.empty()) MarkRecordWritten(record.id);
                break;
            case Outcome::Pending:
                if (workbook) g_queue.unsaved.push_back(record.id);
                break;
            case Outcome::Again:
                if (workbook) kept.push_back(std::move(record));
                break;
        }
    }
    Requeue(std::move(kept));
}

void CatchUpRecords(WindowPort& window) {
    const std::vector<Record> unwritten = UnwrittenRecords();
    if (unwritten.empty()) return;
    // The newest record of each single-line file is the only one it should hold.
    std::map<std::wstring, const Record*> newestSingle;
    // The records of each collecting file, oldest first.
    std::map<std::wstring, std::vector<const Record*>> multi;
    const std::wstring workbook = ExportFolder() + g_run.XlsFileName.str();
    int queued = 0;
    for (const Record& r : unwritten) {
        switch (TargetOf(r.exportType)) {
            case Target::CsvSingle:
                newestSingle[r.target] = &r;
                break;
            case Target::CsvMulti:
                multi[r.target].push_back(&r);
                break;
            case Target::WorkbookWithTexts:
            case Target::WorkbookWithoutTexts:
                // A workbook of another set waits for a run that writes it.
                if (r.target == workbook) {
                    QueueRecordForExport(r);
                    ++queued;
                }
                break;
            default:
                MarkRecordWritten(r.id);
                break;
        }
    }
    int written = 0;
    for (const auto& [path, record] : newestSingle) {
        if (FileEndsWith(platform::FsPath(path), CsvLineOf(*record))) {
            MarkRecordWritten(record->id);
        } else if (WriteCsvSingle(*record, window)) {
            MarkRecordWritten(record->id);
            ++written;
        }
    }
    for (const Record& r : unwritten) {
        if (TargetOf(r.exportType) == Target::CsvSingle && newestSingle[r.target] != &r) {
            MarkRecordWritten(r.id);
        }
    }
    for (const auto& [path, records] : multi) {
        const std::string fsPath = platform::FsPath(path);
        std::vector<std::string> lines;
        std::size_t total = 0;
        for (const Record* r : records) {
            lines.push_back(CsvLineOf(*r));
            total += lines.back().size();
        }
        const std::string tail = FileTail(fsPath, total);
        const auto endsWith = [&tail](std::string_view text) {
            return tail.size() >= text.size() &&
                   std::string_view(tail).substr(tail.size() - text.size()) == text;
        };
        // Records reach the file in order, and their marks are kept (in the
        // spool when the journal cannot take them): the unmarked records that
        // got there before the station stopped are the oldest ones, and their
        // lines the file's last. The longest such run is only marked.
        std::size_t inFile = 0;
        std::string run;
        for (std::size_t k = 0; k < records.size(); ++k) {
            run += lines[k];
            if (endsWith(run)) inFile = k + 1;
        }
        for (std::size_t k = 0; k < records.size(); ++k) {
            const Record& r = *records[k];
            if (k < inFile || KeptForFile(fsPath, lines[k])) {
                MarkRecordWritten(r.id);
            } else if (WriteCsvMulti(r, window)) {
                MarkRecordWritten(r.id);
                ++written;
            }
        }
    }
    if (written > 0 || queued > 0) {
        std::fprintf(stderr,
                     "karvelo: %d record(s) of the journal written to their files after a stop, "
                     "%d queued for the workbook\n",
                     written, queued);
    }
}

void ForgetQueuedRecords() {
    std::lock_guard<std::mutex> hold(g_queue.lock);
    g_queue.records.clear();
    g_queue.unsaved.clear();
}

}  // namespace karvelo::exports
