#include "export/export_record.h"

#include <string>

#include "export/csv_export.h"
#include "export/excel_export.h"
#include "platform/numbers.h"
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

void ExportToWorkbook(WindowPort& window, ExcelLink* excel, bool withTextSlots) {
    if (excel == nullptr) {
        ReportRecordNotWritten(window,
                               L"The workbook export (\"EXCEL-cells\") is not available "
                               L"here: this record is not written.");
        return;
    }
    excel->WriteExcelRecord(withTextSlots);
}

}  // namespace

void ExportRecord(WindowPort& window, ExcelLink* excel) {
    switch (TargetOf(g_run.ExportType)) {
        case Target::CsvSingle:
            WriteCsvSingle(window);
            return;
        case Target::CsvMulti:
            WriteCsvMulti(window);
            return;
        case Target::WorkbookWithTexts:
            ExportToWorkbook(window, excel, true);
            return;
        case Target::WorkbookWithoutTexts:
            ExportToWorkbook(window, excel, false);
            return;
        case Target::Unknown: {
            const int type = static_cast<int>(g_run.ExportType.load());
            ReportRecordNotWritten(window, L"Export type " + platform::FormatInt(type) +
                                               L" is not known (key exporttype): this record is "
                                               L"not written.");
            return;
        }
        case Target::None:
            break;
    }
    // Records still waiting for a CSV file get their chance with every export.
    RetryPendingRecords(window);
}

}  // namespace karvelo::exports
