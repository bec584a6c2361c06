// The serial reader code alone: purge, write "?\r" and read a Sylvac's 9-byte
// line from a pseudo-terminal whose instrument answers at once. Not the cost of
// a reading in the running station: no closing wait (the 200 ms of type 1, with
// its wakeups), no window to repaint, no record, no event loop. Wall time is the
// bytes' arrival plus the reader's work; reader_cpu_us_per_read is the CPU time
// of the reading thread. station_cpu_bench has the real program's cost per reading.

#include <benchmark/benchmark.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/null_window.h"
#include "backends/serial/zento_com.h"
#include "devices/catalogue.h"
#include "state/run_state.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"
#include "support/test_devices.h"

namespace {

using namespace karvelo;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Answers every "?\r" with "+012.345\r" as soon as it arrives.
class InstantGauge {
  public:
    explicit InstantGauge(int master) : master_(master), thread_([this] { Run(); }) {}
    ~InstantGauge() {
        stop_ = true;
        thread_.join();
    }

  private:
    void Run() {
        std::string pending;
        while (!stop_) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0) continue;
            char buf[64];
            const ssize_t n = read(master_, buf, sizeof buf);
            if (n <= 0) continue;
            pending.append(buf, static_cast<std::size_t>(n));
            for (std::size_t at; (at = pending.find("?\r")) != std::string::npos;) {
                pending.erase(0, at + 2);
                static const char kReply[] = "+012.345\r";
                (void)!write(master_, kReply, sizeof kReply - 1);
            }
        }
    }

    int master_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_RequestAndReadNineByteReply(benchmark::State& state) {
    karvelo::testing::TempDir dir;
    karvelo::testing::PtyPair pty;
    dir.Write("karvelo.cfg", "[PORTS]\nCOM3=" + pty.SlavePath() + "\n");
    ResetRunState();
    const std::string main = dir.file("karvelo.cfg");
    g_run.MainConfigFile = std::wstring(main.begin(), main.end());
    g_run.DeviceType[1] = 1;
    g_run.Factor[1] = 1.0;

    serial::zento_com port;
    if (!port.open(devices::DeviceTypeOf(1).serial.line,
                   serial::ComDevicePath(3, g_run.MainConfigFile.str()))) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    app::NullWindow window;
    testing::TestDevices station(g_run, window);
    station.ports().SlotPort[1] = &port;
    InstantGauge gauge(pty.MasterFd());

    double cpu = 0.0;
    for (auto _ : state) {
        const double before = ThreadCpuSeconds();
        // The request without its closing wait: the bytes, then the read.
        port.Purge();
        static const std::uint8_t kRequest[] = {'?', '\r'};
        port.Write(kRequest);
        const auto r = station.set.Read(1, true);
        cpu += ThreadCpuSeconds() - before;
        if (r != devices::ReadOutcome::Shown || g_run.Value[1] != 12.345)
            state.SkipWithError("no value read");
    }
    state.SetLabel("reader code only: no closing wait, no window, no record");
    state.counters["reader_cpu_us_per_read"] =
        benchmark::Counter(cpu * 1e6 / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_RequestAndReadNineByteReply)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
