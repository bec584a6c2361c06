#include "export/export_record.h"

#include <array>

#include "state/run_state.h"
#include "state/window_port.h"
#include "export/csv_export.h"

namespace karvelo::exports {
namespace {

enum class Target { None, CsvSingle, CsvMulti, WorkbookWithTexts, WorkbookWithoutTexts };

// By ExportType 0..6; any other number exports nothing.
constexpr std::array<Target, 7> kTargets = {
    Target::None,
    Target::CsvSingle,
    Target::CsvMulti,
    Target::CsvSingle,
    Target::CsvMulti,
    Target::WorkbookWithTexts,
    Target::WorkbookWithoutTexts,
};

Target TargetOf(int exportType) {
    if (exportType < 0 || exportType >= static_cast<int>(kTargets.size())) return Target::None;
    return kTargets[static_cast<std::size_t>(exportType)];
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
