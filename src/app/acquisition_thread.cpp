#include "app/acquisition_thread.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>

#include "app/configuration.h"
#include "app/forwarding.h"
#include "app/slot_format.h"
#include "app/timers.h"
#include "devices/catalogue.h"
#include "export/csv_export.h"
#include "export/export_record.h"
#include "export/record.h"
#include "export/record_journal.h"
#include "export/text_sources.h"
#include "platform/wait.h"
#include "state/control_ids.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::app {
namespace {

using devices::IsSendRequest;
using devices::ReadOutcome;
using devices::StoredValue;
constexpr SlotStage kIdle = SlotStage::Idle;
constexpr SlotStage kRequested = SlotStage::Requested;
constexpr SlotStage kRead = SlotStage::Read;

constexpr int kCycleSleepMs = 10;
// A keyboard text slot takes at most this many characters of its field.
constexpr std::size_t kSlotTextMaxChars = 249;

// What a triggered slot shows while unrequested polls find nothing.
const wchar_t* WaitWord(SendModeKind mode) {
    switch (mode) {
        case SendModeKind::FKey:
            return L"wait....";
        case SendModeKind::FKeyPrint:
            return L"wait...";
        case SendModeKind::Timer:
            return L"wait...TIMER";
        case SendModeKind::Automatic:
            break;
    }
    return L"";
}

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
    TriggerStage pressed = TriggerStage::Pending;
    t.key = g_run.KeyTrigger.compare_exchange_strong(pressed, TriggerStage::Taken);
    t.button = g_run.SendTrigger.exchange(TriggerStage::Idle) == TriggerStage::Pending;
    t.timer = g_run.TimerTrigger.load() == TriggerStage::Pending;
    return t;
}

// Slots s and j are served by one instrument.
bool BelongTogether(int s, int j) {
    return g_run.DeviceType[j].load() == g_run.DeviceType[s].load() &&
           g_run.Port[j].load() == g_run.Port[s].load() &&
           g_run.SerialNo[j].Get() == g_run.SerialNo[s].Get();
}

// An earlier slot served by the same fan-out instrument has been requested in
// this cycle. Shared-request types read right after each request and are left
// to that.
bool RequestedWithSibling(int s, const devices::DeviceType& type) {
    if (!type.Has(devices::kFanOutReader) || type.Has(devices::kSharedRequest)) return false;
    for (int j = 1; j < s; ++j) {
        if (BelongTogether(s, j) && g_run.SlotState[j] != kIdle) return true;
    }
    return false;
}

int SlotCount() {
    return std::clamp(g_run.DeviceCount.load(), 0, kMaxSlots);
}

void HonourPauseRequests() {
    for (Flag* request :
         {&g_run.ConfigPauseRequest, &g_run.ExportPauseRequest, &g_run.ClosePauseRequest}) {
        if (!request->load()) continue;
        g_run.AcquisitionPaused = true;
        request->store(false);
    }
}

}  // namespace

void ResetAcquisitionState() {
    ResetExportState();
}

AcquisitionThread::AcquisitionThread(WindowPort& window, devices::DeviceSet& devices,
                                     exports::RecordChannel& records)
    : window_(window), devices_(devices), records_(records) {}

void AcquisitionThread::Start() {
    std::thread([this] {
        for (;;) RunCycle();
    }).detach();
}

AcquisitionThread& StartAcquisitionThread(WindowPort& window, devices::DeviceSet& devices,
                                          exports::RecordChannel& records) {
    // Never deleted: the detached thread uses it until the process ends.
    auto* thread = new AcquisitionThread(window, devices, records);
    thread->Start();
    return *thread;
}

void AcquisitionThread::RunCycle() {
    if (g_run.AcquisitionPaused) {
        platform::SleepMs(kCycleSleepMs);
        return;
    }

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

    if (std::exchange(raised_, false)) TakeRecord();
    if (g_run.ExportType != ExportKind::None && waiting_) HandOverRecord();

    platform::PumpWait(devices_.SettleDelayMs());
    if (trigger) {
        g_run.TimerTrigger = TriggerStage::Idle;
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
        devices_.Read(s, false);
    }
    g_run.SlotState[s] = kRead;
}

void AcquisitionThread::RequestPass(int slotCount, bool trigger) {
    for (int s = 1; s <= slotCount; ++s) {
        const int code = g_run.DeviceType[s];
        const devices::DeviceType& type = devices::DeviceTypeOf(code);
        const SendModeKind mode = g_run.SendMode[s];
        if (type.transport == devices::Transport::Text) {
            if (g_run.SlotState[s] == kIdle) TextSlotPass(s);
            continue;
        }
        // Negative codes and modes come only from a hand-edited file: nothing to do.
        if (!devices::IsInstrumentCode(code) || static_cast<int>(mode) < 0) continue;
        if (mode != SendModeKind::Automatic && !trigger) continue;

        if (g_run.SlotState[s] == kIdle) {
            // One reply of a fan-out instrument serves all its slots: a second
            // request in the same cycle would leave a second reply behind, read
            // in the next cycle as if the instrument had sent it by itself.
            if (!RequestedWithSibling(s, type)) devices_.Request(s);
            g_run.SlotState[s] = kRequested;
        }
        if (!type.Has(devices::kSharedRequest)) continue;
        // A shared instrument is read right after its request, once more for
        // each later slot that shares it, until it has given a value; its
        // reader fills those slots too.
        for (int j = s + 1; j <= kMaxSlots; ++j) {
            if (g_run.SlotState[s] == kRead) break;
            if (!BelongTogether(s, j)) continue;
            const ReadOutcome r = ReadAndFormat(s, true);
            Invalidate();
            if (trigger || IsSendRequest(r)) RaiseRecord();
            platform::PumpWait(devices_.SettleDelayMs());
        }
    }
}

void AcquisitionThread::ReadPass(int slotCount, bool trigger) {
    for (int s = 1; s <= slotCount; ++s) {
        const int code = g_run.DeviceType[s];
        if (!devices::IsInstrumentCode(code)) continue;
        const SendModeKind mode = g_run.SendMode[s];
        if (mode == SendModeKind::Automatic) {
            if (g_run.SlotState[s] != kRequested) continue;
            const ReadOutcome r = ReadAndFormat(s, true);
            Invalidate();
            if (trigger || IsSendRequest(r)) RaiseRecord();
            continue;
        }
        // Other modes come only from a hand-edited file: requested, never read.
        if (mode != SendModeKind::FKey && mode != SendModeKind::FKeyPrint &&
            mode != SendModeKind::Timer) {
            continue;
        }

        if (g_run.SlotState[s] == kRequested) {
            const ReadOutcome r = ReadAndFormat(s, true);
            Invalidate();
            if (r != ReadOutcome::NothingNew) RaiseRecord();
        }
        if (g_run.SlotState[s] != kIdle) continue;
        // Not requested in this cycle: poll for a value the instrument sent by
        // itself. Only a value it sent completes a record; a status word (a port
        // that is not open, noise on the line) is shown and nothing more.
        const ReadOutcome r = ReadAndFormat(s, false);
        if (r != ReadOutcome::NothingNew) {
            Invalidate();
            if (mode != SendModeKind::FKey && StoredValue(r)) RaiseRecord();
        } else if (g_run.StatusText[s].str() != WaitWord(mode)) {
            // An idle slot polled again with nothing new is left unpainted.
            g_run.StatusText[s] = WaitWord(mode);
            Invalidate();
        }
    }
}

ReadOutcome AcquisitionThread::ReadAndFormat(int s, bool requested) {
    std::array<bool, kSlotEntries> readBefore{};
    for (int d = 1; d <= kMaxSlots; ++d) readBefore[d] = g_run.SlotState[d] == kRead;

    const ReadOutcome r = devices_.Read(s, requested);

    FormatSlotValue(s);
    // One reply may fill several slots (SD1, PU41/42, IBRit-md1, ALMEMO, the
    // PU USB family). Their record texts are brought up to date in the same
    // cycle, so that a record never carries an older text than the window shows.
    for (int d = 1; d <= kMaxSlots; ++d) {
        if (d != s && !readBefore[d] && g_run.SlotState[d] == kRead) FormatSlotValue(d);
    }
    return r;
}

void AcquisitionThread::TakeRecord() {
    // The record is a value from here on: the journal and every target get
    // this very one, however late they write it.
    exports::Record record =
        exports::CaptureRecord(g_run, exports::StampNow(), exports::NewRecordId());
    const std::wstring before = exports::JournalProblem();
    // Written ahead: the journal has the record before any target sees it.
    exports::CommitRecord(record);
    waiting_ = std::move(record);
    // The plant server gets it from the journal, on the forwarder's thread.
    UpdateForwarding(window_);
    // Without an export the window learns of the journal's trouble (or its
    // end) here; an export shows it with its own outcome.
    if (g_run.ExportType == ExportKind::None &&
        (!before.empty() || !exports::JournalProblem().empty())) {
        WindowPort* window = &window_;
        window_.PostToUi([window] { exports::RetryPendingRecords(*window); });
    }
}

void AcquisitionThread::HandOverRecord() {
    exports::Record record = std::move(*waiting_);
    waiting_.reset();
    const ExportKind type = g_run.ExportType;
    if (record.exportType != type) {
        // Taken while there was no export type: it goes where records go now.
        record.exportType = type;
        record.target = exports::RecordTargetPath(g_run, type, record.idText);
        exports::AssignRecordTarget(record);
    }
    const exports::RecordLane lane = exports::LaneOf(type);
    window_.ShowControl(kSendButton, false);
    const std::uint64_t number = records_.Hand(std::move(record));
    if (lane == exports::RecordLane::Window) {
        window_.StartTimer(kExportTimer, TimerPeriodMs(kExportTimer));
    }
    // Held still meanwhile, so that the window shows what the record holds.
    // An export that takes longer is left to finish on its own, and the
    // records behind it wait in the channel, in order.
    if (!records_.WaitTaken(number, std::chrono::milliseconds(kExportWatchdogMs))) {
        const std::size_t open = records_.Open();
        WindowPort* window = &window_;
        window_.PostToUi([window, open] { exports::ReportRecordsWaiting(*window, open); });
    }
    window_.ShowControl(kSendButton, true);
    // The texts of the record just handed over survive a restart.
    WindowPort* window = &window_;
    window_.PostToUi([window] { SaveTextsSoon(*window); });
}

void AcquisitionThread::Invalidate() {
    window_.InvalidateValues();
}

}  // namespace karvelo::app
