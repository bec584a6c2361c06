#include "app/acquisition_thread.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <initializer_list>
#include <string>
#include <thread>

#include "app/control_ids.h"
#include "app/run_state.h"
#include "app/slot_format.h"
#include "app/timers.h"
#include "app/window_port.h"
#include "devices/catalogue.h"
#include "devices/read_dispatch.h"
#include "devices/requests.h"
#include "export/text_sources.h"
#include "platform/wait.h"

namespace karvelo::app {
namespace {

enum SendMode : int { kAutomatic = 0, kFKey = 1, kFKeyPrint = 2, kTimerSeconds = 3 };

enum SlotStateCode : std::int16_t { kIdle = 0, kRequested = 1, kRead = 2 };

constexpr int kCycleSleepMs = 10;
constexpr int kExportWaitSteps = 100;
constexpr int kExportWaitStepMs = 50;
// A keyboard text slot takes at most this many characters of its field.
constexpr std::size_t kSlotTextMaxChars = 249;

// What a triggered slot shows while unrequested polls find nothing, by mode.
constexpr std::array<const wchar_t*, 4> kWaitWords = {nullptr, L"wait....", L"wait...",
                                                      L"wait...TIMER"};

// Milliseconds an instrument type needs between two cycles, by code range.
struct SettleRange {
    int first;
    int last;
    int ms;
};

constexpr SettleRange kSettleTimes[] = {
    {2, 2, 300},   {57, 57, 300},                               //
    {1, 1, 200},   {3, 9, 200},                                 //
    {10, 10, 100}, {48, 49, 100}, {51, 56, 100},                //
    {11, 23, 50},  {25, 25, 50},  {27, 39, 50},                 //
    {24, 24, 10},  {26, 26, 10},  {40, 47, 10},  {50, 50, 10},  //
};
// Every code above the catalogue's last one.
constexpr int kSettleBeyondCatalogueMs = 100;

// Set by this thread alone: when it honours a pause request, and cleared when
// it finds the pause lifted.
std::atomic<bool> g_pausedForCommand{false};
// Makes "pause for a command" on this thread and "lift the export's pause" on
// the user-interface thread mutually exclusive; held for a few stores only.
std::mutex g_pauseOwner;

// The triggers pending at the start of a cycle.
struct Triggers {
    bool key = false;
    bool button = false;
    bool timer = false;
    bool any() const { return key || button || timer; }
};

// Samples the triggers once and takes the send key's and the button's at
// once, so that a press during this cycle counts for the next one. A timer
// expiry during the cycle is served by it: the send timer restarts at its end.
Triggers TakeTriggers() {
    Triggers t;
    std::int16_t pressed = 1;
    t.key = g_run.KeyTrigger.compare_exchange_strong(pressed, 2);
    t.button = g_run.SendTrigger.exchange(0) == 1;
    t.timer = g_run.TimerTrigger.load() == 1;
    return t;
}

void RaiseRecord() {
    g_run.RecordReady = true;
    g_run.ExportStarted = false;
}

// Slots s and j are served by one instrument.
bool BelongTogether(int s, int j) {
    return g_run.DeviceType[j].load() == g_run.DeviceType[s].load() &&
           g_run.Port[j].load() == g_run.Port[s].load() &&
           g_run.SerialNo[j].Get() == g_run.SerialNo[s].Get();
}

int SlotCount() {
    return std::clamp(g_run.DeviceCount.load(), 0, kMaxSlots);
}

void SettleDelay() {
    platform::PumpWait(SettleDelayMs());
}

void HonourPauseRequests() {
    for (Flag* request :
         {&g_run.ConfigPauseRequest, &g_run.ExportPauseRequest, &g_run.ClosePauseRequest}) {
        if (!request->load()) continue;
        std::lock_guard<std::mutex> owner(g_pauseOwner);
        g_pausedForCommand = true;
        g_run.AcquisitionPaused = true;
        request->store(false);
    }
}

// Waits about 5 seconds at most for the export of the handed-over record. A
// watchdog that has given up on the export lets the acquisition go on at once.
void WaitForExport() {
    const auto settled = [] { return g_run.ExportDone.load() || !g_run.AcquisitionPaused.load(); };
    for (int i = 0; i < kExportWaitSteps && !settled(); ++i) platform::SleepMs(kExportWaitStepMs);
}

}  // namespace

int SettleTimeMs(int type) {
    if (type > devices::kLastDeviceType) return kSettleBeyondCatalogueMs;
    for (const SettleRange& r : kSettleTimes) {
        if (type >= r.first && type <= r.last) return r.ms;
    }
    return 0;
}

int SettleDelayMs() {
    int ms = 0;
    for (int s = 1; s <= kMaxSlots; ++s) {
        const int type = g_run.DeviceType[s];
        if (type > 0 && g_run.SendMode[s] == kAutomatic) ms = std::max(ms, SettleTimeMs(type));
    }
    return ms;
}

bool PausedForCommand() {
    return g_pausedForCommand.load() && g_run.AcquisitionPaused.load();
}

void LiftExportPause() {
    std::lock_guard<std::mutex> owner(g_pauseOwner);
    if (!PausedForCommand()) g_run.AcquisitionPaused = false;
}

void ResetAcquisitionState() {
    g_pausedForCommand = false;
}

AcquisitionThread::AcquisitionThread(WindowPort& window) : window_(window) {}

void AcquisitionThread::Start() {
    std::thread([this] {
        for (;;) RunCycle();
    }).detach();
}

AcquisitionThread& StartAcquisitionThread(WindowPort& window) {
    // Never deleted: the detached thread uses it until the process ends.
    auto* thread = new AcquisitionThread(window);
    thread->Start();
    return *thread;
}

void AcquisitionThread::RunCycle() {
    if (g_run.AcquisitionPaused) {
        platform::SleepMs(kCycleSleepMs);
        return;
    }
    g_pausedForCommand = false;

    const bool trigger = TakeTriggers().any();
    const int slotCount = SlotCount();
    {
        std::lock_guard<std::mutex> lock(slotLock_);
        for (int d = 0; d <= kMaxSlots; ++d) g_run.SlotState[d] = kIdle;
        // Cleared before the read, so that a request made during it is kept.
        if (g_run.IdReadRequest.exchange(false)) {
            exports::ReadIdText(window_);
            g_run.SlotState[kIdEntry] = kRead;
        }
        RequestPass(slotCount, trigger);
        ReadPass(slotCount, trigger);
    }

    if (g_run.RecordReady && !g_run.ExportStarted && g_run.ExportType >= 1) HandOverRecord();

    SettleDelay();
    if (trigger) {
        g_run.TimerTrigger = 0;
        // The next timer trigger comes one full period after this cycle.
        const double period = g_run.TimerPeriod;
        if (period > 0.0) window_.StartTimer(kSendTimer, SendTimerMs(period));
    }
    HonourPauseRequests();
    platform::SleepMs(kCycleSleepMs);
}

void AcquisitionThread::TextSlotPass(int s) {
    const int source = g_run.TextSource[s];
    if (source == 0) {
        std::wstring text = window_.GetControlText(kSlotTextFirst - 1 + s);
        if (text.size() > kSlotTextMaxChars) text.resize(kSlotTextMaxChars);
        g_run.TextLast[s] = text;
        g_run.ValueReady[s] = true;
        g_run.ValueError[s] = false;
    } else if (source > 0) {
        devices::ReadDispatch(s, false);
    }
    g_run.SlotState[s] = kRead;
}

void AcquisitionThread::RequestPass(int slotCount, bool trigger) {
    for (int s = 1; s <= slotCount; ++s) {
        const int type = g_run.DeviceType[s];
        const int mode = g_run.SendMode[s];
        if (type == 0) {
            if (g_run.SlotState[s] == kIdle) TextSlotPass(s);
            continue;
        }
        if (type < 0 || mode < 0 || (mode > kAutomatic && !trigger)) continue;

        if (g_run.SlotState[s] == kIdle) {
            devices::RequestMeasurement(s);
            g_run.SlotState[s] = kRequested;
        }
        if (!devices::IsSharedRequestType(type)) continue;
        // A shared instrument is read right after its request, once more for
        // each later slot that shares it, until it has given a value; its
        // reader fills those slots too.
        for (int j = s + 1; j <= kMaxSlots; ++j) {
            if (g_run.SlotState[s] == kRead) break;
            if (!BelongTogether(s, j)) continue;
            const int r = ReadAndFormat(s, true);
            Invalidate();
            if (trigger || r >= 2) RaiseRecord();
            SettleDelay();
        }
    }
}

void AcquisitionThread::ReadPass(int slotCount, bool trigger) {
    for (int s = 1; s <= slotCount; ++s) {
        if (g_run.DeviceType[s] <= 0) continue;
        const int mode = g_run.SendMode[s];
        if (mode == kAutomatic) {
            if (g_run.SlotState[s] != kRequested) continue;
            const int r = ReadAndFormat(s, true);
            Invalidate();
            if (trigger || r >= 2) RaiseRecord();
            continue;
        }
        // Modes above 3 come only from a hand-edited file: requested, never read.
        if (mode < kFKey || mode > kTimerSeconds) continue;

        if (g_run.SlotState[s] == kRequested) {
            const int r = ReadAndFormat(s, true);
            Invalidate();
            if (r >= 1) RaiseRecord();
        }
        if (g_run.SlotState[s] != kIdle) continue;
        // Not requested in this cycle: poll for a value the instrument sent by itself.
        const int r = ReadAndFormat(s, false);
        if (r >= 1) {
            Invalidate();
            if (mode >= kFKeyPrint) RaiseRecord();
        } else {
            g_run.StatusText[s] = kWaitWords[static_cast<std::size_t>(mode)];
            Invalidate();
        }
    }
}

int AcquisitionThread::ReadAndFormat(int s, bool requested) {
    std::array<bool, kSlotEntries> readBefore{};
    for (int d = 1; d <= kMaxSlots; ++d) readBefore[d] = g_run.SlotState[d] == kRead;

    const int r = devices::ReadDispatch(s, requested);

    FormatSlotValue(s);
    // One reply may fill several slots (SD1, PU41/42, IBRit-md1, ALMEMO, the
    // PU USB family). Their record texts are brought up to date in the same
    // cycle, so that a record never carries an older text than the window shows.
    for (int d = 1; d <= kMaxSlots; ++d) {
        if (d != s && !readBefore[d] && g_run.SlotState[d] == kRead) FormatSlotValue(d);
    }
    return r;
}

void AcquisitionThread::HandOverRecord() {
    window_.ShowControl(kSendButton, false);
    g_run.AcquisitionPaused = true;
    g_run.ExportStarted = true;
    g_run.ExportDone = false;
    window_.StartTimer(kExportTimer, TimerPeriodMs(kExportTimer));
    // An export that takes longer is left to finish on its own; the thread
    // stays paused until the export or its watchdog lets it go on.
    WaitForExport();
}

void AcquisitionThread::Invalidate() {
    window_.InvalidateValues();
}

}  // namespace karvelo::app
