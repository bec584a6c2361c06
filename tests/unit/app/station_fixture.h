#pragma once
// The world of the acquisition thread and the window timers in tests: a fresh
// run-time record, a configuration folder for the saved texts, scripted
// instruments, a clock whose waits cost no real time, the record channel, and
// a writer that captures each record handed to it instead of writing a file.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/acquisition_thread.h"
#include "app/configuration.h"
#include "app/timers.h"
#include "export/record_channel.h"
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
};

// Collects the records the export timer writes (any thread).
class RecordLog {
  public:
    static RecordLog& Instance() {
        static RecordLog log;
        return log;
    }
    void Add(ExportedRecord r) {
        {
            std::lock_guard<std::mutex> g(m_);
            records_.push_back(std::move(r));
        }
        added_.notify_all();
    }
    // Waits until `count` records have been added; false after 10 s.
    bool WaitFor(std::size_t count) {
        std::unique_lock<std::mutex> g(m_);
        return added_.wait_for(g, std::chrono::seconds(10),
                               [&] { return records_.size() >= count; });
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
    std::condition_variable added_;
    std::vector<ExportedRecord> records_;
};

// What the window shows right now.
inline ExportedRecord CurrentRecord() {
    ExportedRecord r;
    for (int d = 0; d <= kMaxSlots; ++d) r.texts.push_back(g_run.TextLast[d].str());
    return r;
}

// What a handed-over record carries.
inline ExportedRecord TextsOf(const exports::Record& record) {
    ExportedRecord r;
    r.texts.push_back(record.idText);
    for (const exports::RecordSlot& slot : record.slots) r.texts.push_back(slot.field);
    return r;
}

// Takes every record of `lane` as its target would: logs "export" and the
// record, then settles it.
inline void CaptureLane(exports::RecordChannel& records, exports::RecordLane lane,
                        WindowPort& window) {
    for (exports::HandedRecord& handed : records.Take(lane)) {
        static_cast<testing::ThreadedFakeWindow&>(window).Log("export");
        RecordLog::Instance().Add(TextsOf(handed.record));
        records.Settle(handed.number);
    }
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
        RecordLog::Instance().Clear();
    }
    void TearDown() override {
        channel.Close();
        if (writer.joinable()) writer.join();
        SetRecordExporter(nullptr);
        platform::SetWaitClock(nullptr);
        RecordLog::Instance().Clear();
        ResetAcquisitionState();
        ResetRunState();
    }

    // Captures the records of the files lane on a thread of their own, as the
    // file writer would write them; `inside` runs before each is settled.
    void CaptureFileRecords(std::function<void(const exports::Record&)> inside = nullptr) {
        writer = std::thread([this, inside] {
            for (;;) {
                std::deque<exports::HandedRecord> taken =
                    channel.WaitAndTake(exports::RecordLane::Files);
                if (taken.empty()) return;
                for (exports::HandedRecord& handed : taken) {
                    if (inside) inside(handed.record);
                    window.Log("export");
                    RecordLog::Instance().Add(TextsOf(handed.record));
                    channel.Settle(handed.number);
                }
            }
        });
    }

    // Slot s: an instrument of `type` in send mode `mode`, reached through `port`.
    void Instrument(int s, int type, int mode, testing::ScriptedPort* port, int com = 1,
                    int input = 0, int decimals = 3) {
        g_run.DeviceType[s] = type;
        g_run.SendMode[s] = static_cast<SendModeKind>(mode);
        g_run.Port[s] = com;
        g_run.Channel[s] = input;
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
    exports::RecordChannel channel;
    std::thread writer;
    // Every back-end of the station; the serial slots get scripted ports.
    testing::TestDevices devices{g_run, window};
};

}  // namespace karvelo::app::test
