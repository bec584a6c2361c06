// One acquisition cycle of a PU interface with five probes, through the
// adapter simulator loaded as libftd2xx.so: one request and one reply fill
// all five slots. The simulator answers at once, so what a cycle costs beyond
// the station's own waits is the station's work.
//
// Counters:
//   cycle_ms           wall time of one cycle
//   waits_cycle_ms     the waits of the cycle: the settle delay after the
//                      shared read and again at the end, the closing sleep
//   own_ms             cycle_ms - waits_cycle_ms: the station's own time,
//                      including how late the sleeps wake up
//   cpu_ms_per_cycle   CPU time of the acquisition thread per cycle
//   cpu_share_pct      cpu_ms_per_cycle as a share of the waits (goal: below 1 %)

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <memory>
#include <string>

#include "app/acquisition_thread.h"
#include "app/null_window.h"
#include "backends/ftdi/d2xx_library.h"
#include "backends/registry.h"
#include "bench_clock.h"
#include "devices/catalogue.h"
#include "devices/device_set.h"
#include "export/record_channel.h"
#include "state/run_state.h"
#include "support/temp_dir.h"
#include "support/test_devices.h"

namespace {

using namespace karvelo;
using bench::MsSince;
using bench::ThreadCpuMs;
using Clock = std::chrono::steady_clock;

constexpr int kPu60 = 14;
constexpr int kProbes = 5;

void BM_PuAdapterCycle(benchmark::State& state) {
    testing::TempDir dir;
    dir.Write("ftdi-sim.ini",
              "[pu60]\ndescription=PU 60\nserial=FT4A21B0\nprotocol=pu\n"
              "values=1.234/-0.567/0.010/2.5/3.5 1.235/-0.566/0.011/2.4/3.6\n");
    setenv("KARVELO_FTDI_SIM", dir.file("ftdi-sim.ini").c_str(), 1);
    setenv("KARVELO_FTDI_SIM_LOG", "/dev/null", 1);

    ResetRunState();
    app::ResetAcquisitionState();
    g_run.DeviceCount = kProbes;
    for (int s = 1; s <= kProbes; ++s) {
        g_run.DeviceType[s] = kPu60;
        g_run.SerialNo[s] = L"FT4A21B0";
        g_run.Channel[s] = s;
        g_run.SendMode[s] = SendModeKind::Automatic;
        g_run.Decimals[s] = 3;
        g_run.Factor[s] = 1.0;
    }
    app::NullWindow window;
    const auto simulator = [] {
        return ftdi::LoadD2xxFile(std::string(KARVELO_SIM_DIR) + "/libftd2xx.so");
    };
    devices::DeviceSet devices(
        g_run, backends::StationBackends(
                   g_run, window, testing::TestDevices::Sources(testing::NoPorts(), simulator)));
    devices.OpenAll(window);
    exports::RecordChannel records;
    app::AcquisitionThread acquisition(window, devices, records);

    long cycles = 0;
    const double cpu0 = ThreadCpuMs();
    const auto t0 = Clock::now();
    for (auto _ : state) {
        acquisition.RunCycle();
        ++cycles;
    }
    const double wallMs = MsSince(t0);
    const double cpuMs = ThreadCpuMs() - cpu0;
    devices.CloseAll();

    if (!g_run.StatusText[1].str().empty() || g_run.Value[1].load() == 0.0) {
        state.SkipWithError("the simulated adapter gave no values");
        return;
    }
    const double waits = 2.0 * devices::DeviceTypeOf(kPu60).settleMs + 10.0;
    const double cycle = wallMs / static_cast<double>(cycles);
    state.counters["cycle_ms"] = cycle;
    state.counters["waits_cycle_ms"] = waits;
    state.counters["own_ms"] = cycle - waits;
    state.counters["cpu_ms_per_cycle"] = cpuMs / static_cast<double>(cycles);
    state.counters["cpu_share_pct"] = 100.0 * cpuMs / static_cast<double>(cycles) / waits;
    state.SetLabel("PU 60, 5 probes, one adapter");
}
BENCHMARK(BM_PuAdapterCycle)->Iterations(60)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
