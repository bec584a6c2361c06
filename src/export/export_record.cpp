#include "export/export_record.h"

#include <array>

#include "state/run_state.h"
#include "state/window_port.h"
#include "export/csv_export.h"

namespace karvelo::exports {
namespace {

enum class Target { None, CsvSingle, CsvMulti, WorkbookWithTexts, WorkbookWithoutTexts };

// A number outside the list (a hand-edited file) exports nothing.
Target TargetOf(ExportKind exportType) {
    switch (exportType) {
        case ExportKind::CsvSingle:
        case ExportKind::IdCsvSingle: return Target::CsvSingle;
        case ExportKind::CsvMulti:
        case ExportKind::IdCsvMulti: return Target::CsvMulti;
        case ExportKind::Workbook: return Target::WorkbookWithTexts;
        case ExportKind::WorkbookNoTexts: return Target::WorkbookWithoutTexts;
        case ExportKind::None: break;
    }
    return Target::None;
}

// The workbook export joins here once it exists; until then types 5 and 6
// write nothing.
void ExportToWorkbook(WindowPort& /*window*/, bool /*withTextSlots*/) {}

}  // namespace

void ExportRecord(WindowPort& window) {
    switch (TargetOf(g_run.ExportType)) {
        case Target::CsvSingle:
            WriteCsvSingle(window);
            return;
        case Target::CsvMulti:
            WriteCsvMulti(window);
            return;
        case Target::WorkbookWithTexts:
            ExportToWorkbook(window, true);
            break;
        case Target::WorkbookWithoutTexts:
            ExportToWorkbook(window, false);
            break;
        case Target::None:
            break;
    }
    // Records still waiting for a CSV file get their chance with every export.
    RetryPendingRecords(window);
}

}  // namespace karvelo::exports
