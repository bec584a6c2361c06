#pragma once
// The device set: the station's back-ends, one per transport, and the generic
// steps that ask a slot's type row what to do: open and close all devices,
// request a slot, and the read dispatch that turns a reader's result into what
// the rest of the station sees (value, status word, flags).

#include <functional>
#include <memory>
#include <string_view>
#include <vector>

#include "devices/backend.h"
#include "devices/device_type.h"
#include "state/run_state.h"
#include "state/window_port.h"

namespace karvelo::devices {

// What a read gave the acquisition thread.
enum class ReadOutcome : int {
    NothingNew = -1,  // no answer while polling, a text slot, a free code
    Shown = 1,        // a value
    SendFlag1 = 2,    // a value and the instrument's own send request
    SendFlag2 = 3,
    StatusShown = 4,  // no value: a status word ("com error", "invalid", "stored", ...)
};

// The instrument itself asked for a record (its send key).
inline bool IsSendRequest(ReadOutcome r) {
    return r == ReadOutcome::SendFlag1 || r == ReadOutcome::SendFlag2;
}

// The read stored a value (and so may complete a record by itself).
inline bool StoredValue(ReadOutcome r) {
    return r == ReadOutcome::Shown || IsSendRequest(r);
}

// The dispatch's result number as --probe prints it: 1 for anything shown.
inline int ResultNumber(ReadOutcome r) {
    return r == ReadOutcome::StatusShown ? 1 : static_cast<int>(r);
}

// The word the dispatch writes for a reader code of a type; empty when the
// code is not mapped for that type (or maps to an empty status).
std::string_view StatusWordFor(const DeviceType& type, int readerCode);

class DeviceSet {
  public:
    // Takes the text of text slot s from its file source; false (and nothing
    // changed) when the file cannot be read.
    using TextSlotReader = std::function<bool(int slot)>;

    // `backends` in the order in which they open their devices.
    DeviceSet(RunState& run, std::vector<std::unique_ptr<Backend>> backends,
              TextSlotReader textReader = {});
    DeviceSet(const DeviceSet&) = delete;
    DeviceSet& operator=(const DeviceSet&) = delete;

    // Opens what slots 1..DeviceCount need, transport by transport.
    void OpenAll(WindowPort& window);
    // Releases what can be released.
    void CloseAll();

    // Triggers the instrument of slot s (1..10). A missing device marks the
    // slot with its missing-device word at once; the closing wait still runs.
    void Request(int slot);

    // Reads slot s (1..10); `requested` is true right after its request.
    ReadOutcome Read(int slot, bool requested);

    // The largest settle time over the ten slots that hold an instrument in
    // mode "autom."; 0 when there is none.
    int SettleDelayMs() const;

    // The back-end of a transport; null when the set has none.
    Backend* BackendFor(Transport transport) const;

  private:
    ReadOutcome ReadTextSlot(int slot);
    void ShowWord(int slot, std::string_view word);

    RunState& run_;
    std::vector<std::unique_ptr<Backend>> backends_;
    TextSlotReader textReader_;
};

}  // namespace karvelo::devices
