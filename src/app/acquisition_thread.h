#pragma once
// The acquisition thread: the only thread that requests and reads instruments.
// It runs in cycles for the whole life of the process. Each cycle requests the
// slots that are due, reads every slot, formats the record texts, and when a
// reading completes a record, takes it as a value, commits it to the record
// journal (whatever the export type, 0 included), hands it to the record
// channel and waits until its target has had its turn, at most the export
// watchdog's time.
//
// Send modes (SendMode of a slot, SendModeKind):
//   0 "autom."       requested every cycle; completes a record on any trigger
//                    or when the instrument itself asks to send (result >= 2)
//   1 "F-Key"        requested only on a trigger; values that arrive
//                    unrequested are shown but complete nothing
//   2 "F-Key/Print"  requested only on a trigger; an unrequested value (the
//                    instrument's own print key) completes a record too
//   3 "Timer(s)"     as 2, triggered by the send timer
// Triggers: the send key (KeyTrigger 1), the SEND / EXPORT button (SendTrigger
// 1) and the send timer (TimerTrigger 1), sampled once at the start of a cycle.
// Key and button are taken right then, so a press during the cycle triggers
// the next one; the timer's trigger is cleared at the end of a triggered cycle,
// when the send timer restarts for a full period.
//
// Flag writers: this thread sets AcquisitionPaused when it honours a pause
// request, clears the pause requests, SendTrigger, TimerTrigger and
// IdReadRequest, and sets KeyTrigger to 2 when it takes the key. It writes no
// other flag value. Only the command that asked for the pause lifts it.

#include <mutex>
#include <optional>

#include "devices/device_set.h"
#include "export/record.h"
#include "export/record_channel.h"
#include "state/window_port.h"

namespace karvelo::app {

// Forgets the state of an earlier station start in the same process (tests),
// while no acquisition thread runs.
void ResetAcquisitionState();

class AcquisitionThread {
  public:
    // `window`, `devices` and `records` must outlive the thread.
    AcquisitionThread(WindowPort& window, devices::DeviceSet& devices,
                      exports::RecordChannel& records);
    AcquisitionThread(const AcquisitionThread&) = delete;
    AcquisitionThread& operator=(const AcquisitionThread&) = delete;

    // One complete cycle, including the hand-over wait and the closing sleep.
    void RunCycle();

    // Runs cycles on a new thread for the rest of the process. The thread is
    // never joined (it may be blocked in an instrument read when the process
    // ends), so this object must never be destroyed once started.
    void Start();

  private:
    void TextSlotPass(int s);
    void RequestPass(int slotCount, bool trigger);
    void ReadPass(int slotCount, bool trigger);
    // ReadDispatch plus the record texts of the slot and of every other slot
    // the same reply filled.
    devices::ReadOutcome ReadAndFormat(int s, bool requested);
    // Takes the raised record as a value and commits it to the journal.
    void TakeRecord();
    // Hands the taken record to its target and waits for its turn.
    void HandOverRecord();
    void RaiseRecord() { raised_ = true; }
    void Invalidate();

    WindowPort& window_;
    devices::DeviceSet& devices_;
    exports::RecordChannel& records_;
    // A reading of this cycle has completed a record.
    bool raised_ = false;
    // Held around the request and read passes of a cycle; taken by no other
    // thread.
    std::mutex slotLock_;
    // The record taken and journaled, until it is handed over (it waits for
    // an export type while there is none).
    std::optional<exports::Record> waiting_;
};

// Creates the station's acquisition thread and starts it; the object lives
// until the process ends.
AcquisitionThread& StartAcquisitionThread(WindowPort& window, devices::DeviceSet& devices,
                                          exports::RecordChannel& records);

}  // namespace karvelo::app
