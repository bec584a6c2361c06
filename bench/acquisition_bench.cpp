// What the station's threads cost and how fast a trigger becomes a line in the
// CSV file. The station runs as it does at the bench: the acquisition thread,
// the key-poll thread and a user-interface thread that fires the window's
// timers, with instruments on pseudo-terminals that answer every request at
// once and the real CSV export. It paints nothing and has no event loop: the
// window is a stand-in that only fires timers, so its CPU figures read low
// against the real program (station_cpu_bench measures that one).
//
// Counters:
//   station_cpu_ms_per_s  CPU time of the three station threads per second of
//                         wall time (the instrument simulators are not counted);
//                         in TriggerToCsvLine too, where the CPU column is the
//                         benchmark's own thread waiting for the lines
//   cycles_per_s          acquisition cycles per second
//   latency_*_ms          from a SEND / EXPORT press to its line in the file
//   to_handover_mean_ms   from the press to the record's hand-over (timer 1)
//   export_mean_ms        timer 1's handler: the CSV line and the saved texts
//   waits_cycle_ms        the cycle time that the station's own waits add up to
//                         (closing waits of the requests, settle delay, 10 ms
//                         closing sleep); the reads themselves are not in it

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/acquisition_thread.h"
#include "app/key_poll_thread.h"
#include "app/null_window.h"
#include "app/station_devices.h"
#include "app/timers.h"
#include "bench_clock.h"
#include "devices/catalogue.h"
#include "export/file_writer.h"
#include "export/record_channel.h"
#include "platform/keystate.h"
#include "platform/profile.h"
#include "platform/wait.h"
#include "state/run_state.h"
#include "support/pty_pair.h"
#include "support/temp_dir.h"

namespace {

using namespace karvelo;
using bench::MsSince;
using bench::ThreadCpuMs;
using Clock = std::chrono::steady_clock;

constexpr int kSylvacDuplex = 1;
constexpr int kSd1 = 26;

// CPU time the station's threads have used, added up as each thread ends.
std::atomic<double> g_stationCpuMs{0.0};

// The window: a user-interface thread that fires the timers the core starts
// (periodic, as window timers are, until their handler stops them).
class BenchWindow : public app::NullWindow {
  public:
    BenchWindow()
        : ui_([this](std::stop_token stop) {
              RunTimers(stop);
              g_stationCpuMs = g_stationCpuMs.load() + ThreadCpuMs();
          }) {}
    ~BenchWindow() override {
        ui_.request_stop();
        cv_.notify_all();
    }

    // The acquisition hides SEND / EXPORT when it hands a record over.
    void ShowControl(int id, bool visible) override {
        if (id == kSendButton && !visible) handedOver_ = Clock::now().time_since_epoch().count();
    }
    void StartTimer(int id, int ms) override {
        std::lock_guard<std::mutex> g(m_);
        timers_[id] = {Clock::now() + std::chrono::milliseconds(ms), ms};
        cv_.notify_all();
    }
    void StopTimer(int id) override {
        std::lock_guard<std::mutex> g(m_);
        timers_.erase(id);
    }
    void MessageBox(std::wstring_view, std::wstring_view, MessageIcon) override {}

    void Stop() {
        if (!ui_.joinable()) return;
        ui_.request_stop();
        cv_.notify_all();
        ui_.join();
    }

  private:
    struct Timer {
        Clock::time_point due;
        int periodMs;
    };

    void RunTimers(std::stop_token stop) {
        std::unique_lock<std::mutex> g(m_);
        while (!stop.stop_requested()) {
            auto next = std::min_element(timers_.begin(), timers_.end(), [](auto& a, auto& b) {
                return a.second.due < b.second.due;
            });
            if (next == timers_.end()) {
                cv_.wait_for(g, std::chrono::milliseconds(50));
                continue;
            }
            if (Clock::now() < next->second.due) {
                cv_.wait_until(g, next->second.due);
                continue;
            }
            const int id = next->first;
            next->second.due += std::chrono::milliseconds(std::max(next->second.periodMs, 1));
            g.unlock();
            app::OnTimerEvent(id, *this);
            g.lock();
        }
    }

  public:
    // When the acquisition last handed a record over.
    Clock::time_point handedOver() const {
        return Clock::time_point(Clock::duration(handedOver_.load()));
    }

  private:
    std::atomic<Clock::rep> handedOver_{0};
    std::mutex m_;
    std::condition_variable_any cv_;
    std::map<int, Timer> timers_;
    std::jthread ui_;
};

// An instrument on a pseudo-terminal that answers each request line at once.
class Instrument {
  public:
    explicit Instrument(std::string reply)
        : reply_(std::move(reply)), responder_([this](std::stop_token stop) { Answer(stop); }) {}
    const std::string& path() const { return pty_.SlavePath(); }

  private:
    void Answer(std::stop_token stop) {
        std::string pending;
        while (!stop.stop_requested()) {
            pending += pty_.ReadUntil('\r', std::chrono::milliseconds(50));
            if (!pending.empty() && pending.back() == '\r') {
                pty_.Write(reply_);
                pending.clear();
            }
        }
    }

    testing::PtyPair pty_;
    std::string reply_;
    std::jthread responder_;
};

// The milliseconds a cycle of `count` "autom." slots of `type` spends in the
// station's own waits: the requests' closing waits, the settle delay and the
// closing sleep.
double WaitsPerCycleMs(int type, int count) {
    const int closingWaitMs = type == kSylvacDuplex ? 200 : 0;
    return count * closingWaitMs + devices::DeviceTypeOf(type).settleMs + 10;
}

// A running station with `count` "autom." slots of `type`, each on its own
// pseudo-terminal.
class Station {
  public:
    Station(int type, int count, int exportType) {
        ResetRunState();
        app::ResetAcquisitionState();
        g_stationCpuMs = 0.0;
        const std::wstring cfg = Wide(dir_.file("karvelo.cfg"));
        g_run.MainConfigFile = cfg;
        g_run.ActiveConfigFile = cfg;
        g_run.ExportType = static_cast<ExportKind>(exportType);
        g_run.ExportPath = Wide(dir_.path().string()) + L"/";
        g_run.CsvFileName = L"records.csv";
        g_run.DeviceCount = count;
        const std::string reply = type == kSd1 ? "1.500;2.500\r" : "+1.234\r";
        for (int s = 1; s <= count; ++s) {
            instruments_.push_back(std::make_unique<Instrument>(reply));
            platform::WriteProfileString(L"PORTS", L"COM" + std::to_wstring(s),
                                         Wide(instruments_.back()->path()),
                                         dir_.file("karvelo.cfg"));
            g_run.DeviceType[s] = type;
            g_run.Port[s] = s;
            g_run.Channel[s] = 1;
            g_run.SendMode[s] = SendModeKind::Automatic;
            g_run.Decimals[s] = 3;
            g_run.Factor[s] = 1.0;
        }
        devices_->OpenAll(window_);
    }
    ~Station() {
        Stop();
        devices_->CloseAll();
        ResetRunState();
    }

    void Start() {
        acquisitionThread_ = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                acquisition_.RunCycle();
                ++cycles_;
            }
            g_stationCpuMs = g_stationCpuMs.load() + ThreadCpuMs();
        });
        pollThread_ = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                poll_.Poll();
                platform::SleepMs(app::KeyPollThread::kPollMs);
            }
            g_stationCpuMs = g_stationCpuMs.load() + ThreadCpuMs();
        });
    }
    void Stop() {
        if (acquisitionThread_.joinable()) {
            acquisitionThread_.request_stop();
            acquisitionThread_.join();
        }
        if (pollThread_.joinable()) {
            pollThread_.request_stop();
            pollThread_.join();
        }
        window_.Stop();
    }

    std::uintmax_t FileSize() {
        std::error_code ec;
        const auto n = std::filesystem::file_size(dir_.file("records.csv"), ec);
        return ec ? 0 : n;
    }
    long cycles() const { return cycles_.load(); }
    const BenchWindow& window() const { return window_; }

  private:
    static std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

    testing::TempDir dir_;
    std::vector<std::unique_ptr<Instrument>> instruments_;
    BenchWindow window_;
    std::unique_ptr<devices::DeviceSet> devices_ = app::MakeStationDevices(g_run, window_);
    exports::RecordChannel channel_;
    // Its thread's CPU time is not in station_cpu_ms_per_s; station_cpu_bench
    // measures the whole process.
    exports::FileWriter writer_{channel_, window_};
    app::AcquisitionThread acquisition_{window_, *devices_, channel_};
    platform::NoKeyState keys_;
    app::KeyPollThread poll_{keys_};
    std::atomic<long> cycles_{0};
    std::jthread acquisitionThread_;
    std::jthread pollThread_;
};

void ReportCpu(benchmark::State& state, Station& station, double wallMs) {
    state.counters["station_cpu_ms_per_s"] = g_stationCpuMs.load() / (wallMs / 1000.0);
    state.counters["cycles_per_s"] = station.cycles() / (wallMs / 1000.0);
    state.SetIterationTime(wallMs / 1000.0);
}

// Idle: arg 0 = paused with three slots configured, arg 1 = running without slots.
void BM_IdleStationCpu(benchmark::State& state) {
    for (auto _ : state) {
        const bool paused = state.range(0) == 0;
        Station station(kSd1, paused ? 3 : 0, 2);
        g_run.AcquisitionPaused = paused;
        const auto t0 = Clock::now();
        station.Start();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        station.Stop();
        ReportCpu(state, station, MsSince(t0));
    }
    state.SetLabel(state.range(0) == 0 ? "paused; no paint, no event loop"
                                       : "no slots; no paint, no event loop");
}
BENCHMARK(BM_IdleStationCpu)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Three "autom." slots of the given type, no trigger.
void BM_RunningStationCpu(benchmark::State& state) {
    const int type = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Station station(type, 3, 2);
        const auto t0 = Clock::now();
        station.Start();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        station.Stop();
        ReportCpu(state, station, MsSince(t0));
    }
    state.counters["waits_cycle_ms"] = WaitsPerCycleMs(type, 3);
    state.SetLabel(type == kSd1 ? "3 x SD1; no paint, no event loop"
                                : "3 x Sylvac duplex; no paint, no event loop");
}
BENCHMARK(BM_RunningStationCpu)
    ->Arg(kSd1)
    ->Arg(kSylvacDuplex)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// SEND / EXPORT presses at random moments of the cycle; each waits for its line.
void BM_TriggerToCsvLine(benchmark::State& state) {
    const int type = static_cast<int>(state.range(0));
    const int presses = type == kSd1 ? 40 : 8;
    std::vector<double> latencies;
    double toHandOver = 0.0;
    double stationCpuPerS = 0.0;
    for (auto _ : state) {
        Station station(type, 3, 2);
        const auto started = Clock::now();
        station.Start();
        std::mt19937 random(7);
        const int cycleMs = static_cast<int>(WaitsPerCycleMs(type, 3));
        // Past the previous record's hand-over wait, then anywhere in a cycle.
        std::uniform_int_distribution<int> offset(60, 60 + cycleMs);
        double total = 0.0;
        for (int i = 0; i < presses; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(offset(random)));
            const auto before = station.FileSize();
            const auto t0 = Clock::now();
            g_run.SendTrigger = TriggerStage::Pending;
            while (station.FileSize() == before && MsSince(t0) < 10000) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            latencies.push_back(MsSince(t0));
            total += latencies.back();
            toHandOver +=
                std::chrono::duration<double, std::milli>(station.window().handedOver() - t0)
                    .count();
        }
        station.Stop();
        stationCpuPerS = g_stationCpuMs.load() / (MsSince(started) / 1000.0);
        state.SetIterationTime(total / 1000.0);
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["latency_mean_ms"] =
        std::accumulate(latencies.begin(), latencies.end(), 0.0) / latencies.size();
    state.counters["latency_min_ms"] = latencies.front();
    state.counters["latency_max_ms"] = latencies.back();
    state.counters["to_handover_mean_ms"] = toHandOver / latencies.size();
    state.counters["waits_cycle_ms"] = WaitsPerCycleMs(type, 3);
    state.counters["station_cpu_ms_per_s"] = stationCpuPerS;
    // The CPU column is this thread polling the file, not the station.
    state.SetLabel(type == kSd1 ? "3 x SD1 autom.; CPU column = bench's own wait loop"
                                : "3 x Sylvac duplex autom.; CPU column = bench's own wait loop");
}
BENCHMARK(BM_TriggerToCsvLine)
    ->Arg(kSd1)
    ->Arg(kSylvacDuplex)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
