#include "export/export_record.h"

#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "export/csv_export.h"
#include "export/excel_export.h"
#include "export/export_types.h"
#include "export/record_journal.h"
#include "platform/numbers.h"
#include "platform/program_path.h"
#include "platform/report.h"
#include "platform/text_encoding.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::exports {
namespace {

// In the workbook's cells, not yet in its file (a save failed): marked
// written with the next save that succeeds. User-interface thread only.
std::vector<std::string> g_unsaved;

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
    const ExportType& type = ExportTypeOf(record.exportType);
    switch (type.target) {
        case ExportTarget::CsvSingle:
            // Only the newest record counts in such a file: one that cannot
            // be written is not tried again.
            WriteCsvSingle(record, window);
            return Outcome::Done;
        case ExportTarget::CsvMulti:
            // A line that is not safe yet is in the CSV spool in memory and
            // goes out with its file's next write; at the next start the
            // journal's catch-up finds it there or writes it.
            return WriteCsvMulti(record, window) ? Outcome::Done : Outcome::Pending;
        case ExportTarget::Workbook:
            if (excel == nullptr) {
                ReportRecordNotWritten(window,
                                       L"The workbook export (\"EXCEL-cells\") is not available "
                                       L"here: this record is not written.");
                return Outcome::Again;
            }
            return FromWorkbook(excel->WriteExcelRecord(record, type.withTexts));
        case ExportTarget::Unknown: {
            const int number = static_cast<int>(record.exportType);
            ReportRecordNotWritten(window, L"Export type " + platform::FormatInt(number) +
                                               L" is not known (key exporttype): this record is "
                                               L"not written.");
            return Outcome::Done;
        }
        case ExportTarget::None:
            break;
    }
    // Records still waiting for a CSV file get their chance with every export.
    RetryPendingRecords(window);
    return Outcome::Done;
}

}  // namespace

void WriteFileRecords(std::deque<HandedRecord> records, RecordChannel& channel,
                      WindowPort& window) {
    for (HandedRecord& handed : records) {
        const Record& record = handed.record;
        if (WriteOne(record, window, nullptr) == Outcome::Done && !record.target.empty()) {
            MarkRecordWritten(record.id);
        }
        channel.Settle(handed.number);
    }
}

void ExportRecord(RecordChannel& channel, WindowPort& window, ExcelLink* excel) {
    // Taken as a whole: a record handed over while one of these is written (a
    // message box of the workbook dispatches events) waits for the next turn.
    std::deque<HandedRecord> records = channel.Take(RecordLane::Window);
    if (records.empty()) {
        RetryPendingRecords(window);
        return;
    }
    std::deque<HandedRecord> kept;
    for (HandedRecord& handed : records) {
        const Record& record = handed.record;
        // Workbook records keep their order: once one fails, the later ones wait behind it.
        if (!kept.empty()) {
            channel.Settle(handed.number);
            kept.push_back(std::move(handed));
            continue;
        }
        const Outcome outcome = WriteOne(record, window, excel);
        channel.Settle(handed.number);
        switch (outcome) {
            case Outcome::Done:
                // This save took the cells of earlier records with it.
                for (const std::string& id : std::exchange(g_unsaved, {})) MarkRecordWritten(id);
                if (!record.target.empty()) MarkRecordWritten(record.id);
                break;
            case Outcome::Pending:
                g_unsaved.push_back(record.id);
                break;
            case Outcome::Again:
                kept.push_back(std::move(handed));
                break;
        }
    }
    channel.Requeue(RecordLane::Window, std::move(kept));
}

void ReportRecordsWaiting(WindowPort& window, std::size_t count) {
    if (count == 0) return;
    const std::wstring text = platform::FormatInt(static_cast<std::int64_t>(count)) +
                              L" record(s) waiting: an earlier export was still open";
    platform::Report(text);
    window.ShowExportProblem(text);
}

void CatchUpRecords(RecordChannel& channel, WindowPort& window) {
    const std::vector<Record> unwritten = UnwrittenRecords();
    if (unwritten.empty()) return;
    // The newest record of each single-line file is the only one it should hold.
    std::map<std::wstring, const Record*> newestSingle;
    // The records of each collecting file, oldest first.
    std::map<std::wstring, std::vector<const Record*>> multi;
    const std::wstring workbook = ExportFolder() + g_run.XlsFileName.str();
    int queued = 0;
    for (const Record& r : unwritten) {
        switch (ExportTypeOf(r.exportType).target) {
            case ExportTarget::CsvSingle:
                newestSingle[r.target] = &r;
                break;
            case ExportTarget::CsvMulti:
                multi[r.target].push_back(&r);
                break;
            case ExportTarget::Workbook:
                // A workbook of another set waits for a run that writes it.
                if (r.target == workbook) {
                    channel.Hand(r);
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
        if (ExportTypeOf(r.exportType).target == ExportTarget::CsvSingle &&
            newestSingle[r.target] != &r) {
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
            if (k < inFile || LineKeptFor(fsPath, lines[k])) {
                MarkRecordWritten(r.id);
            } else if (WriteCsvMulti(r, window)) {
                MarkRecordWritten(r.id);
                ++written;
            }
        }
    }
    if (written > 0 || queued > 0) {
        platform::Report(std::to_string(written) +
                         " record(s) of the journal written to their files after a stop, " +
                         std::to_string(queued) + " queued for the workbook");
    }
}

}  // namespace karvelo::exports
