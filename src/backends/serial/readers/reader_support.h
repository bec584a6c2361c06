#pragma once
// What a serial reader works on, and small helpers the readers share: slot
// bounds, the slot's result fields and the test for slots that share one
// instrument.

#include <cmath>
#include <optional>

#include "backends/serial/line_settings.h"
#include "backends/serial/port_table.h"
#include "devices/device_type.h"
#include "state/run_state.h"

#include "devices/reader.h"

namespace karvelo::serial {

using devices::kDeviceFault;
using devices::kErrorMarker;
using devices::kMalformed;
using devices::kNoAnswer;
using devices::kNotOpen;
using devices::kOutOfRange;
using devices::kSendFlag2;
using devices::kStoredOrSendFlag1;
using devices::kValueStored;
using devices::ReaderResult;

struct ReadContext {
    RunState& run;                    // the slots' settings and results
    const PortTable& ports;           // the open port of each slot
    const devices::DeviceType& type;  // the row of the type being read

    SerialLine* PortOf(int s) const { return ports.PortOf(s); }
};

namespace readers {

// Entries 0..10 of the per-slot arrays; anything else is never indexed.
inline bool IsSlotEntry(int s) {
    return s >= 0 && s <= kMaxSlots;
}

// A failed read leaves nothing to show.
inline void ClearResults(RunState& run, int s) {
    run.ValueReady[s] = false;
    run.ValueError[s] = false;
    run.Value[s] = 0.0;
}

// A converted reading scaled with the slot's own factor (and offset); nullopt
// when that is no finite number: an exponent such as 1e999 in the reply, or a
// reading the slot's scale takes beyond the range of a double.
inline std::optional<double> Scaled(const RunState& run, int s, double raw,
                                    bool withOffset = true) {
    const double value = raw * run.Factor[s].load() + (withOffset ? run.Offset[s].load() : 0.0);
    if (!std::isfinite(value)) return std::nullopt;
    return value;
}

// A scaled value for the slot, done for this cycle.
inline void StoreValue(RunState& run, int s, double value) {
    run.Value[s] = value;
    run.ValueError[s] = false;
    run.ValueReady[s] = true;
    run.SlotState[s] = SlotStage::Read;
}

// Slot d is served by the same instrument as slot s (same type on the same
// COM port) and has not been read in this cycle yet.
inline bool IsOpenSibling(const RunState& run, int d, int s) {
    return run.DeviceType[d].load() == run.DeviceType[s].load() &&
           run.Port[d].load() == run.Port[s].load() && run.SlotState[d].load() != SlotStage::Read;
}

}  // namespace readers
}  // namespace karvelo::serial
