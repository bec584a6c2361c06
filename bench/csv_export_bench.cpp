// What one record costs the CSV export, with the data sync that makes it
// survive a power cut and, for comparison, without it (the writer's sync
// replaced by one that does nothing). The difference is the sync's cost.
//
// The file lives in a fresh folder under KARVELO_BENCH_DIR, or under the
// system's temporary folder without it: a tmpfs there syncs for free, so point
// it at the disk the station writes to.
//
// Arguments: export type (1 single, 2 multi), synced (1) or not (0).

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/null_window.h"
#include "bench_folder.h"
#include "export/csv_export.h"
#include "export/pending_records.h"
#include "export/record.h"
#include "state/run_state.h"

namespace {

using namespace karvelo;
namespace fs = std::filesystem;

int NoSync(int) {
    return 0;
}

std::wstring Wide(const std::string& s) {
    return std::wstring(s.begin(), s.end());
}

using karvelo::bench::BenchFolder;

void BM_CsvRecord(benchmark::State& state) {
    BenchFolder folder;
    if (folder.path().empty()) {
        state.SkipWithError("no bench folder");
        return;
    }
    ResetRunState();
    g_run.ConfigDir = Wide(folder.path() + "/");
    g_run.ExportPath = Wide(folder.path() + "/");
    g_run.CsvFileName = L"records.csv";
    g_run.ExportType = static_cast<ExportKind>(state.range(0));
    const bool synced = state.range(1) != 0;
    exports::ReloadPendingRecords();
    exports::SetDataSync(synced ? nullptr : &NoSync);
    // A record as the demo bench writes it: an ID and three slot texts.
    g_run.TextLast[kIdEntry] = L"LOT-4711";
    g_run.TextLast[1] = L"12.345";
    g_run.TextLast[2] = L"0.512";
    g_run.TextLast[3] = L"operator";

    app::NullWindow window;
    const bool multi = g_run.ExportType == ExportKind::CsvMulti;
    for (auto _ : state) {
        const exports::Record record =
            exports::CaptureRecord(g_run, exports::StampNow(), exports::NewRecordId());
        const bool written = multi ? exports::WriteCsvMulti(record, window)
                                   : exports::WriteCsvSingle(record, window);
        if (!written) {
            state.SkipWithError("record not written");
            break;
        }
    }
    exports::SetDataSync(nullptr);
    exports::ReloadPendingRecords();
    state.SetLabel(std::string(multi ? "multi" : "single") +
                   (synced ? ", synced" : ", not synced"));
}
BENCHMARK(BM_CsvRecord)
    ->ArgsProduct({{1, 2}, {0, 1}})
    ->ArgNames({"type", "synced"})
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
