#pragma once
// The world of the acquisition thread and the window timers in tests: a fresh
// run-time record, a configuration folder for the saved texts, scripted
// instruments, a clock whose waits cost no real time, and an exporter that
// captures each exported record instead of writing a file.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "app/acquisition_thread.h"
#include "app/configuration.h"
#include "app/timers.h"
#include "platform/wait.h"
#include "state/run_state.h"
#include "support/scripted_port.h"
#include "support/temp_dir.h"
#include "support/test_devices.h"
#include "support/threaded_fake_window.h"

namespace karvelo::app::test {

// Waits cost no real time; `onSleep` (installed before any thread runs) sees
// every sleep, e.g. to let the window's timers fire meanwhile.
class SteppingClock : public platform::WaitClock {
  public:
    std::uint32_t TickCount() override { return now_.load(); }
    void Sleep(int ms) override {
        now_ += static_cast<std::uint32_t>(ms);
        if (onSleep) onSleep();
    }
    std::uint32_t now() const { return now_.load(); }

    std::function<void()> onSleep;

  private:
    std::atomic<std::uint32_t> now_{1000};
};

// One exported record: the ID and slot texts as the export saw them.
struct ExportedRecord {
    std::vector<std::wstring> texts;  // entries 0..10
    bool acquisitionPaused;
};

// Collects the records the export timer writes (any thread).
class RecordLog {
  public:
    static RecordLog& Instance() {
        static RecordLog log;
        return log;
    }
    void Add(ExportedRecord r) {
        std::lock_guard<std::mutex> g(m_);
        records_.push_back(std::move(r));
    }
    std::vector<ExportedRecord> records() const {
        std::lock_guard<std::mutex> g(m_);
        return records_;
    }
    std::size_t size() const {
        std::lock_guard<std::mutex> g(m_);
        return records_.size();
    }
    void Clear() {
        std::lock_guard<std::mutex> g(m_);
        records_.clear();
    }

  private:
    mutable std::mutex m_;
    std::vector<ExportedRecord> records_;
};

inline ExportedRecord CurrentRecord() {
    ExportedRecord r;
    for (int d = 0; d <= kMaxSlots; ++d) r.texts.push_back(g_run.TextLast[d].str());
    r.acquisitionPaused = g_run.AcquisitionPaused;
    return r;
}

inline void CaptureRecord(WindowPort& window) {
    RecordLog::Instance().Add(CurrentRecord());
    static_cast<testing::ThreadedFakeWindow&>(window).Log("export");
}

// An instrument that answers every request with `reply` (queued after the
// request's purge).
inline void AnswerEveryRequest(testing::ScriptedPort& port, std::string reply) {
    port.OnWrite([reply](testing::ScriptedPort& p, std::string_view) { p.Waiting(reply); });
}

class StationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        ResetAcquisitionState();
        ForgetWrittenTexts();
        g_run.ActiveConfigFile = Wide(dir.file("karvelo.cfg"));
        g_run.MainConfigFile = g_run.ActiveConfigFile.str();
        g_run.ExportType = ExportKind::CsvMulti;
        platform::SetWaitClock(&clock);
        SetRecordExporter(&CaptureRecord);
        RecordLog::Instance().Clear();
    }
    void TearDown() override {
        SetRecordExporter(nullptr);
        platform::SetWaitClock(nullptr);
        RecordLog::Instance().Clear();
        ResetAcquisitionState();
        ResetRunState();
    }

    // Lets the window's export timer fire whenever the acquisition sleeps, as
    // the user-interface thread would while the acquisition waits.
    void ExportWhileWaiting() {
        clock.onSleep = [this] {
            if (window.RunningTimer(kExportTimer)) OnTimerEvent(kExportTimer, window);
        };
    }

    // Slot s: an instrument of `type` in send mode `mode`, reached through `port`.
    void Instrument(int s, int type, int mode, testing::ScriptedPort* port, int com = 1,
                    int channel = 0, int decimals = 3) {
        g_run.DeviceType[s] = type;
        g_run.SendMode[s] = static_cast<SendModeKind>(mode);
        g_run.Port[s] = com;
        g_run.Channel[s] = channel;
        g_run.Decimals[s] = decimals;
        g_run.Factor[s] = 1.0;
        g_run.Offset[s] = 0.0;
        devices.ports().SlotPort[s] = port;
    }

    static std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
    static std::vector<ExportedRecord> Records() { return RecordLog::Instance().records(); }

    testing::TempDir dir;
    SteppingClock clock;
    testing::ThreadedFakeWindow window;
    // Every back-end of the station; the serial slots get scripted ports.
    testing::TestDevices devices{g_run, window};
};

}  // namespace karvelo::app::test
