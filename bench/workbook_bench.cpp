// What one record costs the workbook export (type 5, ten slots, the default
// cell layout), through the real export and the workbook engine, into a
// workbook that already holds a number of filled rows.
//
// "cells" leaves the save off: the cost of placing the thirteen cells, which
// must not grow with the rows already written. "with save" adds the save that
// follows every record by default: it writes the whole sheet part again, so it
// grows with the sheet, and nothing else does.
//
// The workbook lives under KARVELO_BENCH_DIR, or the system's temporary folder.
//
// Argument: filled rows before the first measured record.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/null_window.h"
#include "bench_folder.h"
#include "export/excel_export.h"
#include "export/record.h"
#include "export/workbook_application.h"
#include "platform/xlsx/workbook.h"
#include "state/run_state.h"

namespace {

using namespace karvelo;
namespace fs = std::filesystem;
namespace xlsx = karvelo::platform::xlsx;

using karvelo::bench::BenchFolder;

// A workbook whose first sheet holds `rows` records of thirteen cells.
bool MakeWorkbook(const fs::path& file, int rows) {
    const std::string command =
        "'" KARVELO_SOURCE_DIR "/scripts/make-demo-workbook' '" + file.string() + "'";
    if (std::system(command.c_str()) != 0) return false;
    auto book = xlsx::Workbook::Open(file.string());
    for (int r = 2; r <= rows + 1; ++r) {
        book->SetCellNumber(0, {r, 1}, r - 1);
        book->SetCellText(0, {r, 2}, L"10.12.2026");
        book->SetCellText(0, {r, 3}, L"08:05:03");
        for (int c = 4; c <= 13; ++c) book->SetCellText(0, {r, c}, L"12.345000");
    }
    book->SelectCell(0, {rows + 2, 1});
    book->Save();
    return true;
}

void SetUpStation(const fs::path& folder, bool save) {
    ResetRunState();
    g_run.ExportType = ExportKind::Workbook;
    g_run.ExportPath = folder.wstring() + L"/";
    g_run.XlsFileName = L"bench.xlsx";
    g_run.ExcelVisible = g_run.ExcelEdit = g_run.ExcelOpen = g_run.ExcelClose = true;
    g_run.ExcelSave = save;
    for (int n = 1; n <= kExcelItems; ++n) {
        g_run.ExcelValueOn[n] = true;
        g_run.ExcelRelative[n] = true;
        g_run.ExcelColumn[n] = n - 1;
    }
    g_run.ExcelSheet = L"Tabelle1";
    g_run.ExcelRefMode = 0;  // the active cell: the row after the filled ones
    g_run.ExcelShiftMode = 1;
    g_run.ExcelAutoShiftRow = 1;
    g_run.DeviceCount = kMaxSlots;
    for (int s = 1; s <= kMaxSlots; ++s) {
        g_run.DeviceType[s] = 1;
        g_run.ValueReady[s] = true;
        g_run.Value[s] = 12.345 + s;
    }
}

void Record(benchmark::State& state, bool save) {
    BenchFolder folder;
    if (folder.path().empty() ||
        !MakeWorkbook(fs::path(folder.path()) / "bench.xlsx", static_cast<int>(state.range(0)))) {
        state.SkipWithError("the workbook could not be made");
        return;
    }
    SetUpStation(folder.path(), save);
    app::NullWindow window;
    exports::ExcelLink link(window, exports::WorkbookEngineFactory());
    link.OpenExcel();
    const exports::Record record =
        exports::CaptureRecord(g_run, exports::StampNow(), exports::NewRecordId());
    link.WriteExcelRecord(record, true);  // the sheet is parsed with the first record
    for (auto _ : state) link.WriteExcelRecord(record, true);
    state.counters["rows_at_end"] = static_cast<double>(g_run.RecordNumber) + state.range(0);
    link.EndSequence();
    ResetRunState();
}

void BM_WorkbookRecordCells(benchmark::State& state) {
    Record(state, false);
}
void BM_WorkbookRecordWithSave(benchmark::State& state) {
    Record(state, true);
}

BENCHMARK(BM_WorkbookRecordCells)->Arg(1000)->Arg(10000)->Arg(20000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WorkbookRecordWithSave)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(20000)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
