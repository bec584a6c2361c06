// Cost of loading a full configuration set: every key of every section present,
// ten slots, as LoadConfiguration does at start and after every "++"/"--".

#include <benchmark/benchmark.h>

#include <string>

#include "app/configuration.h"
#include "app/null_window.h"
#include "state/run_state.h"
#include "support/temp_dir.h"

namespace {

using namespace karvelo;

std::string FullConfiguration() {
    std::string f = "[MAIN]\r\ncfg=0\r\n[WINDOW]\r\nX=100\r\nY=200\r\nmaxno=10\r\n";
    f += "[IDNR]\r\ntextsource=1\r\ntextpath=/srv/lists/"
         "\r\ntextfile=orders.csv\r\ntextlast=ORDER-4711\r\n";
    f += "[EXPORT]\r\nexporttype=2\r\npath=/srv/export/"
         "\r\nfile_csv=parts.csv\r\nfile_xls=book.xlsx\r\n";
    f += "[EXCEL]\r\nvisible=1\r\nedit=1\r\nopen=1\r\nclose=1\r\nsave=1\r\nsendkey=5\r\nselectfile="
         "1\r\n";
    for (int n = 1; n <= 15; ++n) {
        const std::string k = std::to_string(n);
        f += "value" + k + "=1\r\nrel" + k + "=1\r\nSP" + k + "=" + std::to_string(n - 1) +
             "\r\nZL" + k + "=0\r\n";
    }
    f += "sheet=Tabelle1\r\nrefmode=1\r\nrefadresse=B4\r\nshiftmode=1\r\nautoshift_sp="
         "0\r\nautoshift_zl=1\r\n";
    for (int s = 1; s <= 10; ++s) {
        f += "[DEVICE" + std::to_string(s) +
             "]\r\ntyp=26\r\ntyp_txt=SD1\r\nport=3\r\nport_txt=COM3\r\nsn=\r\n";
        f += "ch=" + std::to_string(s) +
             "\r\nparameter=0\r\nsendmode=3\r\ntextsource=0\r\ntextpath=\r\n";
        f += "textfile=\r\ntextlast=12.345\r\nsendtime=30\r\nformat=3\r\nfactor=0.001\r\noffset="
             "0\r\n";
        f += "title=Bore diameter " + std::to_string(s) + "\r\n";
    }
    return f;
}

void BM_LoadConfiguration(benchmark::State& state) {
    karvelo::testing::TempDir dir;
    dir.Write("karvelo.cfg", FullConfiguration());
    const std::string program = dir.file("karvelo");
    app::DerivePaths(std::wstring(program.begin(), program.end()));
    app::NullWindow window;
    for (auto _ : state) {
        app::LoadConfiguration(window);
        benchmark::DoNotOptimize(g_run.TimerPeriod.load());
    }
    if (g_run.DeviceCount != 10 || g_run.TimerPeriod != 30.0)
        state.SkipWithError("configuration not loaded");
}
BENCHMARK(BM_LoadConfiguration)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
